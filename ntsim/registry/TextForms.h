// Text as the registry's callers hand it over and take it back: names,
// and the strings of value data, which the store keeps in UTF-8 and
// UTF-16LE (Value.h). Each form is a type with the same members, so that a
// call is written once over its form's text.
#pragma once
#include "Value.h"

#include "machine/CodePage.h"
#include "machine/Unicode.h"

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::registry {

// The W forms: UTF-16, value data as stored.
struct WideText {
    using Char = WCHAR;
    using String = std::u16string;

    static std::string name(const Char* text) { return text ? utf16ToUtf8(text, wideLength(text)) : std::string(); }
    static String out(const std::string& utf8) { return utf8ToUtf16(utf8); }
    static std::vector<BYTE> dataIn(DWORD, const BYTE* data, size_t size)
    {
        return data ? std::vector<BYTE>(data, data + size) : std::vector<BYTE>();
    }
    static std::vector<BYTE> dataOut(const ValueData& value) { return value.data; }
    static size_t length(const Char* text) { return wideLength(text); }
    static constexpr bool clearsType = false;
};

// The A forms: the machine's ANSI code page, strings of value data too.
struct AnsiText {
    using Char = char;
    using String = std::string;

    static std::string name(const Char* text)
    {
        if (!text)
            return {};
        size_t length = std::strlen(text);
        if (isAscii(text, length))
            return std::string(text, length);
        std::u16string units;
        decodeText(text, length, ansiCodePage(), units);
        return utf16ToUtf8(units);
    }
    static String out(const std::string& utf8)
    {
        if (isAscii(utf8.data(), utf8.size()))
            return utf8;
        std::u16string units = utf8ToUtf16(utf8);
        std::string ansi;
        encodeText(units.data(), units.size(), ansiCodePage(), "?", ansi);
        return ansi;
    }
    static std::vector<BYTE> dataIn(DWORD type, const BYTE* data, size_t size)
    {
        if (!data)
            return {};
        if (isStringType(type))
            return storedFromAnsi(data, size, ansiCodePage());
        return std::vector<BYTE>(data, data + size);
    }
    static std::vector<BYTE> dataOut(const ValueData& value)
    {
        if (isStringType(value.type))
            return ansiFromStored(value.data.data(), value.data.size(), ansiCodePage());
        return value.data;
    }
    static size_t length(const Char* text) { return std::strlen(text); }
    // NT leaves the type of a failed A call undefined; REG_NONE says so.
    static constexpr bool clearsType = true;
};

// The platform's own code that keeps its text in UTF-8 (the service
// controller, whose W forms lose nothing).
struct Utf8Text {
    using Char = char;
    using String = std::string;

    static std::string name(const Char* text)
    {
        if (!text)
            return {};
        size_t length = std::strlen(text);
        return isAscii(text, length) ? std::string(text, length) : utf16ToUtf8(utf8ToUtf16(text));
    }
    static String out(const std::string& utf8) { return utf8; }
    static std::vector<BYTE> dataIn(DWORD type, const BYTE* data, size_t size)
    {
        if (!data)
            return {};
        if (isStringType(type))
            return storedFromUtf8(std::string(reinterpret_cast<const char*>(data), size));
        return std::vector<BYTE>(data, data + size);
    }
    static std::vector<BYTE> dataOut(const ValueData& value)
    {
        if (!isStringType(value.type))
            return value.data;
        std::string text = utf8FromStored(value.data);
        return std::vector<BYTE>(text.begin(), text.end());
    }
    static size_t length(const Char* text) { return std::strlen(text); }
    static constexpr bool clearsType = false;
};

// A text that may be missing, as the operations take it.
template<typename Text>
std::optional<std::string> optionalName(const typename Text::Char* text)
{
    if (!text)
        return std::nullopt;
    return Text::name(text);
}

}
