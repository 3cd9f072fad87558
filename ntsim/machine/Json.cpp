#include "Json.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ntsim {

namespace {

const Json& nullJson()
{
    static const Json null;
    return null;
}

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) { }

    bool parseDocument(Json& out)
    {
        skipBlanks();
        if (!parseValue(out, 0))
            return false;
        skipBlanks();
        if (m_pos != m_text.size())
            return fail("trailing text");
        return true;
    }

    std::string error;

private:
    static constexpr int maxDepth = 64;

    bool fail(const char* what)
    {
        error = std::string(what) + " at offset " + std::to_string(m_pos);
        return false;
    }

    void skipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t' || m_text[m_pos] == '\n' || m_text[m_pos] == '\r'))
            ++m_pos;
    }

    bool literal(const char* word)
    {
        size_t n = std::char_traits<char>::length(word);
        if (m_text.compare(m_pos, n, word) != 0)
            return false;
        m_pos += n;
        return true;
    }

    bool parseValue(Json& out, int depth)
    {
        if (depth > maxDepth)
            return fail("nesting too deep");
        if (m_pos >= m_text.size())
            return fail("unexpected end");
        char c = m_text[m_pos];
        if (c == '{')
            return parseObject(out, depth);
        if (c == '[')
            return parseArray(out, depth);
        if (c == '"') {
            std::string s;
            if (!parseString(s))
                return false;
            out = Json(std::move(s));
            return true;
        }
        if (literal("true")) { out = Json(true); return true; }
        if (literal("false")) { out = Json(false); return true; }
        if (literal("null")) { out = Json(); return true; }
        return parseNumber(out);
    }

    bool parseNumber(Json& out)
    {
        const char* begin = m_text.c_str() + m_pos;
        char* end = nullptr;
        double value = std::strtod(begin, &end);
        if (end == begin)
            return fail("expected a value");
        m_pos += static_cast<size_t>(end - begin);
        out = Json(value);
        return true;
    }

    static void appendUtf8(std::string& s, uint32_t cp)
    {
        if (cp < 0x80) {
            s += static_cast<char>(cp);
        } else if (cp < 0x800) {
            s += static_cast<char>(0xC0 | (cp >> 6));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            s += static_cast<char>(0xE0 | (cp >> 12));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (cp >> 18));
            s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(uint32_t& v)
    {
        if (m_pos + 4 > m_text.size())
            return fail("short \\u escape");
        v = 0;
        for (int i = 0; i < 4; ++i) {
            char h = m_text[m_pos++];
            v <<= 4;
            if (h >= '0' && h <= '9') v |= static_cast<uint32_t>(h - '0');
            else if (h >= 'a' && h <= 'f') v |= static_cast<uint32_t>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') v |= static_cast<uint32_t>(h - 'A' + 10);
            else return fail("bad \\u escape");
        }
        return true;
    }

    bool parseString(std::string& s)
    {
        ++m_pos;
        while (m_pos < m_text.size()) {
            char c = m_text[m_pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                s += c;
                continue;
            }
            if (m_pos >= m_text.size())
                break;
            char e = m_text[m_pos++];
            switch (e) {
            case '"': s += '"'; break;
            case '\\': s += '\\'; break;
            case '/': s += '/'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp))
                    return false;
                if (cp >= 0xD800 && cp < 0xDC00 && m_text.compare(m_pos, 2, "\\u") == 0) {
                    m_pos += 2;
                    uint32_t low = 0;
                    if (!hex4(low))
                        return false;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(s, cp);
                break;
            }
            default:
                return fail("bad escape");
            }
        }
        return fail("unterminated string");
    }

    bool parseArray(Json& out, int depth)
    {
        ++m_pos;
        out = Json::array();
        skipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipBlanks();
            Json item;
            if (!parseValue(item, depth + 1))
                return false;
            out.push(std::move(item));
            skipBlanks();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') { ++m_pos; continue; }
            if (m_pos < m_text.size() && m_text[m_pos] == ']') { ++m_pos; return true; }
            return fail("expected , or ]");
        }
    }

    bool parseObject(Json& out, int depth)
    {
        ++m_pos;
        out = Json::object();
        skipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            skipBlanks();
            if (m_pos >= m_text.size() || m_text[m_pos] != '"')
                return fail("expected a member name");
            std::string key;
            if (!parseString(key))
                return false;
            skipBlanks();
            if (m_pos >= m_text.size() || m_text[m_pos] != ':')
                return fail("expected :");
            ++m_pos;
            skipBlanks();
            Json value;
            if (!parseValue(value, depth + 1))
                return false;
            out.set(key, std::move(value));
            skipBlanks();
            if (m_pos < m_text.size() && m_text[m_pos] == ',') { ++m_pos; continue; }
            if (m_pos < m_text.size() && m_text[m_pos] == '}') { ++m_pos; return true; }
            return fail("expected , or }");
        }
    }

    const std::string& m_text;
    size_t m_pos { 0 };
};

}

bool Json::parse(const std::string& text, Json& out, std::string& error)
{
    Parser parser(text);
    if (!parser.parseDocument(out)) {
        error = parser.error;
        return false;
    }
    return true;
}

bool Json::has(const std::string& key) const
{
    for (auto& member : m_members)
        if (member.first == key)
            return true;
    return false;
}

const Json& Json::operator[](const std::string& key) const
{
    for (auto& member : m_members)
        if (member.first == key)
            return member.second;
    return nullJson();
}

Json& Json::set(const std::string& key, Json value)
{
    m_kind = Kind::Object;
    for (auto& member : m_members) {
        if (member.first == key) {
            member.second = std::move(value);
            return member.second;
        }
    }
    m_members.emplace_back(key, std::move(value));
    return m_members.back().second;
}

void Json::erase(const std::string& key)
{
    for (auto it = m_members.begin(); it != m_members.end(); ++it) {
        if (it->first == key) {
            m_members.erase(it);
            return;
        }
    }
}

std::string jsonQuote(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    return out + "\"";
}

void Json::write(std::string& out, int indent, int depth) const
{
    auto newline = [&](int d) {
        if (indent <= 0)
            return;
        out += '\n';
        out.append(static_cast<size_t>(indent * d), ' ');
    };
    switch (m_kind) {
    case Kind::Null: out += "null"; break;
    case Kind::Bool: out += m_bool ? "true" : "false"; break;
    case Kind::Number: {
        char buf[32];
        if (std::floor(m_number) == m_number && std::fabs(m_number) < 1e15)
            std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(m_number));
        else
            std::snprintf(buf, sizeof buf, "%.17g", m_number);
        out += buf;
        break;
    }
    case Kind::String: out += jsonQuote(m_string); break;
    case Kind::Array:
        out += '[';
        for (size_t i = 0; i < m_items.size(); ++i) {
            if (i)
                out += ',';
            newline(depth + 1);
            m_items[i].write(out, indent, depth + 1);
        }
        if (!m_items.empty())
            newline(depth);
        out += ']';
        break;
    case Kind::Object:
        out += '{';
        for (size_t i = 0; i < m_members.size(); ++i) {
            if (i)
                out += ',';
            newline(depth + 1);
            out += jsonQuote(m_members[i].first);
            out += indent > 0 ? ": " : ":";
            m_members[i].second.write(out, indent, depth + 1);
        }
        if (!m_members.empty())
            newline(depth);
        out += '}';
        break;
    }
}

std::string Json::dump() const
{
    std::string out;
    write(out, 0, 0);
    return out;
}

std::string Json::pretty() const
{
    std::string out;
    write(out, 2, 0);
    return out + "\n";
}

}
