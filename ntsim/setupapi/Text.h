// How setupapi keeps text: UTF-8 inside, as NT's setupapi is Unicode
// inside, so that a W call gives back every character an INF holds. A
// calls convert through the machine's ANSI code page at their edge, and so
// does what goes down to the ANSI-only floors below (files, registry, SCM).
#pragma once
#include <windows.h>

#include <string>
#include <string_view>

namespace ntsim::setupapi {

// Which form of a call: what its strings and buffers hold.
enum class Charset { Ansi, Wide };

std::string fromAnsi(std::string_view ansi);
std::string fromWide(std::u16string_view wide);
std::string toAnsi(std::string_view utf8);
std::u16string toWide(std::string_view utf8);

// A caller's string argument; null stays empty.
std::string argument(PCSTR text);
std::string argument(PCWSTR text);
// An optional one: null for a null pointer, else its text in storage.
template<typename Char>
const std::string* optionalArgument(const Char* text, std::string& storage)
{
    if (!text)
        return nullptr;
    storage = argument(text);
    return &storage;
}

// A caller's buffer for a text result, in either form.
struct TextBuffer {
    Charset charset { Charset::Ansi };
    void* data { nullptr };
    DWORD size { 0 }; // in characters of the form

    static TextBuffer ansi(PSTR data, DWORD size) { return { Charset::Ansi, data, size }; }
    static TextBuffer wide(PWSTR data, DWORD size) { return { Charset::Wide, data, size }; }
};

// Copies a result out as the setup calls do: RequiredSize counts the
// characters of the form with the NUL; a null buffer asks for the size
// alone. A list of texts ("a\0b\0") goes out whole, its last NUL added
// here. NO_ERROR or ERROR_INSUFFICIENT_BUFFER.
DWORD copyText(std::string_view utf8, const TextBuffer& buffer, PDWORD required);

}
