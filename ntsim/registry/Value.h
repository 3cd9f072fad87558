// A value's type and data, and string data in the forms the calls see it:
// the registry keeps strings in UTF-16LE as NT does, the A forms see them
// in the machine's ANSI code page, the platform's own code in UTF-8.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace ntsim::registry {

struct ValueData {
    DWORD type { REG_NONE };
    std::vector<BYTE> data;
};

// REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ: the types whose data the A forms
// convert.
bool isStringType(DWORD type);

// Stored string data as UTF-16 units; an odd last byte is no unit.
std::u16string storedUnits(const BYTE* data, size_t size);
std::vector<BYTE> storedBytes(const std::u16string& units);

// String data of the A forms to the stored form and back, through the
// code page, byte for unit as NT converts counted strings.
std::vector<BYTE> storedFromAnsi(const BYTE* data, size_t size, unsigned codePage);
std::vector<BYTE> ansiFromStored(const BYTE* data, size_t size, unsigned codePage);
// The same for UTF-8 text.
std::vector<BYTE> storedFromUtf8(const std::string& text);
std::string utf8FromStored(const std::vector<BYTE>& data);

}
