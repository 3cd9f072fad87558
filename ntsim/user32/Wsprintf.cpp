// wsprintfA and wsprintfW: user32's own small formatter, without floating
// point, into a buffer of at most 1024 characters. One formatter serves
// both: %s and %c take the form's own text, %S and %C the other form's,
// and the h and l prefixes name ANSI and wide text whatever the form.
#include <windows.h>

#include "machine/ApiCall.h"
#include "machine/CodePage.h"
#include "machine/Unicode.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <string>
#include <type_traits>

namespace {

constexpr size_t wsprintfLimit = 1024;

struct Spec {
    bool left { false };
    bool alternate { false };
    bool zero { false };
    size_t width { 0 };
    bool hasPrecision { false };
    size_t precision { 0 };
    char size { 0 }; // 'h', 'l' or 0
};

template<typename Char>
using Text = std::basic_string<Char>;

std::string digits(uint64_t value, unsigned base, bool upper)
{
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), set[value % base]);
        value /= base;
    } while (value);
    return out;
}

// Text of either form as the formatting form's; at most maxChars of it.
Text<char> converted(const WCHAR* text, size_t maxChars, char)
{
    std::u16string wide;
    for (size_t i = 0; text[i] && i < maxChars; ++i)
        wide += text[i];
    std::string out;
    ntsim::fromUtf16(wide, ntsim::ansiCodePage(), out);
    return out;
}

Text<char> converted(const char* text, size_t maxChars, char)
{
    return std::string(text, strnlen(text, maxChars));
}

Text<WCHAR> converted(const char* text, size_t maxChars, WCHAR)
{
    std::u16string out;
    ntsim::toUtf16(std::string(text, strnlen(text, maxChars)), ntsim::ansiCodePage(), out);
    return out;
}

Text<WCHAR> converted(const WCHAR* text, size_t maxChars, WCHAR)
{
    size_t n = 0;
    while (n < maxChars && text[n])
        ++n;
    return Text<WCHAR>(text, n);
}

template<typename Char>
Text<Char> widened(const std::string& ascii)
{
    return Text<Char>(ascii.begin(), ascii.end());
}

template<typename Char>
void pad(Text<Char>& out, const Text<Char>& body, const Spec& spec, const std::string& prefix = "")
{
    Text<Char> before = widened<Char>(prefix);
    size_t length = before.size() + body.size();
    size_t fill = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out += before + body + Text<Char>(fill, ' ');
    } else if (spec.zero) {
        out += before + Text<Char>(fill, '0') + body;
    } else {
        out += Text<Char>(fill, ' ') + before + body;
    }
}

// Whether a %s or %c of this form takes wide text.
template<typename Char>
bool takesWide(char type, char size)
{
    bool ownForm = type == 's' || type == 'c';
    if (size == 'h')
        return false;
    if (size == 'l')
        return true;
    return ownForm == std::is_same_v<Char, WCHAR>;
}

template<typename Char>
Text<Char> format(const Char* fmt, va_list args)
{
    Text<Char> out;
    for (const Char* p = fmt; *p; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        ++p;
        Spec spec;
        for (;; ++p) {
            if (*p == '-')
                spec.left = true;
            else if (*p == '#')
                spec.alternate = true;
            else if (*p == '0')
                spec.zero = true;
            else
                break;
        }
        while (*p >= '0' && *p <= '9')
            spec.width = spec.width * 10 + static_cast<size_t>(*p++ - '0');
        if (*p == '.') {
            spec.hasPrecision = true;
            ++p;
            while (*p >= '0' && *p <= '9')
                spec.precision = spec.precision * 10 + static_cast<size_t>(*p++ - '0');
        }
        if (*p == 'h' || *p == 'l') {
            spec.size = static_cast<char>(*p);
            ++p;
        }
        auto unit = static_cast<std::make_unsigned_t<Char>>(*p);
        char type = unit < 0x80 ? static_cast<char>(unit) : '?';
        if (!*p)
            break;
        // 'l' means LONG, 32 bits on every Windows: never the host's long.
        switch (type) {
        case 'd':
        case 'i': {
            int32_t v = va_arg(args, int32_t);
            std::string body = digits(v < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(v)) : static_cast<uint64_t>(v), 10, false);
            if (spec.hasPrecision && body.size() < spec.precision)
                body.insert(0, spec.precision - body.size(), '0');
            pad(out, widened<Char>(body), spec, v < 0 ? "-" : "");
            break;
        }
        case 'u':
        case 'x':
        case 'X': {
            uint32_t v = va_arg(args, uint32_t);
            std::string body = digits(v, type == 'u' ? 10 : 16, type == 'X');
            if (spec.hasPrecision && body.size() < spec.precision)
                body.insert(0, spec.precision - body.size(), '0');
            std::string prefix = (spec.alternate && type != 'u' && v) ? (type == 'X' ? "0X" : "0x") : "";
            pad(out, widened<Char>(body), spec, prefix);
            break;
        }
        case 'p': {
            void* v = va_arg(args, void*);
            std::string body = digits(reinterpret_cast<uintptr_t>(v), 16, true);
            body.insert(0, sizeof(void*) * 2 - body.size(), '0');
            pad(out, widened<Char>(body), spec);
            break;
        }
        case 'c':
        case 'C': {
            int v = va_arg(args, int);
            Text<Char> body;
            if (takesWide<Char>(type, spec.size)) {
                WCHAR w[2] = { static_cast<WCHAR>(v), 0 };
                body = converted(w, 1, Char {});
            } else {
                char c[2] = { static_cast<char>(v), 0 };
                body = converted(c, 1, Char {});
            }
            pad(out, body, spec);
            break;
        }
        case 's':
        case 'S': {
            size_t limit = spec.hasPrecision ? spec.precision : static_cast<size_t>(-1);
            Text<Char> body;
            if (takesWide<Char>(type, spec.size)) {
                const WCHAR* v = va_arg(args, const WCHAR*);
                body = v ? converted(v, limit, Char {}) : widened<Char>("(null)");
            } else {
                const char* v = va_arg(args, const char*);
                body = v ? converted(v, limit, Char {}) : widened<Char>("(null)");
            }
            if (body.size() > limit)
                body.resize(limit);
            pad(out, body, spec);
            break;
        }
        default:
            // Not a conversion: the character stands for itself ("%%").
            out += *p;
            break;
        }
        if (out.size() >= wsprintfLimit)
            break;
    }
    return out;
}

// Formats into the buffer, cut to the formatter's limit; the length.
template<typename Char>
int formatInto(Char* buffer, const Char* fmt, va_list args)
{
    if (!buffer || !fmt)
        return 0;
    Text<Char> text = format(fmt, args);
    if (text.size() > wsprintfLimit - 1)
        text.resize(wsprintfLimit - 1);
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = 0;
    return static_cast<int>(text.size());
}

}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR fmt, ...)
{
    ntsim::ApiCall call("wsprintfA", buffer, fmt);
    va_list args;
    va_start(args, fmt);
    int length = formatInto(buffer, fmt, args);
    va_end(args);
    return call.returns(length);
}

int WINAPIV wsprintfW(LPWSTR buffer, LPCWSTR fmt, ...)
{
    ntsim::ApiCall call("wsprintfW", buffer, fmt);
    va_list args;
    va_start(args, fmt);
    int length = formatInto(buffer, fmt, args);
    va_end(args);
    return call.returns(length);
}
