// The system errors the tool names and explains: their winerror.h names and
// the system's message texts.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace ntsim {

struct SystemError {
    uint32_t code;
    const char* name;
    const char* message; // nullptr where the tool has no text
};

const SystemError* findSystemError(uint32_t code);
const SystemError* findSystemError(const std::string& name);
// A decimal or 0x-hex number, or a name of the table.
std::optional<uint32_t> parseSystemError(const std::string& text);
// The message as FormatMessage gives it, or an empty string.
std::string systemMessage(uint32_t code);

}
