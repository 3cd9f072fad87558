#include "RegistryText.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ntsim::registry {

namespace {

bool isPlainText(const std::vector<BYTE>& data)
{
    if (data.empty() || data.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < data.size(); ++i)
        if (data[i] < 0x20 || data[i] == 0x7F)
            return false;
    return true;
}

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hexBytes(const std::string& prefix, const std::vector<BYTE>& data)
{
    std::string out = prefix;
    size_t lineLength = prefix.size();
    for (size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", data[i]);
        out += byte;
        lineLength += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++lineLength;
            if (lineLength > 76) {
                out += "\\\n  ";
                lineLength = 2;
            }
        }
    }
    return out;
}

std::string formatValue(const Value& v)
{
    std::string line = v.name.empty() ? "@=" : quoted(v.name) + "=";
    if (v.type == REG_SZ && isPlainText(v.data))
        return line + quoted(std::string(v.data.begin(), v.data.end() - 1));
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (DWORD(v.data[3]) << 24);
        char text[20];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(d));
        return line + text;
    }
    if (v.type == REG_BINARY)
        return hexBytes(line + "hex:", v.data);
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.type));
    return hexBytes(line + prefix, v.data);
}

// Reads a quoted string at pos; pos ends after the closing quote.
bool readQuoted(const std::string& line, size_t& pos, std::string& out)
{
    if (pos >= line.size() || line[pos] != '"')
        return false;
    ++pos;
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == '"')
            return true;
        if (c == '\\' && pos < line.size() && (line[pos] == '\\' || line[pos] == '"'))
            c = line[pos++];
        out += c;
    }
    return false;
}

bool readHex(const std::string& text, std::vector<BYTE>& out)
{
    out.clear();
    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t' || text[pos] == ','))
            ++pos;
        if (pos >= text.size())
            break;
        size_t start = pos;
        while (pos < text.size() && std::isxdigit(static_cast<unsigned char>(text[pos])))
            ++pos;
        if (pos == start || pos - start > 2)
            return false;
        out.push_back(static_cast<BYTE>(std::strtoul(text.substr(start, pos - start).c_str(), nullptr, 16)));
        if (pos < text.size() && text[pos] != ',' && text[pos] != ' ' && text[pos] != '\t')
            return false;
    }
    return true;
}

bool parseValueData(const std::string& text, TextValue& value)
{
    if (text == "-") {
        value.remove = true;
        return true;
    }
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string s;
        if (!readQuoted(text, pos, s) || pos != text.size())
            return false;
        value.type = REG_SZ;
        value.data.assign(s.begin(), s.end());
        value.data.push_back(0);
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        std::string digits = text.substr(6);
        char* end = nullptr;
        unsigned long d = std::strtoul(digits.c_str(), &end, 16);
        if (digits.empty() || digits.size() > 8 || !end || *end)
            return false;
        value.type = REG_DWORD;
        value.data = { BYTE(d), BYTE(d >> 8), BYTE(d >> 16), BYTE(d >> 24) };
        return true;
    }
    if (text.compare(0, 4, "hex:") == 0) {
        value.type = REG_BINARY;
        return readHex(text.substr(4), value.data);
    }
    if (text.compare(0, 4, "hex(") == 0) {
        size_t close = text.find("):", 4);
        if (close == std::string::npos)
            return false;
        std::string type = text.substr(4, close - 4);
        char* end = nullptr;
        unsigned long t = std::strtoul(type.c_str(), &end, 16);
        if (type.empty() || !end || *end)
            return false;
        value.type = static_cast<DWORD>(t);
        return readHex(text.substr(close + 2), value.data);
    }
    return false;
}

std::string trimRight(std::string s)
{
    while (!s.empty() && (s.back() == '\r' || s.back() == ' ' || s.back() == '\t'))
        s.pop_back();
    return s;
}

}

bool parseRegText(const std::string& text, RegText& out, std::string& error)
{
    out = RegText {};
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos)
            nl = text.size();
        lines.push_back(trimRight(text.substr(pos, nl - pos)));
        pos = nl + 1;
    }
    bool sawSignature = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = lines[i];
        size_t lineNumber = i + 1;
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos)
            continue;
        line = line.substr(first);
        if (!sawSignature) {
            if (line != "REGEDIT4") {
                error = "line " + std::to_string(lineNumber) + ": expected REGEDIT4";
                return false;
            }
            sawSignature = true;
            continue;
        }
        if (line[0] == ';') {
            if (line.compare(0, 6, ";sddl=") == 0 && !out.keys.empty()) {
                out.keys.back().sddl = line.substr(6);
            } else if (line.compare(0, 7, ";class=") == 0 && !out.keys.empty()) {
                out.keys.back().className = line.substr(7);
            } else if (line.compare(0, 12, ";ntsim-hive ") == 0) {
                std::string rest = line.substr(12);
                size_t at = 0;
                while (at < rest.size()) {
                    size_t space = rest.find(' ', at);
                    std::string item = rest.substr(at, space == std::string::npos ? std::string::npos : space - at);
                    size_t eq = item.find('=');
                    if (eq != std::string::npos)
                        out.header.emplace_back(item.substr(0, eq), item.substr(eq + 1));
                    if (space == std::string::npos)
                        break;
                    at = space + 1;
                }
            }
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                error = "line " + std::to_string(lineNumber) + ": key header without ']'";
                return false;
            }
            TextKey key;
            key.path = line.substr(1, line.size() - 2);
            if (!key.path.empty() && key.path[0] == '-') {
                key.remove = true;
                key.path = key.path.substr(1);
            }
            if (key.path.empty()) {
                error = "line " + std::to_string(lineNumber) + ": empty key name";
                return false;
            }
            out.keys.push_back(std::move(key));
            continue;
        }
        if (out.keys.empty()) {
            error = "line " + std::to_string(lineNumber) + ": value outside a key";
            return false;
        }
        // Hex data goes on over lines that end with a backslash.
        while (line.size() >= 1 && line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
            line.pop_back();
            std::string next = lines[++i];
            size_t start = next.find_first_not_of(" \t");
            line += start == std::string::npos ? "" : next.substr(start);
        }
        TextValue value;
        size_t at = 0;
        if (line[0] == '@') {
            at = 1;
        } else if (!readQuoted(line, at, value.name)) {
            error = "line " + std::to_string(lineNumber) + ": expected a quoted value name";
            return false;
        }
        if (at >= line.size() || line[at] != '=') {
            error = "line " + std::to_string(lineNumber) + ": expected '=' after the value name";
            return false;
        }
        if (!parseValueData(line.substr(at + 1), value)) {
            error = "line " + std::to_string(lineNumber) + ": cannot read the value's data";
            return false;
        }
        out.keys.back().values.push_back(std::move(value));
    }
    if (!sawSignature) {
        error = "not a REGEDIT4 file";
        return false;
    }
    return true;
}

std::string formatKey(const Key& key)
{
    std::string out = "[" + key.path() + "]\n;sddl=" + key.security.toSddl() + "\n";
    if (!key.className.empty())
        out += ";class=" + key.className + "\n";
    for (auto& v : key.values())
        out += formatValue(v) + "\n";
    return out;
}

std::string formatSubtree(const Key& key)
{
    std::string out = formatKey(key) + "\n";
    for (auto& sub : key.subkeys())
        out += formatSubtree(*sub);
    return out;
}

}
