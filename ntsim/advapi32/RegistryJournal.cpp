#include "RegistryJournal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ntsim::registry {

namespace {

uint32_t crc32(const char* data, size_t size)
{
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        made = true;
    }
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ static_cast<uint8_t>(data[i])) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

// Fields are separated by blanks: blanks, controls, '%' and '-' are
// written as %XX, and an empty field as a lone '-'.
std::string escapeField(const std::string& field)
{
    if (field.empty())
        return "-";
    std::string out;
    for (unsigned char c : field) {
        if (c <= 0x20 || c >= 0x7F || c == '%' || c == '-') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool unescapeField(const std::string& text, std::string& out)
{
    out.clear();
    if (text == "-")
        return true;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return false;
        char hex[3] = { text[i + 1], text[i + 2], 0 };
        char* end = nullptr;
        unsigned long v = std::strtoul(hex, &end, 16);
        if (!end || *end)
            return false;
        out += static_cast<char>(v);
        i += 2;
    }
    return true;
}

bool decodeLine(const std::string& line, JournalRecord& record)
{
    // "crc32 time op field..."
    if (line.size() < 12 || line[8] != ' ')
        return false;
    std::string crcText = line.substr(0, 8);
    char* end = nullptr;
    unsigned long crc = std::strtoul(crcText.c_str(), &end, 16);
    if (!end || *end)
        return false;
    std::string body = line.substr(9);
    if (crc32(body.data(), body.size()) != crc)
        return false;
    std::vector<std::string> parts;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t space = body.find(' ', pos);
        if (space == std::string::npos)
            space = body.size();
        parts.push_back(body.substr(pos, space - pos));
        pos = space + 1;
    }
    if (parts.size() < 2 || parts[1].size() != 1)
        return false;
    record.time = std::strtoull(parts[0].c_str(), nullptr, 10);
    record.op = static_cast<JournalRecord::Op>(parts[1][0]);
    record.fields.clear();
    for (size_t i = 2; i < parts.size(); ++i) {
        std::string field;
        if (!unescapeField(parts[i], field))
            return false;
        record.fields.push_back(field);
    }
    return true;
}

}

std::string encodeRecord(const JournalRecord& record)
{
    std::string body = std::to_string(record.time) + " " + static_cast<char>(record.op);
    for (auto& f : record.fields)
        body += " " + escapeField(f);
    char crc[12];
    std::snprintf(crc, sizeof crc, "%08x", crc32(body.data(), body.size()));
    return std::string(crc) + " " + body + "\n";
}

size_t decodeRecords(const char* data, size_t size, std::vector<JournalRecord>& out)
{
    size_t pos = 0;
    while (pos < size) {
        const void* nl = std::memchr(data + pos, '\n', size - pos);
        if (!nl)
            break;
        size_t end = static_cast<size_t>(static_cast<const char*>(nl) - data);
        JournalRecord record;
        if (decodeLine(std::string(data + pos, end - pos), record))
            out.push_back(std::move(record));
        pos = end + 1;
    }
    return pos;
}

std::string journalHeader(unsigned epoch) { return "NTSIM-REGISTRY-JOURNAL epoch=" + std::to_string(epoch) + "\n"; }

bool parseJournalHeader(const std::string& line, unsigned& epoch)
{
    const std::string prefix = "NTSIM-REGISTRY-JOURNAL epoch=";
    if (line.compare(0, prefix.size(), prefix) != 0)
        return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(line.c_str() + prefix.size(), &end, 10);
    if (!end || (*end && *end != '\n'))
        return false;
    epoch = static_cast<unsigned>(v);
    return true;
}

std::string toHex(const std::vector<uint8_t>& data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(data.size() * 2);
    for (uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool fromHex(const std::string& text, std::vector<uint8_t>& out)
{
    if (text.size() % 2)
        return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        char hex[3] = { text[i], text[i + 1], 0 };
        char* end = nullptr;
        unsigned long v = std::strtoul(hex, &end, 16);
        if (!end || *end)
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

}
