#include "Text.h"

#include "machine/CodePage.h"
#include "machine/Utf8.h"

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

}

std::string fromWide(std::u16string_view wide)
{
    return utf::utf8Of(wide);
}

std::u16string toWide(std::string_view utf8)
{
    return utf::utf16Of(utf8);
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

namespace {

// The text in the buffer's form, its NUL counted.
template<typename Encoded>
DWORD copyEncoded(const Encoded& text, const TextBuffer& buffer, PDWORD required)
{
    auto needed = static_cast<DWORD>(text.size() + 1);
    if (required)
        *required = needed;
    if (!buffer.data)
        return NO_ERROR;
    if (buffer.size < needed)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(buffer.data, text.c_str(), needed * sizeof(text[0]));
    return NO_ERROR;
}

}

DWORD copyText(std::string_view utf8, const TextBuffer& buffer, PDWORD required)
{
    if (buffer.charset == Charset::Ansi)
        return copyEncoded(toAnsi(utf8), buffer, required);
    return copyEncoded(toWide(utf8), buffer, required);
}

}
