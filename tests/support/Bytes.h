// Little-endian numbers in a file's bytes, as PE images and resources keep them.
#pragma once
#include <windows.h>

#include <string>

namespace test {

inline DWORD le32(const std::string& b, size_t o)
{
    return static_cast<DWORD>(static_cast<unsigned char>(b[o]) | static_cast<unsigned char>(b[o + 1]) << 8
        | static_cast<unsigned char>(b[o + 2]) << 16 | static_cast<DWORD>(static_cast<unsigned char>(b[o + 3])) << 24);
}

inline void putLe32(std::string& b, size_t o, DWORD v)
{
    for (int i = 0; i < 4; ++i)
        b[o + i] = static_cast<char>(v >> (8 * i));
}

}
