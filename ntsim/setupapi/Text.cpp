#include "Text.h"

#include "kernel32/CodePage.h"

#include <cstring>

namespace ntsim::setupapi {

namespace {

bool isAscii(std::string_view text)
{
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

void appendUtf8(char32_t c, std::string& out)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The code point at text[i], moving i past it; a byte that begins no valid
// sequence stands for itself, so that no input is lost or read past.
char32_t nextCodePoint(std::string_view text, size_t& i)
{
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
    if (length <= 1 || i + length > text.size()) {
        ++i;
        return length == 1 ? lead : 0xFFFD;
    }
    char32_t c = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        c = (c << 6) | (byte(i + k) & 0x3F);
    }
    i += length;
    return c;
}

}

std::string fromWide(std::u16string_view wide)
{
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        }
        appendUtf8(c, out);
    }
    return out;
}

std::u16string toWide(std::string_view utf8)
{
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        char32_t c = nextCodePoint(utf8, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

std::string fromAnsi(std::string_view ansi)
{
    if (isAscii(ansi))
        return std::string(ansi);
    std::u16string wide;
    toUtf16(std::string(ansi), ansiCodePage(), wide);
    return fromWide(wide);
}

std::string toAnsi(std::string_view utf8)
{
    if (isAscii(utf8))
        return std::string(utf8);
    std::string out;
    fromUtf16(toWide(utf8), ansiCodePage(), out);
    return out;
}

std::string argument(PCSTR text)
{
    return text ? fromAnsi(text) : std::string();
}

std::string argument(PCWSTR text)
{
    if (!text)
        return {};
    size_t length = 0;
    while (text[length])
        ++length;
    return fromWide(std::u16string_view(text, length));
}

const std::string* optionalArgument(PCSTR text, std::string& storage)
{
    if (!text)
        return nullptr;
    storage = argument(text);
    return &storage;
}

const std::string* optionalArgument(PCWSTR text, std::string& storage)
{
    if (!text)
        return nullptr;
    storage = argument(text);
    return &storage;
}

DWORD copyText(std::string_view utf8, const TextBuffer& buffer, PDWORD required)
{
    if (buffer.charset == Charset::Ansi) {
        std::string text = toAnsi(utf8);
        DWORD needed = static_cast<DWORD>(text.size() + 1);
        if (required)
            *required = needed;
        if (!buffer.data)
            return NO_ERROR;
        if (buffer.size < needed)
            return ERROR_INSUFFICIENT_BUFFER;
        std::memcpy(buffer.data, text.c_str(), needed);
        return NO_ERROR;
    }
    std::u16string text = toWide(utf8);
    DWORD needed = static_cast<DWORD>(text.size() + 1);
    if (required)
        *required = needed;
    if (!buffer.data)
        return NO_ERROR;
    if (buffer.size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer.data, text.c_str(), needed * sizeof(char16_t));
    return NO_ERROR;
}

}
