#include "Text.h"

#include "Value.h"

#include "machine/CodePage.h"
#include "machine/NtPath.h"
#include "machine/Unicode.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

namespace ntsim::registry {

namespace {

bool isControl(char16_t c)
{
    return c < 0x20 || c == 0x7F;
}

bool isSurrogate(char16_t c)
{
    return c >= 0xD800 && c <= 0xDFFF;
}

// Text with a terminator and nothing a quoted string cannot hold.
bool isPlainText(const std::u16string& units)
{
    if (units.empty() || units.back() != 0)
        return false;
    for (size_t i = 0; i + 1 < units.size(); ++i)
        if (isControl(units[i]))
            return false;
    return true;
}

// Stored string data that UTF-8 carries back unchanged.
bool isPortableText(const std::vector<BYTE>& data, const std::u16string& units)
{
    if (data.size() % 2)
        return false;
    for (char16_t c : units)
        if (isSurrogate(c))
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

// A value's line. String data is written as UTF-8 text (quoted, or its
// bytes in hex for the other string types); string data that UTF-8 cannot
// carry back follows a ";stored" line, its bytes as the registry keeps them.
std::string formatValue(const ValueRecord& v)
{
    std::string line = v.name.empty() ? "@=" : quoted(v.name) + "=";
    if (isStringType(v.type)) {
        std::u16string units = storedUnits(v.data.data(), v.data.size());
        char prefix[24];
        std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(v.type));
        if (!isPortableText(v.data, units))
            return ";stored\n" + hexBytes(line + prefix, v.data);
        if (v.type == REG_SZ && isPlainText(units))
            return line + quoted(utf16ToUtf8(units.data(), units.size() - 1));
        std::string text = utf16ToUtf8(units);
        return hexBytes(line + prefix, std::vector<BYTE>(text.begin(), text.end()));
    }
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

bool allHex(const std::string& text)
{
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
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
        if (digits.empty() || digits.size() > 8 || !allHex(digits))
            return false;
        unsigned long d = std::strtoul(digits.c_str(), nullptr, 16);
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
        if (type.empty() || type.size() > 8 || !allHex(type))
            return false;
        unsigned long t = std::strtoul(type.c_str(), nullptr, 16);
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

namespace {

// Whether every byte sequence of the text is UTF-8.
bool isUtf8(const std::string& text)
{
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        size_t length = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
        if (!length || (length > 1 && b < 0xC2) || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The text of a file as the registry keeps it: names in UTF-8, string
// data in UTF-16LE.
class FileText {
public:
    FileText(bool utf8, unsigned codePage)
        : m_utf8(utf8)
        , m_codePage(codePage)
    {
    }

    std::string name(const std::string& bytes) const
    {
        if (isAscii(bytes.data(), bytes.size()))
            return bytes;
        if (m_utf8)
            return utf16ToUtf8(utf8ToUtf16(bytes));
        std::u16string units;
        decodeText(bytes.data(), bytes.size(), m_codePage, units);
        return utf16ToUtf8(units);
    }

    std::vector<BYTE> stringData(const std::vector<BYTE>& bytes) const
    {
        if (m_utf8)
            return storedFromUtf8(std::string(bytes.begin(), bytes.end()));
        return storedFromAnsi(bytes.data(), bytes.size(), m_codePage);
    }

private:
    bool m_utf8;
    unsigned m_codePage;
};

}

bool parseRegText(const std::string& text, unsigned ansiCodePage, RegText& out, std::string& error)
{
    out = RegText {};
    FileText fileText(isUtf8(text), ansiCodePage);
    bool stored = false;
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
                out.keys.back().className = fileText.name(line.substr(7));
            } else if (line == ";stored") {
                stored = true;
            }
            continue;
        }
        if (line[0] == '[') {
            if (line.back() != ']') {
                error = "line " + std::to_string(lineNumber) + ": key header without ']'";
                return false;
            }
            stored = false;
            TextKey key;
            key.path = fileText.name(line.substr(1, line.size() - 2));
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
        value.name = fileText.name(value.name);
        if (isStringType(value.type) && !stored)
            value.data = fileText.stringData(value.data);
        stored = false;
        out.keys.back().values.push_back(std::move(value));
    }
    if (!sawSignature) {
        error = "not a REGEDIT4 file";
        return false;
    }
    return true;
}

namespace {

// A name the text cannot hold: a control character, or a lone surrogate
// that UTF-8 cannot carry.
bool hasControlCharacter(const std::string& s)
{
    for (char16_t c : utf8ToUtf16(s))
        if (isControl(c) || isSurrogate(c))
            return true;
    return false;
}

// What REGEDIT4 cannot hold, shown so that a person sees it is there.
std::string shown(const std::string& s)
{
    std::string out;
    for (char16_t c : utf8ToUtf16(s)) {
        if (isControl(c) || isSurrogate(c)) {
            char code[12];
            std::snprintf(code, sizeof code, c < 0x100 ? "<%02X>" : "<%04X>", static_cast<unsigned>(c));
            out += code;
        } else {
            out += utf16ToUtf8(&c, 1);
        }
    }
    return out;
}

std::string formatKey(Store& store, const KeyRecord& key, const std::string& path)
{
    std::string out = "[" + path + "]\n;sddl=" + key.security->toSddl() + "\n";
    if (hasControlCharacter(key.className))
        out += "; its class " + shown(key.className) + " is not written: it holds a control character\n";
    else if (!key.className.empty())
        out += ";class=" + key.className + "\n";
    for (auto& v : store.values(key.id)) {
        if (hasControlCharacter(v.name))
            out += "; the value " + shown(v.name) + " is not written: its name holds a control character\n";
        else
            out += formatValue(v) + "\n";
    }
    return out + "\n";
}

}

void exportSubtree(Store& store, const KeyRecord& top, const std::function<void(const std::string&)>& out)
{
    struct Pending {
        KeyRecord key;
        std::string path;
    };
    std::vector<Pending> stack;
    stack.push_back({ top, store.path(top) });
    while (!stack.empty()) {
        Pending next = std::move(stack.back());
        stack.pop_back();
        if (hasControlCharacter(next.key.name)) {
            out("; the key " + shown(next.path) + " is not written, nor what is below it: its name holds a control character\n\n");
            continue;
        }
        out(formatKey(store, next.key, next.path));
        auto children = store.subkeys(next.key.id);
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            stack.push_back({ *it, next.path + "\\" + it->name });
    }
}

std::string exportSubtree(Store& store, const KeyRecord& key)
{
    std::string text;
    exportSubtree(store, key, [&](const std::string& part) { text += part; });
    return text;
}

namespace {

// The descriptor the text gives a key, or the one the system gives a key
// it creates below parent.
security::SecurityDescriptor descriptorFor(const std::optional<std::string>& sddl, const std::string& path,
    const KeyRecord& parent, ImportAs as, std::string& error)
{
    if (sddl) {
        auto sd = security::SecurityDescriptor::fromSddl(*sddl);
        if (!sd || sd->owner.empty())
            error = path + ": bad descriptor '" + *sddl + "' (it needs an owner and a DACL)";
        return sd ? *sd : security::SecurityDescriptor {};
    }
    security::SecurityDescriptor sd = security::inheritedDescriptor(*parent.security, Token::system());
    if (as == ImportAs::DefaultMachine)
        sd.owner = parent.security->owner;
    return sd;
}

std::optional<KeyRecord> rootOf(Store& store, const std::string& name)
{
    if (equalsNoCase(name, "HKEY_LOCAL_MACHINE"))
        return store.key(machineRoot);
    if (equalsNoCase(name, "HKEY_USERS"))
        return store.key(usersRoot);
    return std::nullopt;
}

}

LONG importText(Store& store, const RegText& text, ImportAs as, std::string& error)
{
    for (auto& textKey : text.keys) {
        auto names = splitKeyPath(textKey.path);
        std::optional<KeyRecord> key = names.empty() ? std::nullopt : rootOf(store, names[0]);
        if (!key) {
            error = textKey.path + ": not below HKEY_LOCAL_MACHINE or HKEY_USERS";
            return ERROR_BAD_PATHNAME;
        }
        if (textKey.remove) {
            auto existing = store.find(textKey.path);
            if (existing && existing->inHive() && !existing->isHiveRoot())
                store.deleteTree(*existing);
            continue;
        }
        bool created = false;
        for (size_t i = 1; i < names.size(); ++i) {
            auto next = store.subkey(key->id, names[i]);
            if (!next) {
                if (!key->inHive() && as != ImportAs::DefaultMachine) {
                    error = textKey.path + " is not in a hive of the machine";
                    return ERROR_ACCESS_DENIED;
                }
                bool last = i + 1 == names.size();
                auto sd = descriptorFor(last ? textKey.sddl : std::nullopt, textKey.path, *key, as, error);
                if (!error.empty())
                    return ERROR_INVALID_SECURITY_DESCR;
                next = store.createKey(*key, names[i], sd, last ? textKey.className : "");
                created = last;
            }
            key = std::move(next);
        }
        if (!key->inHive()) {
            error = textKey.path + " is not in a hive of the machine";
            return ERROR_ACCESS_DENIED;
        }
        if (textKey.sddl && !created) {
            auto sd = descriptorFor(textKey.sddl, textKey.path, *key, as, error);
            if (!error.empty())
                return ERROR_INVALID_SECURITY_DESCR;
            store.setSecurity(key->id, sd);
        }
        for (auto& v : textKey.values) {
            if (v.remove)
                store.deleteValue(key->id, v.name);
            else
                store.setValue(key->id, v.name, v.type, v.data.data(), v.data.size());
        }
    }
    return ERROR_SUCCESS;
}

}
