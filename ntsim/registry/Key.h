// A registry key held for a scope, with typed reads and writes: what the
// platform's own code uses instead of raw handles. A key acts either with
// the calling user's token or, for the service controller, the driver
// runtime and the PnP manager's device keys, as LocalSystem. Its names and
// strings are in the machine's ANSI code page, as the A calls take them,
// or in UTF-8 for code that keeps its text so (the service controller).
#pragma once
#include "Value.h"

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ntsim::registry {

class Key {
public:
    enum class As { Caller, System };
    enum class Text { Ansi, Utf8 };

    explicit Key(As as = As::Caller, Text text = Text::Ansi)
        : m_as(as)
        , m_text(text)
    {
    }
    ~Key() { close(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    Key(Key&& other) noexcept
        : m_as(other.m_as)
        , m_text(other.m_text)
        , m_key(std::exchange(other.m_key, nullptr))
    {
    }

    // A registry error code on failure.
    LONG open(HKEY parent, const std::string& path, REGSAM access = KEY_READ);
    LONG create(HKEY parent, const std::string& path, REGSAM access = KEY_ALL_ACCESS,
        DWORD options = REG_OPTION_NON_VOLATILE, DWORD* disposition = nullptr);
    void close();
    // Takes a handle opened elsewhere, to close it when it goes.
    void adopt(HKEY key);
    bool isOpen() const { return m_key != nullptr; }
    HKEY handle() const { return m_key; }

    // A value's data as stored, whatever its type.
    LONG read(const std::string& name, ValueData& out) const;
    std::optional<DWORD> dword(const char* name) const;
    // REG_SZ or REG_EXPAND_SZ, up to the first NUL whatever the writer stored.
    std::optional<std::string> string(const char* name) const;
    // REG_MULTI_SZ (or REG_SZ as a list of one) up to the first empty string.
    std::optional<std::vector<std::string>> multiString(const char* name) const;
    std::optional<std::vector<BYTE>> binary(const char* name) const;
    bool hasValue(const char* name) const;

    LONG write(const std::string& name, const ValueData& value) const;
    LONG setDword(const char* name, DWORD value) const;
    LONG setString(const char* name, const std::string& value, DWORD type = REG_SZ) const;
    LONG setMultiString(const char* name, const std::vector<std::string>& values) const;
    LONG setBinary(const char* name, const std::vector<BYTE>& data) const;
    LONG deleteValue(const char* name) const;

    std::vector<std::string> subkeys() const;
    // Every value, in the key's order.
    std::vector<std::pair<std::string, ValueData>> values() const;
    // A subkey with everything below it; a missing one is no error.
    LONG deleteTree(const std::string& subkey) const;

private:
    As m_as;
    Text m_text;
    HKEY m_key { nullptr };
};

// A key below HKEY_LOCAL_MACHINE that acts as LocalSystem.
class SystemKey : public Key {
public:
    explicit SystemKey(Text text = Text::Ansi)
        : Key(As::System, text)
    {
    }
    LONG open(const std::string& path, REGSAM access = KEY_READ)
    {
        return Key::open(HKEY_LOCAL_MACHINE, path, access);
    }
    LONG create(const std::string& path, REGSAM access = KEY_ALL_ACCESS, DWORD options = REG_OPTION_NON_VOLATILE)
    {
        return Key::create(HKEY_LOCAL_MACHINE, path, access, options);
    }
};

// Deletes a key with everything below it, as the caller or as the system.
// A missing key is ERROR_FILE_NOT_FOUND.
LONG deleteKeyTree(HKEY parent, const std::string& path, Key::As as = Key::As::Caller, Key::Text text = Key::Text::Ansi);
// The same below HKEY_LOCAL_MACHINE as the system.
LONG deleteSystemKeyTree(const std::string& path, Key::Text text = Key::Text::Ansi);

// Whether a machine name given to RegConnectRegistry or OpenSCManager names
// this machine: none, an empty one, or its computer name with or without
// the leading backslashes, in any case (UTF-8).
bool isThisComputer(const std::string& machineName);
// The machine's computer name (UTF-8), empty when the registry has none.
std::string computerName();

// Value data built from a text or a number.
ValueData stringValue(const std::string& text, DWORD type = REG_SZ);
ValueData dwordValue(DWORD value);
// The text of a string value, whatever its writer left at its end.
std::string valueText(const ValueData& value);
// The strings of a multi-string ("a\0b\0\0"), up to the first empty one.
std::vector<std::string> splitMultiString(const std::string& text);

}
