#include "Json.h"

namespace ntsim {

bool parseJson(const std::string& text, Json& out, std::string& error)
{
    try {
        out = Json::parse(text);
        return true;
    } catch (const Json::parse_error& e) {
        // The library's text starts with its own exception id.
        std::string what = e.what();
        size_t end = what.find("] ");
        error = end == std::string::npos ? what : what.substr(end + 2);
        return false;
    }
}

std::string dumpLine(const Json& j)
{
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string dumpPretty(const Json& j)
{
    return j.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

const Json& member(const Json& j, const char* key)
{
    static const Json null;
    if (!j.is_object())
        return null;
    auto it = j.find(key);
    return it == j.end() ? null : *it;
}

std::string stringMember(const Json& j, const char* key, const std::string& fallback)
{
    const Json& m = member(j, key);
    return m.is_string() ? m.get<std::string>() : fallback;
}

int64_t intMember(const Json& j, const char* key, int64_t fallback)
{
    const Json& m = member(j, key);
    return m.is_number_integer() ? m.get<int64_t>() : fallback;
}

bool boolMember(const Json& j, const char* key, bool fallback)
{
    const Json& m = member(j, key);
    return m.is_boolean() ? m.get<bool>() : fallback;
}

Json bytesJson(const std::string& bytes)
{
    std::string utf8;
    utf8.reserve(bytes.size());
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string bytesOf(const Json& j)
{
    std::string out;
    if (!j.is_string())
        return out;
    const std::string& utf8 = j.get_ref<const std::string&>();
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c == 0xC2 || c == 0xC3) && i + 1 < utf8.size()) {
            out += static_cast<char>(((c & 0x03) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3F));
            ++i;
        }
        // Anything else was never written by bytesJson: it is dropped.
    }
    return out;
}

}
