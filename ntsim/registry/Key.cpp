#include "Key.h"

#include "Keys.h"

#include "machine/Token.h"

#include <cstring>
#include <optional>

namespace ntsim::registry {

namespace {

// Acts as the system for a scope when the key does.
class Acting {
public:
    explicit Acting(Key::As as)
    {
        if (as == Key::As::System)
            m_system.emplace();
    }

private:
    std::optional<AsSystem> m_system;
};

}

LONG Key::open(HKEY parent, const std::string& path, REGSAM access)
{
    close();
    Acting acting(m_as);
    return openKey(parent, path.c_str(), access, &m_key);
}

LONG Key::create(HKEY parent, const std::string& path, REGSAM access, DWORD options, DWORD* disposition)
{
    close();
    Acting acting(m_as);
    return createKey(parent, path.c_str(), nullptr, options, access, nullptr, &m_key, disposition);
}

void Key::close()
{
    if (!m_key)
        return;
    Acting acting(m_as);
    closeKey(m_key);
    m_key = nullptr;
}

LONG Key::read(const std::string& name, ValueData& out) const
{
    Acting acting(m_as);
    DWORD type = 0, size = 0;
    LONG status = queryValue(m_key, name.c_str(), &type, nullptr, &size);
    if (status != ERROR_SUCCESS)
        return status;
    out.type = type;
    out.data.assign(size, 0);
    status = queryValue(m_key, name.c_str(), &type, out.data.empty() ? nullptr : out.data.data(), &size);
    out.data.resize(size);
    return status;
}

std::optional<DWORD> Key::dword(const char* name) const
{
    ValueData v;
    if (read(name, v) != ERROR_SUCCESS || v.type != REG_DWORD || v.data.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, v.data.data(), sizeof value);
    return value;
}

std::optional<std::string> Key::string(const char* name) const
{
    ValueData v;
    if (read(name, v) != ERROR_SUCCESS || (v.type != REG_SZ && v.type != REG_EXPAND_SZ))
        return std::nullopt;
    return valueText(v);
}

std::optional<std::vector<std::string>> Key::multiString(const char* name) const
{
    ValueData v;
    if (read(name, v) != ERROR_SUCCESS || (v.type != REG_MULTI_SZ && v.type != REG_SZ))
        return std::nullopt;
    return splitMultiString(std::string(v.data.begin(), v.data.end()));
}

std::optional<std::vector<BYTE>> Key::binary(const char* name) const
{
    ValueData v;
    if (read(name, v) != ERROR_SUCCESS || v.type != REG_BINARY)
        return std::nullopt;
    return std::move(v.data);
}

bool Key::hasValue(const char* name) const
{
    Acting acting(m_as);
    return queryValue(m_key, name, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG Key::write(const std::string& name, const ValueData& value) const
{
    Acting acting(m_as);
    return setValue(m_key, name.c_str(), value.type, value.data.data(), static_cast<DWORD>(value.data.size()));
}

LONG Key::setDword(const char* name, DWORD value) const
{
    return write(name, dwordValue(value));
}

LONG Key::setString(const char* name, const std::string& value, DWORD type) const
{
    return write(name, stringValue(value, type));
}

LONG Key::setMultiString(const char* name, const std::vector<std::string>& values) const
{
    ValueData v { REG_MULTI_SZ, {} };
    for (auto& s : values) {
        v.data.insert(v.data.end(), s.begin(), s.end());
        v.data.push_back(0);
    }
    v.data.push_back(0);
    if (values.empty())
        v.data.push_back(0);
    return write(name, v);
}

LONG Key::setBinary(const char* name, const std::vector<BYTE>& data) const
{
    return write(name, ValueData { REG_BINARY, data });
}

LONG Key::deleteValue(const char* name) const
{
    Acting acting(m_as);
    return registry::deleteValue(m_key, name);
}

std::vector<std::string> Key::subkeys() const
{
    Acting acting(m_as);
    std::vector<std::string> names;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD length = sizeof name;
        if (enumKey(m_key, i, name, &length, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

std::vector<std::pair<std::string, ValueData>> Key::values() const
{
    std::vector<std::pair<std::string, ValueData>> out;
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD length = sizeof name;
        {
            Acting acting(m_as);
            if (enumValue(m_key, i, name, &length, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
                break;
        }
        ValueData value;
        if (read(std::string(name, length), value) == ERROR_SUCCESS)
            out.emplace_back(std::string(name, length), std::move(value));
    }
    return out;
}

LONG Key::deleteTree(const std::string& subkey) const
{
    LONG status = deleteKeyTree(m_key, subkey, m_as);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG deleteKeyTree(HKEY parent, const std::string& path, Key::As as)
{
    {
        Key key(as);
        if (LONG status = key.open(parent, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE); status != ERROR_SUCCESS)
            return status;
        for (auto& sub : key.subkeys())
            if (LONG status = deleteKeyTree(key.handle(), sub, as); status != ERROR_SUCCESS)
                return status;
    }
    Acting acting(as);
    return deleteKey(parent, path.c_str());
}

LONG deleteSystemKeyTree(const std::string& path)
{
    return deleteKeyTree(HKEY_LOCAL_MACHINE, path, Key::As::System);
}

ValueData stringValue(const std::string& text, DWORD type)
{
    ValueData value { type, { text.begin(), text.end() } };
    value.data.push_back(0);
    return value;
}

ValueData dwordValue(DWORD n)
{
    ValueData value { REG_DWORD, std::vector<BYTE>(sizeof n) };
    std::memcpy(value.data.data(), &n, sizeof n);
    return value;
}

std::string valueText(const ValueData& value)
{
    std::string text(value.data.begin(), value.data.end());
    return text.substr(0, text.find('\0'));
}

std::vector<std::string> splitMultiString(const std::string& text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size() && text[pos]) {
        size_t end = text.find('\0', pos);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

}
