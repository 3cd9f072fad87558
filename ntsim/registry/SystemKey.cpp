#include "SystemKey.h"

#include "Keys.h"

#include "machine/Token.h"

namespace ntsim {

LONG SystemKey::open(const std::string& path, REGSAM access)
{
    close();
    AsSystem system;
    return registry::openKey(HKEY_LOCAL_MACHINE, path.c_str(), access, &m_key);
}

LONG SystemKey::create(const std::string& path, REGSAM access, DWORD options)
{
    close();
    AsSystem system;
    return registry::createKey(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, options, access, nullptr,
        &m_key, nullptr);
}

void SystemKey::close()
{
    if (m_key) {
        AsSystem system;
        registry::closeKey(m_key);
        m_key = nullptr;
    }
}

std::optional<DWORD> SystemKey::dword(const char* name) const
{
    AsSystem system;
    DWORD type = 0, value = 0, size = sizeof value;
    if (registry::queryValue(m_key, name, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return value;
}

namespace {

std::optional<std::vector<char>> rawValue(HKEY key, const char* name, DWORD& type)
{
    DWORD size = 0;
    if (registry::queryValue(key, name, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::vector<char> data(size + 2, 0);
    if (registry::queryValue(key, name, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    data.resize(size);
    // Terminate it whatever the writer stored.
    data.push_back(0);
    data.push_back(0);
    return data;
}

}

std::optional<std::string> SystemKey::string(const char* name) const
{
    AsSystem system;
    DWORD type = 0;
    auto data = rawValue(m_key, name, type);
    if (!data || (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    return std::string(data->data());
}

std::optional<std::vector<std::string>> SystemKey::multiString(const char* name) const
{
    AsSystem system;
    DWORD type = 0;
    auto data = rawValue(m_key, name, type);
    if (!data || (type != REG_MULTI_SZ && type != REG_SZ))
        return std::nullopt;
    std::vector<std::string> out;
    const char* p = data->data();
    const char* end = p + data->size();
    while (p < end && *p) {
        std::string item(p);
        out.push_back(item);
        p += item.size() + 1;
    }
    return out;
}

std::optional<std::vector<BYTE>> SystemKey::binary(const char* name) const
{
    DWORD type = 0;
    auto data = bytes(name, type);
    if (!data || type != REG_BINARY)
        return std::nullopt;
    return data;
}

std::optional<std::vector<BYTE>> SystemKey::bytes(const char* name, DWORD& type) const
{
    AsSystem system;
    auto data = rawValue(m_key, name, type);
    if (!data)
        return std::nullopt;
    // Without the two terminating NULs rawValue adds.
    return std::vector<BYTE>(data->begin(), data->end() - 2);
}

bool SystemKey::hasValue(const char* name) const
{
    AsSystem system;
    return registry::queryValue(m_key, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG SystemKey::setDword(const char* name, DWORD value)
{
    AsSystem system;
    return registry::setValue(m_key, name, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}

LONG SystemKey::setString(const char* name, const std::string& value, DWORD type)
{
    AsSystem system;
    return registry::setValue(m_key, name, type, reinterpret_cast<const BYTE*>(value.c_str()),
        static_cast<DWORD>(value.size() + 1));
}

LONG SystemKey::setMultiString(const char* name, const std::vector<std::string>& values)
{
    std::string data;
    for (auto& v : values)
        data += v + '\0';
    data += '\0';
    if (values.empty())
        data += '\0';
    AsSystem system;
    return registry::setValue(m_key, name, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data.data()),
        static_cast<DWORD>(data.size()));
}

LONG SystemKey::setBinary(const char* name, const std::vector<BYTE>& data)
{
    return setBytes(name, REG_BINARY, data);
}

LONG SystemKey::setBytes(const char* name, DWORD type, const std::vector<BYTE>& data)
{
    AsSystem system;
    return registry::setValue(m_key, name, type, data.data(), static_cast<DWORD>(data.size()));
}

LONG SystemKey::deleteValue(const char* name)
{
    AsSystem system;
    return registry::deleteValue(m_key, name);
}

std::vector<std::string> SystemKey::subkeys() const
{
    AsSystem system;
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD length = sizeof name;
        if (registry::enumKey(m_key, i, name, &length, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> SystemKey::stringValues() const
{
    AsSystem system;
    std::vector<std::pair<std::string, std::string>> values;
    for (DWORD i = 0;; ++i) {
        char name[512];
        BYTE data[1024];
        DWORD nameLength = sizeof name, dataSize = sizeof data - 1, type = 0;
        if (registry::enumValue(m_key, i, name, &nameLength, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        data[dataSize] = 0;
        std::string text = type == REG_SZ || type == REG_EXPAND_SZ ? reinterpret_cast<char*>(data) : "";
        values.emplace_back(std::string(name, nameLength), text);
    }
    return values;
}

LONG deleteSystemKeyTree(const std::string& path)
{
    {
        SystemKey key;
        LONG status = key.open(path, KEY_READ);
        if (status != ERROR_SUCCESS)
            return status;
        for (auto& sub : key.subkeys()) {
            status = deleteSystemKeyTree(path + "\\" + sub);
            if (status != ERROR_SUCCESS)
                return status;
        }
    }
    AsSystem system;
    return registry::deleteKey(HKEY_LOCAL_MACHINE, path.c_str());
}

}
