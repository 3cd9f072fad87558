// UTF-8 and UTF-16 of each other, without a code page: the wide texts of
// the machine's traces, setupapi's INF text.
#pragma once
#include <string>
#include <string_view>

namespace ntsim::utf {

// One code point as UTF-8.
void append(char32_t c, std::string& out);
// The code point at text[i], moving i past it; a byte that begins no valid
// sequence stands for U+FFFD (ASCII for itself), so nothing is read past.
char32_t next(std::string_view text, size_t& i);

std::string utf8Of(std::u16string_view text);
std::u16string utf16Of(std::string_view text);

}
