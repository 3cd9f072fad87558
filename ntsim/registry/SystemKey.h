// Registry access of the service controller and the driver runtime. Both
// act for the system, so every call runs inside an AsSystem guard.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ntsim {

class SystemKey {
public:
    SystemKey() = default;
    ~SystemKey() { close(); }
    SystemKey(const SystemKey&) = delete;
    SystemKey& operator=(const SystemKey&) = delete;
    SystemKey(SystemKey&& other) noexcept : m_key(other.m_key) { other.m_key = nullptr; }

    // Below HKEY_LOCAL_MACHINE; a registry error code on failure.
    LONG open(const std::string& path, REGSAM access = KEY_READ);
    LONG create(const std::string& path, REGSAM access = KEY_ALL_ACCESS, DWORD options = REG_OPTION_NON_VOLATILE);
    void close();
    bool isOpen() const { return m_key != nullptr; }
    HKEY handle() const { return m_key; }

    std::optional<DWORD> dword(const char* name) const;
    std::optional<std::string> string(const char* name) const;
    std::optional<std::vector<std::string>> multiString(const char* name) const;
    std::optional<std::vector<BYTE>> binary(const char* name) const;
    // A value's data as stored, whatever its type.
    std::optional<std::vector<BYTE>> bytes(const char* name, DWORD& type) const;
    bool hasValue(const char* name) const;
    LONG setDword(const char* name, DWORD value);
    LONG setString(const char* name, const std::string& value, DWORD type = REG_SZ);
    LONG setMultiString(const char* name, const std::vector<std::string>& values);
    LONG setBinary(const char* name, const std::vector<BYTE>& data);
    LONG setBytes(const char* name, DWORD type, const std::vector<BYTE>& data);
    LONG deleteValue(const char* name);

    std::vector<std::string> subkeys() const;
    // Name and string data of every value.
    std::vector<std::pair<std::string, std::string>> stringValues() const;

private:
    HKEY m_key { nullptr };
};

// Deletes a key below HKEY_LOCAL_MACHINE with everything under it.
LONG deleteSystemKeyTree(const std::string& path);

}
