#include "Key.h"

#include "Keys.h"
#include "TextForms.h"

#include "machine/Token.h"
#include "machine/Unicode.h"

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

// The key's text: names and string data to the operations and back.
std::string nameIn(Key::Text text, const std::string& name)
{
    return text == Key::Text::Utf8 ? Utf8Text::name(name.c_str()) : AnsiText::name(name.c_str());
}

std::string nameOut(Key::Text text, const std::string& name)
{
    return text == Key::Text::Utf8 ? Utf8Text::out(name) : AnsiText::out(name);
}

std::vector<BYTE> dataIn(Key::Text text, const ValueData& value)
{
    const BYTE* data = value.data.data();
    size_t size = value.data.size();
    return text == Key::Text::Utf8 ? Utf8Text::dataIn(value.type, data, size) : AnsiText::dataIn(value.type, data, size);
}

std::vector<BYTE> dataOut(Key::Text text, const ValueData& value)
{
    return text == Key::Text::Utf8 ? Utf8Text::dataOut(value) : AnsiText::dataOut(value);
}

}

LONG Key::open(HKEY parent, const std::string& path, REGSAM access)
{
    close();
    Acting acting(m_as);
    return openPath(parent, nameIn(m_text, path), access, &m_key);
}

LONG Key::create(HKEY parent, const std::string& path, REGSAM access, DWORD options, DWORD* disposition)
{
    close();
    Acting acting(m_as);
    return createPath(parent, nameIn(m_text, path), {}, options, access, nullptr, &m_key, disposition);
}

void Key::close()
{
    if (!m_key)
        return;
    Acting acting(m_as);
    closeKey(m_key);
    m_key = nullptr;
}

void Key::adopt(HKEY key)
{
    close();
    m_key = key;
}

LONG Key::read(const std::string& name, ValueData& out) const
{
    Acting acting(m_as);
    ValueData stored;
    LONG status = readValue(m_key, nameIn(m_text, name), stored);
    if (status != ERROR_SUCCESS)
        return status;
    out.type = stored.type;
    out.data = dataOut(m_text, stored);
    return ERROR_SUCCESS;
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
    ValueData v;
    return read(name, v) == ERROR_SUCCESS;
}

LONG Key::write(const std::string& name, const ValueData& value) const
{
    Acting acting(m_as);
    std::vector<BYTE> data = dataIn(m_text, value);
    return writeValue(m_key, nameIn(m_text, name), value.type, data.data(), data.size());
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
    return removeValue(m_key, nameIn(m_text, name));
}

std::vector<std::string> Key::subkeys() const
{
    Acting acting(m_as);
    std::vector<std::string> names;
    SubkeyInfo info;
    for (DWORD i = 0; readSubkey(m_key, i, info) == ERROR_SUCCESS; ++i)
        names.push_back(nameOut(m_text, info.name));
    return names;
}

std::vector<std::pair<std::string, ValueData>> Key::values() const
{
    Acting acting(m_as);
    std::vector<std::pair<std::string, ValueData>> out;
    NamedValue found;
    for (DWORD i = 0; readValueAt(m_key, i, true, found) == ERROR_SUCCESS; ++i)
        out.emplace_back(nameOut(m_text, found.name), ValueData { found.value.type, dataOut(m_text, found.value) });
    return out;
}

LONG Key::deleteTree(const std::string& subkey) const
{
    LONG status = deleteKeyTree(m_key, subkey, m_as, m_text);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LONG deleteKeyTree(HKEY parent, const std::string& path, Key::As as, Key::Text text)
{
    {
        Key key(as, text);
        if (LONG status = key.open(parent, path, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | DELETE); status != ERROR_SUCCESS)
            return status;
        for (auto& sub : key.subkeys())
            if (LONG status = deleteKeyTree(key.handle(), sub, as, text); status != ERROR_SUCCESS)
                return status;
    }
    Acting acting(as);
    return removePath(parent, nameIn(text, path));
}

LONG deleteSystemKeyTree(const std::string& path, Key::Text text)
{
    return deleteKeyTree(HKEY_LOCAL_MACHINE, path, Key::As::System, text);
}

std::string computerName()
{
    SystemKey key(Key::Text::Utf8);
    if (key.open("SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName") != ERROR_SUCCESS)
        return {};
    return key.string("ComputerName").value_or("");
}

bool isThisComputer(const std::string& machineName)
{
    std::string name = machineName;
    if (name.rfind("\\\\", 0) == 0)
        name = name.substr(2);
    if (name.empty())
        return true;
    std::string computer = computerName();
    return !computer.empty() && equalsNoCaseUtf8(computer, name);
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
