// wsprintfA: user32's own small formatter, without floating point, into a
// buffer of at most 1024 bytes.
#include <windows.h>

#include "kernel32/CodePage.h"
#include "machine/ApiCall.h"

#include <cstdarg>
#include <cstring>
#include <string>

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

std::string wideToAnsi(const WCHAR* text, size_t maxChars)
{
    std::u16string wide;
    for (size_t i = 0; text[i] && i < maxChars; ++i)
        wide += text[i];
    std::string out;
    ntsim::fromUtf16(wide, ntsim::ansiCodePage(), out);
    return out;
}

void pad(std::string& out, const std::string& body, const Spec& spec, const std::string& prefix = "")
{
    size_t length = prefix.size() + body.size();
    size_t fill = spec.width > length ? spec.width - length : 0;
    if (spec.left) {
        out += prefix + body + std::string(fill, ' ');
    } else if (spec.zero) {
        out += prefix + std::string(fill, '0') + body;
    } else {
        out += std::string(fill, ' ') + prefix + body;
    }
}

std::string format(LPCSTR fmt, va_list args)
{
    std::string out;
    for (const char* p = fmt; *p; ++p) {
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
            spec.size = *p;
            ++p;
        }
        char type = *p;
        if (!type)
            break;
        // 'l' means LONG, 32 bits on every Windows: never the host's long.
        switch (type) {
        case 'd':
        case 'i': {
            int32_t v = va_arg(args, int32_t);
            std::string body = digits(v < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(v)) : static_cast<uint64_t>(v), 10, false);
            if (spec.hasPrecision && body.size() < spec.precision)
                body.insert(0, spec.precision - body.size(), '0');
            pad(out, body, spec, v < 0 ? "-" : "");
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
            pad(out, body, spec, prefix);
            break;
        }
        case 'p': {
            void* v = va_arg(args, void*);
            std::string body = digits(reinterpret_cast<uintptr_t>(v), 16, true);
            body.insert(0, sizeof(void*) * 2 - body.size(), '0');
            pad(out, body, spec);
            break;
        }
        case 'c':
        case 'C': {
            int v = va_arg(args, int);
            bool wide = (type == 'C' && spec.size != 'h') || (type == 'c' && spec.size == 'l');
            std::string body;
            if (wide) {
                WCHAR w[2] = { static_cast<WCHAR>(v), 0 };
                body = wideToAnsi(w, 1);
            } else {
                body = std::string(1, static_cast<char>(v));
            }
            pad(out, body, spec);
            break;
        }
        case 's':
        case 'S': {
            bool wide = (type == 'S' && spec.size != 'h') || (type == 's' && spec.size == 'l');
            size_t limit = spec.hasPrecision ? spec.precision : static_cast<size_t>(-1);
            std::string body;
            if (wide) {
                const WCHAR* v = va_arg(args, const WCHAR*);
                body = v ? wideToAnsi(v, limit) : "(null)";
            } else {
                const char* v = va_arg(args, const char*);
                body = v ? std::string(v, strnlen(v, limit)) : "(null)";
            }
            if (body.size() > limit)
                body.resize(limit);
            pad(out, body, spec);
            break;
        }
        default:
            // Not a conversion: the character stands for itself ("%%").
            out += type;
            break;
        }
        if (out.size() >= wsprintfLimit)
            break;
    }
    return out;
}

}

int WINAPIV wsprintfA(LPSTR buffer, LPCSTR fmt, ...)
{
    ntsim::ApiCall call("wsprintfA", buffer, fmt);
    if (!buffer || !fmt)
        return call.returns(0);
    va_list args;
    va_start(args, fmt);
    std::string text = format(fmt, args);
    va_end(args);
    if (text.size() > wsprintfLimit - 1)
        text.resize(wsprintfLimit - 1);
    std::memcpy(buffer, text.data(), text.size());
    buffer[text.size()] = 0;
    return call.returns(static_cast<int>(text.size()));
}
