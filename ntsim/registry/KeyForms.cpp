// The registry calls in the two forms advapi32 exports. Each call is one
// template over the form's text (WideText, AnsiText): it converts the
// caller's names and data to the operations' (Keys.cpp) and fills the
// caller's buffers in the form's own units, so that both forms keep one
// logic and differ only in how text is converted.
#include "Key.h"
#include "Keys.h"
#include "TextForms.h"

#include "machine/CodePage.h"
#include "machine/Unicode.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace ntsim::registry {

namespace {

// String data as RegQueryValueEx hands it out: a string stored without its
// terminator gets one, a multi-string its two, when the caller has room.
template<typename Char>
std::vector<BYTE> terminated(DWORD type, std::vector<BYTE> data)
{
    if (!isStringType(type) || data.empty() || data.size() % sizeof(Char))
        return data;
    auto unitAt = [&](size_t fromEnd) {
        Char c {};
        std::memcpy(&c, data.data() + data.size() - fromEnd * sizeof(Char), sizeof(Char));
        return c;
    };
    size_t units = data.size() / sizeof(Char);
    size_t missing = 0;
    if (unitAt(1) != 0)
        missing = type == REG_MULTI_SZ ? 2 : 1;
    else if (type == REG_MULTI_SZ && (units < 2 || unitAt(2) != 0))
        missing = 1;
    data.resize(data.size() + missing * sizeof(Char), 0);
    return data;
}

// Copies data out as RegQueryValueEx does into data, which holds capacity
// bytes, and tells the size the data takes.
LONG putData(DWORD type, const std::vector<BYTE>& bytes, LPDWORD lpType, LPBYTE data, DWORD capacity, LPDWORD size)
{
    if (lpType)
        *lpType = type;
    DWORD needed = static_cast<DWORD>(bytes.size());
    if (data) {
        if (capacity < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed)
            std::memcpy(data, bytes.data(), needed);
    }
    if (size)
        *size = needed;
    return ERROR_SUCCESS;
}

template<typename Char>
void copyString(const std::basic_string<Char>& text, Char* buffer)
{
    std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(Char));
}

void putFileTime(PFILETIME ft, uint64_t ticks)
{
    if (!ft)
        return;
    ft->dwLowDateTime = static_cast<DWORD>(ticks);
    ft->dwHighDateTime = static_cast<DWORD>(ticks >> 32);
}

void putCount(LPDWORD out, DWORD value)
{
    if (out)
        *out = value;
}

// --- each call once, over its form's text ---

template<typename Text>
LONG openKeyAs(HKEY hKey, const typename Text::Char* subKey, REGSAM desired, PHKEY result)
{
    return openPath(hKey, optionalName<Text>(subKey), desired, result);
}

// RegOpenKey: no subkey gives back the handle itself.
template<typename Text>
LONG openKeyCompatAs(HKEY hKey, const typename Text::Char* subKey, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!subKey || !*subKey) {
        *result = hKey;
        return ERROR_SUCCESS;
    }
    return openPath(hKey, Text::name(subKey), MAXIMUM_ALLOWED, result);
}

template<typename Text>
LONG createKeyAs(HKEY hKey, const typename Text::Char* subKey, const typename Text::Char* className, DWORD options,
    REGSAM desired, LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition)
{
    if (!result || !subKey)
        return ERROR_INVALID_PARAMETER;
    return createPath(hKey, Text::name(subKey), Text::name(className), options, desired, security, result, disposition);
}

// RegCreateKey: no subkey opens the key itself, as RegOpenKey does.
template<typename Text>
LONG createKeyCompatAs(HKEY hKey, const typename Text::Char* subKey, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!subKey || !*subKey)
        return openPath(hKey, std::nullopt, MAXIMUM_ALLOWED, result);
    return createPath(hKey, Text::name(subKey), {}, REG_OPTION_NON_VOLATILE, MAXIMUM_ALLOWED, nullptr, result, nullptr);
}

template<typename Text>
LONG queryValueAs(HKEY hKey, const typename Text::Char* name, LPDWORD type, LPBYTE data, LPDWORD size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    // The size is read before the type is written: a caller may pass one
    // variable for both. A call that fails leaves no size to be read as
    // the data's.
    DWORD capacity = size ? *size : 0;
    if (Text::clearsType && type)
        *type = REG_NONE;
    if (size && !data)
        *size = 0;
    ValueData value;
    if (LONG error = readValue(hKey, Text::name(name), value))
        return error;
    return putData(value.type, terminated<typename Text::Char>(value.type, Text::dataOut(value)), type, data, capacity,
        size);
}

// RegQueryValue: the default value of a subkey, an empty string when the
// key has none.
template<typename Text>
LONG queryValueCompatAs(HKEY hKey, const typename Text::Char* subKey, typename Text::Char* data, PLONG size)
{
    if (data && !size)
        return ERROR_INVALID_PARAMETER;
    Key opened(Key::As::Caller);
    HKEY key = hKey;
    if (subKey && *subKey) {
        HKEY sub = nullptr;
        if (LONG error = openPath(hKey, Text::name(subKey), KEY_QUERY_VALUE, &sub))
            return error;
        opened.adopt(sub);
        key = sub;
    }
    ValueData value;
    LONG error = readValue(key, {}, value);
    if (error == ERROR_FILE_NOT_FOUND)
        value = ValueData { REG_SZ, std::vector<BYTE>(sizeof(WCHAR), 0) };
    else if (error)
        return error;
    DWORD capacity = size ? static_cast<DWORD>(*size) : 0;
    DWORD needed = 0;
    LONG status = putData(value.type, terminated<typename Text::Char>(value.type, Text::dataOut(value)), nullptr,
        reinterpret_cast<LPBYTE>(data), capacity, &needed);
    if (size)
        *size = static_cast<LONG>(needed);
    return status;
}

template<typename Text>
LONG setValueAs(HKEY hKey, const typename Text::Char* name, DWORD type, const BYTE* data, DWORD size)
{
    if (!data && size)
        return ERROR_NOACCESS;
    std::vector<BYTE> bytes = Text::dataIn(type, data, size);
    return writeValue(hKey, Text::name(name), type, bytes.data(), bytes.size());
}

// RegSetValue: a string as the default value of a subkey, which it creates;
// the string's own length counts, not the size given.
template<typename Text>
LONG setValueCompatAs(HKEY hKey, const typename Text::Char* subKey, DWORD type, const typename Text::Char* data)
{
    if (type != REG_SZ || !data)
        return ERROR_INVALID_PARAMETER;
    Key created(Key::As::Caller);
    HKEY key = hKey;
    if (subKey && *subKey) {
        HKEY sub = nullptr;
        if (LONG error = createPath(hKey, Text::name(subKey), {}, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &sub,
                nullptr))
            return error;
        created.adopt(sub);
        key = sub;
    }
    std::vector<BYTE> bytes = Text::dataIn(REG_SZ, reinterpret_cast<const BYTE*>(data),
        (Text::length(data) + 1) * sizeof(typename Text::Char));
    return writeValue(key, {}, REG_SZ, bytes.data(), bytes.size());
}

template<typename Text, typename Entry>
LONG queryMultipleValuesAs(HKEY hKey, Entry* list, DWORD count, typename Text::Char* buffer, LPDWORD totalSize)
{
    if (!totalSize || (!list && count))
        return ERROR_INVALID_PARAMETER;
    std::vector<std::string> names;
    for (DWORD i = 0; i < count; ++i)
        names.push_back(Text::name(list[i].ve_valuename));
    std::vector<ValueData> values;
    if (LONG error = readValues(hKey, names, values))
        return error;
    std::vector<std::vector<BYTE>> data;
    DWORD total = 0;
    for (DWORD i = 0; i < count; ++i) {
        data.push_back(Text::dataOut(values[i]));
        list[i].ve_valuelen = static_cast<DWORD>(data.back().size());
        list[i].ve_type = values[i].type;
        total += list[i].ve_valuelen;
    }
    if (!buffer || *totalSize < total) {
        *totalSize = total;
        return ERROR_MORE_DATA;
    }
    BYTE* cursor = reinterpret_cast<BYTE*>(buffer);
    for (DWORD i = 0; i < count; ++i) {
        if (!data[i].empty())
            std::memcpy(cursor, data[i].data(), data[i].size());
        list[i].ve_valueptr = reinterpret_cast<DWORD_PTR>(cursor);
        cursor += data[i].size();
    }
    *totalSize = total;
    return ERROR_SUCCESS;
}

template<typename Text>
LONG deleteValueAs(HKEY hKey, const typename Text::Char* name)
{
    return removeValue(hKey, Text::name(name));
}

template<typename Text>
LONG deleteKeyAs(HKEY hKey, const typename Text::Char* subKey)
{
    if (!subKey)
        return ERROR_INVALID_PARAMETER;
    return removePath(hKey, Text::name(subKey));
}

// A name (and class) too long for its buffer leaves both buffers and both
// lengths as they were.
template<typename Text>
LONG enumKeyAs(HKEY hKey, DWORD index, typename Text::Char* name, LPDWORD nameLength, typename Text::Char* className,
    LPDWORD classLength, PFILETIME lastWrite)
{
    if (!name || !nameLength || (className && !classLength))
        return ERROR_INVALID_PARAMETER;
    SubkeyInfo info;
    if (LONG error = readSubkey(hKey, index, info))
        return error;
    auto keyName = Text::out(info.name);
    auto keyClass = Text::out(info.className);
    if (*nameLength <= keyName.size() || (className && *classLength <= keyClass.size()))
        return ERROR_MORE_DATA;
    copyString(keyName, name);
    *nameLength = static_cast<DWORD>(keyName.size());
    if (className)
        copyString(keyClass, className);
    putCount(classLength, static_cast<DWORD>(keyClass.size()));
    putFileTime(lastWrite, info.lastWrite);
    return ERROR_SUCCESS;
}

template<typename Text>
LONG enumKeyCompatAs(HKEY hKey, DWORD index, typename Text::Char* name, DWORD nameLength)
{
    return enumKeyAs<Text>(hKey, index, name, &nameLength, nullptr, nullptr, nullptr);
}

// A name too long for its buffer still tells the data's size, as NT does.
template<typename Text>
LONG enumValueAs(HKEY hKey, DWORD index, typename Text::Char* name, LPDWORD nameLength, LPDWORD type, LPBYTE data,
    LPDWORD size)
{
    if (!name || !nameLength || (data && !size))
        return ERROR_INVALID_PARAMETER;
    NamedValue found;
    if (LONG error = readValueAt(hKey, index, data || size, found))
        return error;
    auto valueName = Text::out(found.name);
    std::vector<BYTE> bytes = Text::dataOut(found.value);
    DWORD needed = static_cast<DWORD>(bytes.size());
    DWORD capacity = size ? *size : 0;
    if (*nameLength <= valueName.size()) {
        putCount(size, needed);
        return ERROR_MORE_DATA;
    }
    if (data && capacity < needed) {
        *size = needed;
        return ERROR_MORE_DATA;
    }
    copyString(valueName, name);
    *nameLength = static_cast<DWORD>(valueName.size());
    putCount(type, found.value.type);
    if (data && needed)
        std::memcpy(data, bytes.data(), needed);
    putCount(size, needed);
    return ERROR_SUCCESS;
}

// Lengths of names count UTF-16 units and data the bytes stored, in both
// forms, as NT reports them.
template<typename Text>
LONG queryInfoKeyAs(HKEY hKey, typename Text::Char* className, LPDWORD classLength, LPDWORD subKeys,
    LPDWORD maxSubKeyLength, LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength,
    LPDWORD maxValueLength, LPDWORD securityDescriptorSize, PFILETIME lastWrite)
{
    if (className && !classLength)
        return ERROR_INVALID_PARAMETER;
    KeyInfo info;
    if (LONG error = readKeyInfo(hKey, info))
        return error;
    auto keyClass = Text::out(info.className);
    if (className) {
        if (*classLength <= keyClass.size()) {
            *classLength = static_cast<DWORD>(keyClass.size());
            return ERROR_MORE_DATA;
        }
        copyString(keyClass, className);
    }
    putCount(classLength, static_cast<DWORD>(keyClass.size()));
    putCount(subKeys, info.subkeys);
    putCount(maxSubKeyLength, info.maxSubkeyName);
    putCount(maxClassLength, info.maxClass);
    putCount(values, info.values);
    putCount(maxValueNameLength, info.maxValueName);
    putCount(maxValueLength, info.maxValueData);
    putCount(securityDescriptorSize, info.securityDescriptorSize);
    putFileTime(lastWrite, info.lastWrite);
    return ERROR_SUCCESS;
}

// This machine's keys by a name of this machine; another machine's cannot
// be reached, there being no network.
template<typename Text>
LONG connectRegistryAs(const typename Text::Char* machineName, HKEY hKey, PHKEY result)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    if (!isThisComputer(Text::name(machineName)))
        return ERROR_BAD_NETPATH;
    if (hKey != HKEY_LOCAL_MACHINE && hKey != HKEY_USERS)
        return ERROR_INVALID_HANDLE;
    return openPath(hKey, std::nullopt, MAXIMUM_ALLOWED, result);
}

// What a synchronous RegNotifyChangeKeyValue waits for.
class Signal {
public:
    void set()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_set = true;
        m_changed.notify_all();
    }
    void wait()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait(lock, [this] { return m_set; });
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_set { false };
};

}

LONG openKeyW(HKEY hKey, LPCWSTR subKey, REGSAM desired, PHKEY result)
{
    return openKeyAs<WideText>(hKey, subKey, desired, result);
}

LONG openKey(HKEY hKey, LPCSTR subKey, REGSAM desired, PHKEY result)
{
    return openKeyAs<AnsiText>(hKey, subKey, desired, result);
}

LONG openKeyCompatW(HKEY hKey, LPCWSTR subKey, PHKEY result)
{
    return openKeyCompatAs<WideText>(hKey, subKey, result);
}

LONG openKeyCompat(HKEY hKey, LPCSTR subKey, PHKEY result)
{
    return openKeyCompatAs<AnsiText>(hKey, subKey, result);
}

LONG createKeyW(HKEY hKey, LPCWSTR subKey, LPWSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition)
{
    return createKeyAs<WideText>(hKey, subKey, className, options, desired, security, result, disposition);
}

LONG createKey(HKEY hKey, LPCSTR subKey, LPSTR className, DWORD options, REGSAM desired,
    LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition)
{
    return createKeyAs<AnsiText>(hKey, subKey, className, options, desired, security, result, disposition);
}

LONG createKeyCompatW(HKEY hKey, LPCWSTR subKey, PHKEY result)
{
    return createKeyCompatAs<WideText>(hKey, subKey, result);
}

LONG createKeyCompat(HKEY hKey, LPCSTR subKey, PHKEY result)
{
    return createKeyCompatAs<AnsiText>(hKey, subKey, result);
}

LONG queryValueW(HKEY hKey, LPCWSTR name, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return queryValueAs<WideText>(hKey, name, type, data, size);
}

LONG queryValue(HKEY hKey, LPCSTR name, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return queryValueAs<AnsiText>(hKey, name, type, data, size);
}

LONG queryValueCompatW(HKEY hKey, LPCWSTR subKey, LPWSTR data, PLONG size)
{
    return queryValueCompatAs<WideText>(hKey, subKey, data, size);
}

LONG queryValueCompat(HKEY hKey, LPCSTR subKey, LPSTR data, PLONG size)
{
    return queryValueCompatAs<AnsiText>(hKey, subKey, data, size);
}

LONG setValueW(HKEY hKey, LPCWSTR name, DWORD type, const BYTE* data, DWORD size)
{
    return setValueAs<WideText>(hKey, name, type, data, size);
}

LONG setValue(HKEY hKey, LPCSTR name, DWORD type, const BYTE* data, DWORD size)
{
    return setValueAs<AnsiText>(hKey, name, type, data, size);
}

LONG setValueCompatW(HKEY hKey, LPCWSTR subKey, DWORD type, LPCWSTR data, DWORD)
{
    return setValueCompatAs<WideText>(hKey, subKey, type, data);
}

LONG setValueCompat(HKEY hKey, LPCSTR subKey, DWORD type, LPCSTR data, DWORD)
{
    return setValueCompatAs<AnsiText>(hKey, subKey, type, data);
}

LONG queryMultipleValuesW(HKEY hKey, PVALENTW list, DWORD count, LPWSTR buffer, LPDWORD totalSize)
{
    return queryMultipleValuesAs<WideText>(hKey, list, count, buffer, totalSize);
}

LONG queryMultipleValues(HKEY hKey, PVALENTA list, DWORD count, LPSTR buffer, LPDWORD totalSize)
{
    return queryMultipleValuesAs<AnsiText>(hKey, list, count, buffer, totalSize);
}

LONG deleteValueW(HKEY hKey, LPCWSTR name)
{
    return deleteValueAs<WideText>(hKey, name);
}

LONG deleteValue(HKEY hKey, LPCSTR name)
{
    return deleteValueAs<AnsiText>(hKey, name);
}

LONG deleteKeyW(HKEY hKey, LPCWSTR subKey)
{
    return deleteKeyAs<WideText>(hKey, subKey);
}

LONG deleteKey(HKEY hKey, LPCSTR subKey)
{
    return deleteKeyAs<AnsiText>(hKey, subKey);
}

LONG enumKeyW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD nameLength, LPWSTR className, LPDWORD classLength,
    PFILETIME lastWrite)
{
    return enumKeyAs<WideText>(hKey, index, name, nameLength, className, classLength, lastWrite);
}

LONG enumKey(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPSTR className, LPDWORD classLength,
    PFILETIME lastWrite)
{
    return enumKeyAs<AnsiText>(hKey, index, name, nameLength, className, classLength, lastWrite);
}

LONG enumKeyCompatW(HKEY hKey, DWORD index, LPWSTR name, DWORD nameLength)
{
    return enumKeyCompatAs<WideText>(hKey, index, name, nameLength);
}

LONG enumKeyCompat(HKEY hKey, DWORD index, LPSTR name, DWORD nameLength)
{
    return enumKeyCompatAs<AnsiText>(hKey, index, name, nameLength);
}

LONG enumValueW(HKEY hKey, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return enumValueAs<WideText>(hKey, index, name, nameLength, type, data, size);
}

LONG enumValue(HKEY hKey, DWORD index, LPSTR name, LPDWORD nameLength, LPDWORD type, LPBYTE data, LPDWORD size)
{
    return enumValueAs<AnsiText>(hKey, index, name, nameLength, type, data, size);
}

LONG queryInfoKeyW(HKEY hKey, LPWSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite)
{
    return queryInfoKeyAs<WideText>(hKey, className, classLength, subKeys, maxSubKeyLength, maxClassLength, values,
        maxValueNameLength, maxValueLength, securityDescriptorSize, lastWrite);
}

LONG queryInfoKey(HKEY hKey, LPSTR className, LPDWORD classLength, LPDWORD subKeys, LPDWORD maxSubKeyLength,
    LPDWORD maxClassLength, LPDWORD values, LPDWORD maxValueNameLength, LPDWORD maxValueLength,
    LPDWORD securityDescriptorSize, PFILETIME lastWrite)
{
    return queryInfoKeyAs<AnsiText>(hKey, className, classLength, subKeys, maxSubKeyLength, maxClassLength, values,
        maxValueNameLength, maxValueLength, securityDescriptorSize, lastWrite);
}

LONG connectRegistryW(LPCWSTR machineName, HKEY hKey, PHKEY result)
{
    return connectRegistryAs<WideText>(machineName, hKey, result);
}

LONG connectRegistry(LPCSTR machineName, HKEY hKey, PHKEY result)
{
    return connectRegistryAs<AnsiText>(machineName, hKey, result);
}

LONG notifyChange(HKEY hKey, BOOL watchSubtree, DWORD filter, std::function<void()> set, BOOL asynchronous)
{
    constexpr DWORD knownFilters
        = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES | REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;
    if (filter & ~knownFilters)
        return ERROR_INVALID_PARAMETER;
    if (asynchronous)
        return watchKey(hKey, watchSubtree, filter, std::move(set));
    auto signal = std::make_shared<Signal>();
    if (LONG error = watchKey(hKey, watchSubtree, filter, [signal] { signal->set(); }))
        return error;
    signal->wait();
    return ERROR_SUCCESS;
}

}
