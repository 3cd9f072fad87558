#include "DeskFormat.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdio>

namespace windesk {

std::string lowered(const std::string& text)
{
    std::string out = text;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

namespace {

std::string trimmed(const std::string& text)
{
    size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

const char* const plainAnswers[] = { "ok", "cancel", "yes", "no", "retry", "abort", "ignore", "skip", "next",
    "back", "finish", "help" };

bool knownAnswer(const std::string& answer)
{
    for (const char* a : plainAnswers) {
        if (answer == a)
            return true;
    }
    return answer.compare(0, 7, "select ") == 0 && answer.size() > 7;
}

}

bool parseScriptLine(const std::string& text, int number, ScriptLine& line, std::string& error)
{
    error.clear();
    std::string rest = trimmed(text);
    if (rest.empty() || rest[0] == '#')
        return false;
    line = ScriptLine {};
    line.number = number;
    if (rest[0] == '@') {
        line.addressed = true;
        size_t at = 1;
        if (at < rest.size() && rest[at] == '"') {
            // A quoted title; "" inside it is one quote.
            bool closed = false;
            for (++at; at < rest.size(); ++at) {
                if (rest[at] != '"') {
                    line.title += rest[at];
                } else if (at + 1 < rest.size() && rest[at + 1] == '"') {
                    line.title += '"';
                    ++at;
                } else {
                    closed = true;
                    ++at;
                    break;
                }
            }
            if (!closed) {
                error = "line " + std::to_string(number) + ": the title has no closing quote";
                return false;
            }
        } else {
            size_t end = rest.find_first_of(" \t", at);
            line.title = rest.substr(at, end == std::string::npos ? std::string::npos : end - at);
            at = end == std::string::npos ? rest.size() : end;
        }
        line.title = lowered(line.title);
        rest = trimmed(rest.substr(at));
    }
    // Words of a select answer are kept as written, apart from case and
    // the spaces around them.
    line.answer = lowered(rest);
    if (line.answer.compare(0, 6, "select") == 0 && line.answer.size() > 6 && std::isspace(static_cast<unsigned char>(line.answer[6])))
        line.answer = "select " + trimmed(line.answer.substr(7));
    if (!knownAnswer(line.answer)) {
        error = "line " + std::to_string(number) + ": \"" + rest + "\" is not an answer";
        return false;
    }
    return true;
}

std::string jsonString(const std::string& utf8)
{
    std::string out = "\"";
    for (unsigned char c : utf8) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

uint32_t crc32(const uint8_t* data, size_t size, uint32_t crc)
{
    static uint32_t table[256];
    static bool made = false;
    if (!made) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        made = true;
    }
    crc = ~crc;
    for (size_t i = 0; i < size; ++i)
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

uint32_t adler32(const uint8_t* data, size_t size, uint32_t adler)
{
    constexpr uint32_t modulus = 65521;
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    for (size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % modulus;
        b = (b + a) % modulus;
    }
    return b << 16 | a;
}

namespace {

void putBig32(std::vector<uint8_t>& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<uint8_t>(v >> shift));
}

void putChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data)
{
    putBig32(out, static_cast<uint32_t>(data.size()));
    size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBig32(out, crc32(out.data() + start, out.size() - start));
}

}

std::vector<uint8_t> encodePng(uint32_t width, uint32_t height, const std::vector<uint8_t>& rgb)
{
    // Each row starts with filter type 0 (none).
    size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> raw;
    raw.reserve((rowBytes + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        raw.push_back(0);
        auto row = rgb.begin() + static_cast<std::ptrdiff_t>(y * rowBytes);
        raw.insert(raw.end(), row, row + static_cast<std::ptrdiff_t>(rowBytes));
    }

    std::vector<uint8_t> zlib = { 0x78, 0x01 };
    size_t at = 0;
    do {
        size_t length = std::min<size_t>(raw.size() - at, 65535);
        bool last = at + length == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(length));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length));
        zlib.push_back(static_cast<uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
            raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    putBig32(zlib, adler32(raw.data(), raw.size()));

    std::vector<uint8_t> header;
    putBig32(header, width);
    putBig32(header, height);
    header.insert(header.end(), { 8, 2, 0, 0, 0 }); // 8 bits, RGB, deflate, no filter choice, no interlace

    std::vector<uint8_t> png = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    putChunk(png, "IHDR", header);
    putChunk(png, "IDAT", zlib);
    putChunk(png, "IEND", {});
    return png;
}

}
