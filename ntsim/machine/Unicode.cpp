#include "Unicode.h"

#include <cstdint>

namespace ntsim {

namespace {

struct CaseRange {
    char16_t first;
    char16_t last;
    int delta;     // upper = lower + delta, for every character of the range
    bool pairs;    // alternate: upper at even offsets from first, lower after it
};

// Lower-case ranges and how far their upper cases lie.
const CaseRange lowerRanges[] = {
    { 0x0061, 0x007A, -32, false },
    { 0x00E0, 0x00F6, -32, false },
    { 0x00F8, 0x00FE, -32, false },
    { 0x0100, 0x012F, 0, true },
    { 0x0132, 0x0137, 0, true },
    { 0x0139, 0x0148, 0, true },
    { 0x014A, 0x0177, 0, true },
    { 0x0179, 0x017E, 0, true },
    { 0x0182, 0x0185, 0, true },
    { 0x01A0, 0x01A5, 0, true },
    { 0x01CD, 0x01DC, 0, true },
    { 0x01DE, 0x01EF, 0, true },
    { 0x01F8, 0x021F, 0, true },
    { 0x03B1, 0x03C1, -32, false },
    { 0x03C3, 0x03CB, -32, false },
    { 0x03AD, 0x03AF, -37, false },
    { 0x03CD, 0x03CE, -63, false },
    { 0x03E2, 0x03EF, 0, true },
    { 0x0430, 0x044F, -32, false },
    { 0x0450, 0x045F, -80, false },
    { 0x0460, 0x0481, 0, true },
    { 0x0490, 0x04BF, 0, true },
    { 0x04D0, 0x04F5, 0, true },
    { 0x0561, 0x0586, -48, false },
    { 0x1E00, 0x1E95, 0, true },
    { 0x1EA0, 0x1EF9, 0, true },
    { 0x2170, 0x217F, -16, false },
    { 0x24D0, 0x24E9, -26, false },
    { 0xFF41, 0xFF5A, -32, false },
};

// Single characters whose other case lies elsewhere: lower, upper.
const char16_t lowerSingles[][2] = {
    { 0x00FF, 0x0178 },
    { 0x03AC, 0x0386 },
    { 0x03C2, 0x03A3 },
    { 0x03CC, 0x038C },
};

void putUtf8(std::string& out, char16_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isContinuation(unsigned char b)
{
    return (b & 0xC0) == 0x80;
}

}

char16_t upperCase(char16_t c)
{
    if (c < 0x80)
        return c >= 'a' && c <= 'z' ? static_cast<char16_t>(c - 32) : c;
    for (auto& single : lowerSingles)
        if (single[0] == c)
            return single[1];
    for (auto& range : lowerRanges) {
        if (c < range.first || c > range.last)
            continue;
        if (range.pairs)
            return (c - range.first) % 2 ? static_cast<char16_t>(c - 1) : c;
        return static_cast<char16_t>(c + range.delta);
    }
    return c;
}

char16_t lowerCase(char16_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? static_cast<char16_t>(c + 32) : c;
    for (auto& single : lowerSingles)
        if (single[1] == c && single[0] != 0x03C2) // capital sigma lowers to the medial form
            return single[0];
    for (auto& range : lowerRanges) {
        if (range.pairs) {
            if (c >= range.first && c <= range.last && (c - range.first) % 2 == 0)
                return static_cast<char16_t>(c + 1);
            continue;
        }
        int lower = c - range.delta;
        if (lower >= range.first && lower <= range.last)
            return static_cast<char16_t>(lower);
    }
    return c;
}

std::string utf16ToUtf8(const char16_t* text, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i)
        putUtf8(out, text[i]);
    return out;
}

std::string utf16ToUtf8(const std::u16string& text)
{
    return utf16ToUtf8(text.data(), text.size());
}

std::u16string utf8ToUtf16(const std::string& text)
{
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
            ++i;
            continue;
        }
        size_t length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
        bool whole = length && i + length <= text.size();
        for (size_t k = 1; whole && k < length; ++k)
            whole = isContinuation(static_cast<unsigned char>(text[i + k]));
        if (!whole) {
            out += u'\xFFFD';
            ++i;
            continue;
        }
        uint32_t code = b & (0x7F >> length);
        for (size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        if (code >= 0x10000) {
            // Written by others as one sequence: the pair of units it stands for.
            code -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (code >> 10));
            out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
        } else {
            out += static_cast<char16_t>(code);
        }
        i += length;
    }
    return out;
}

size_t utf16Length(const std::string& text)
{
    size_t units = 0;
    for (unsigned char b : text) {
        if (!isContinuation(b))
            ++units;
        if (b >= 0xF0)
            ++units;
    }
    return units;
}

std::string upperUtf8(const std::string& text)
{
    bool ascii = true;
    std::string out = text;
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80)
            ascii = false;
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
    }
    if (ascii)
        return out;
    std::u16string units = utf8ToUtf16(text);
    for (char16_t& c : units)
        c = upperCase(c);
    return utf16ToUtf8(units);
}

bool equalsNoCaseUtf8(const std::string& a, const std::string& b)
{
    return upperUtf8(a) == upperUtf8(b);
}

size_t wideLength(const char16_t* text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

}
