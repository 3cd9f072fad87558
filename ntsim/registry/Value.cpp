#include "Value.h"

#include "machine/CodePage.h"
#include "machine/Unicode.h"

namespace ntsim::registry {

bool isStringType(DWORD type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

std::u16string storedUnits(const BYTE* data, size_t size)
{
    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    return units;
}

std::vector<BYTE> storedBytes(const std::u16string& units)
{
    std::vector<BYTE> bytes(units.size() * 2);
    for (size_t i = 0; i < units.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(units[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<BYTE>(units[i] >> 8);
    }
    return bytes;
}

std::vector<BYTE> storedFromAnsi(const BYTE* data, size_t size, unsigned codePage)
{
    if (isAscii(data, size)) {
        std::vector<BYTE> bytes(size * 2, 0);
        for (size_t i = 0; i < size; ++i)
            bytes[2 * i] = data[i];
        return bytes;
    }
    std::u16string units;
    decodeText(reinterpret_cast<const char*>(data), size, codePage, units);
    return storedBytes(units);
}

std::vector<BYTE> ansiFromStored(const BYTE* data, size_t size, unsigned codePage)
{
    bool ascii = true;
    for (size_t i = 0; ascii && i + 1 < size; i += 2)
        ascii = data[i] < 0x80 && data[i + 1] == 0;
    if (ascii) {
        std::vector<BYTE> bytes(size / 2);
        for (size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = data[2 * i];
        return bytes;
    }
    std::u16string units = storedUnits(data, size);
    std::string ansi;
    encodeText(units.data(), units.size(), codePage, "?", ansi);
    return std::vector<BYTE>(ansi.begin(), ansi.end());
}

std::vector<BYTE> storedFromUtf8(const std::string& text)
{
    if (isAscii(text.data(), text.size()))
        return storedFromAnsi(reinterpret_cast<const BYTE*>(text.data()), text.size(), CP_UTF8);
    return storedBytes(utf8ToUtf16(text));
}

std::string utf8FromStored(const std::vector<BYTE>& data)
{
    return utf16ToUtf8(storedUnits(data.data(), data.size()));
}

}
