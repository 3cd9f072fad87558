// AddReg, DelReg and Ini2Reg: registry lines of an INF, written through
// the public registry calls so that access checks and persistence apply.
#include "InstallSupport.h"

#include <cstdlib>

namespace ntsim::setupapi {

namespace {

// The key a line's root names; relativeRoot for HKR. Null if unknown.
HKEY rootKey(const std::string& name, HKEY relativeRoot, DWORD& error)
{
    struct Root {
        const char* shortName;
        const char* longName;
        HKEY key;
    };
    static const Root roots[] = {
        { "HKCR", "HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT },
        { "HKCU", "HKEY_CURRENT_USER", HKEY_CURRENT_USER },
        { "HKLM", "HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE },
        { "HKU", "HKEY_USERS", HKEY_USERS },
    };
    if (inf::equalsFolded(name, "HKR")) {
        error = relativeRoot ? NO_ERROR : ERROR_BADKEY;
        return relativeRoot;
    }
    for (auto& root : roots)
        if (inf::equalsFolded(name, root.shortName) || inf::equalsFolded(name, root.longName)) {
            error = NO_ERROR;
            return root.key;
        }
    error = ERROR_BADKEY;
    return nullptr;
}

struct RegLine {
    HKEY root { nullptr };
    std::string subKey;
    bool hasValueName { false };
    std::string valueName;
    DWORD flags { 0 };
    std::vector<std::string> data; // fields 5 and on
};

// The registry below takes ANSI: the line's texts are converted here.
DWORD readRegLine(const InfFile& file, const inf::Line& line, HKEY relativeRoot, RegLine& out)
{
    std::vector<std::string> fields = file.values(line);
    for (auto& field : fields)
        field = toAnsi(field);
    if (fields.empty())
        return ERROR_INVALID_DATA;
    DWORD error = NO_ERROR;
    out.root = rootKey(fields[0], relativeRoot, error);
    if (error != NO_ERROR)
        return error;
    if (fields.size() > 1)
        out.subKey = fields[1];
    if (fields.size() > 2) {
        out.hasValueName = true;
        out.valueName = fields[2];
    }
    if (fields.size() > 3 && !intValue(fields[3], 0, out.flags))
        return ERROR_INVALID_DATA;
    for (size_t i = 4; i < fields.size(); ++i)
        out.data.push_back(fields[i]);
    return NO_ERROR;
}

// The registry type and bytes an AddReg line asks for.
DWORD encodeValue(const RegLine& line, DWORD& type, std::string& bytes)
{
    DWORD kind = line.flags & FLG_ADDREG_TYPE_MASK;
    bytes.clear();
    auto binary = [&]() -> DWORD {
        for (auto& field : line.data) {
            BYTE b = 0;
            if (!readHexByte(field, b))
                return ERROR_INVALID_DATA;
            bytes += static_cast<char>(b);
        }
        return NO_ERROR;
    };
    switch (kind) {
    case FLG_ADDREG_TYPE_SZ:
    case FLG_ADDREG_TYPE_EXPAND_SZ:
        type = kind == FLG_ADDREG_TYPE_SZ ? REG_SZ : REG_EXPAND_SZ;
        bytes = line.data.empty() ? std::string() : line.data.front();
        bytes += '\0';
        return NO_ERROR;
    case FLG_ADDREG_TYPE_MULTI_SZ:
        type = REG_MULTI_SZ;
        for (auto& s : line.data) {
            bytes += s;
            bytes += '\0';
        }
        bytes += '\0';
        return NO_ERROR;
    case FLG_ADDREG_TYPE_DWORD: {
        type = REG_DWORD;
        if (line.data.size() > 1)
            return binary();
        DWORD n = 0;
        if (!intValue(line.data.empty() ? std::string() : line.data.front(), 0, n))
            return ERROR_INVALID_DATA;
        for (int i = 0; i < 4; ++i)
            bytes += static_cast<char>((n >> (8 * i)) & 0xFF);
        return NO_ERROR;
    }
    case FLG_ADDREG_TYPE_NONE:
        type = REG_NONE;
        return binary();
    default:
        if (!(kind & FLG_ADDREG_BINVALUETYPE))
            return ERROR_INVALID_DATA;
        // Binary data of the registry type in the flags' high word.
        type = kind == FLG_ADDREG_TYPE_BINARY ? REG_BINARY : HIWORD(kind);
        return binary();
    }
}

bool valueExists(HKEY key, const std::string& name, DWORD* type = nullptr, std::string* data = nullptr)
{
    DWORD size = 0;
    DWORD t = 0;
    if (registry::queryValue(key, name.c_str(), &t, nullptr, &size) != ERROR_SUCCESS)
        return false;
    if (type)
        *type = t;
    if (data) {
        data->assign(size, '\0');
        if (size && registry::queryValue(key, name.c_str(), &t, reinterpret_cast<LPBYTE>(&(*data)[0]), &size)
                != ERROR_SUCCESS)
            return false;
        data->resize(size);
    }
    return true;
}

std::vector<std::string> splitMultiSz(const std::string& data)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos)
            end = data.size();
        if (end == pos)
            break;
        out.push_back(data.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

DWORD addRegLine(const InfFile& file, const inf::Line& inLine, HKEY relativeRoot)
{
    RegLine line;
    if (DWORD error = readRegLine(file, inLine, relativeRoot, line); error != NO_ERROR)
        return error;
    HKEY key = nullptr;
    LONG status = registry::createKey(line.root, line.subKey.c_str(), nullptr, REG_OPTION_NON_VOLATILE,
        KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    DWORD result = NO_ERROR;
    bool exists = line.hasValueName && valueExists(key, line.valueName);
    if (!line.hasValueName || (line.flags & FLG_ADDREG_KEYONLY)) {
        // The key alone.
    } else if (line.flags & FLG_ADDREG_DELVAL) {
        status = registry::deleteValue(key, line.valueName.c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            result = static_cast<DWORD>(status);
    } else if ((line.flags & FLG_ADDREG_NOCLOBBER) && exists) {
        // Kept as it is.
    } else if ((line.flags & FLG_ADDREG_OVERWRITEONLY) && !exists) {
        // Only replaces a value that is there.
    } else {
        DWORD type = REG_SZ;
        std::string bytes;
        result = encodeValue(line, type, bytes);
        if (result == NO_ERROR && (line.flags & FLG_ADDREG_APPEND)) {
            DWORD oldType = 0;
            std::string old;
            bool had = valueExists(key, line.valueName, &oldType, &old);
            // Only a list appends to a list: anything else stays as it was.
            if (type != REG_MULTI_SZ || (had && oldType != REG_MULTI_SZ)) {
                result = ERROR_INVALID_DATA;
            } else if (had) {
                std::vector<std::string> strings = splitMultiSz(old);
                for (auto& s : line.data) {
                    bool present = false;
                    for (auto& have : strings)
                        present = present || inf::equalsFolded(have, s);
                    if (!present)
                        strings.push_back(s);
                }
                bytes.clear();
                for (auto& s : strings) {
                    bytes += s;
                    bytes += '\0';
                }
                bytes += '\0';
            }
        }
        if (result == NO_ERROR) {
            status = registry::setValue(key, line.valueName.c_str(), type,
                reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
            if (status != ERROR_SUCCESS)
                result = static_cast<DWORD>(status);
        }
    }
    registry::closeKey(key);
    return result;
}

DWORD delRegLine(const InfFile& file, const inf::Line& inLine, HKEY relativeRoot)
{
    RegLine line;
    if (DWORD error = readRegLine(file, inLine, relativeRoot, line); error != NO_ERROR)
        return error;
    if (!line.hasValueName) {
        if (line.subKey.empty())
            return ERROR_INVALID_DATA; // never the root itself
        LONG status = registry::deleteKeyTree(line.root, line.subKey);
        return status == ERROR_FILE_NOT_FOUND ? NO_ERROR : static_cast<DWORD>(status);
    }
    HKEY key = nullptr;
    LONG status = registry::openKey(line.root, line.subKey.c_str(), KEY_SET_VALUE, &key);
    if (status == ERROR_FILE_NOT_FOUND)
        return NO_ERROR;
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    status = registry::deleteValue(key, line.valueName.c_str());
    registry::closeKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? NO_ERROR : static_cast<DWORD>(status);
}

using LineInstaller = DWORD (*)(const InfFile&, const inf::Line&, HKEY);

DWORD installLists(const InfFile& file, const inf::Section& section, const char* directive, HKEY relativeRoot,
    LineInstaller install)
{
    for (auto& name : file.directiveValues(section, directive)) {
        const inf::Section* list = file.section(name);
        if (!list)
            continue; // a named list without lines
        for (auto& line : list->lines)
            if (DWORD error = install(file, line, relativeRoot); error != NO_ERROR)
                return error;
    }
    return NO_ERROR;
}

DWORD ini2RegLine(const InfFile& file, const inf::Line& line, HKEY)
{
    // ini-file, ini-section, [ini-key], reg-root, subkey[, flags]
    std::vector<std::string> f = file.values(line);
    for (auto& field : f)
        field = toAnsi(field);
    if (f.size() < 5)
        return ERROR_INVALID_DATA;
    DWORD error = NO_ERROR;
    HKEY root = rootKey(f[3], nullptr, error);
    if (error != NO_ERROR)
        return error;
    std::vector<std::string> keys;
    if (!f[2].empty()) {
        keys.push_back(f[2]);
    } else {
        std::string list(32768, '\0');
        DWORD n = GetPrivateProfileStringA(f[1].c_str(), nullptr, "", &list[0],
            static_cast<DWORD>(list.size()), f[0].c_str());
        list.resize(n);
        keys = splitMultiSz(list);
    }
    HKEY key = nullptr;
    LONG status = registry::createKey(root, f[4].c_str(), nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
        nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    for (auto& k : keys) {
        char value[inf::MaxStringLength + 1];
        DWORD n = GetPrivateProfileStringA(f[1].c_str(), k.c_str(), "", value, sizeof value, f[0].c_str());
        status = registry::setValue(key, k.c_str(), REG_SZ, reinterpret_cast<const BYTE*>(value), n + 1);
        if (status != ERROR_SUCCESS)
            break;
    }
    registry::closeKey(key);
    return static_cast<DWORD>(status);
}

DWORD updateIniLine(const InfFile& file, const inf::Line& line, HKEY)
{
    // ini-file, ini-section, [old-entry], [new-entry], [flags]
    std::vector<std::string> f = file.values(line);
    for (auto& field : f)
        field = toAnsi(field);
    if (f.size() < 2)
        return ERROR_INVALID_DATA;
    auto keyOf = [](const std::string& entry) {
        std::string key = entry.substr(0, entry.find('='));
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        return key;
    };
    auto valueOf = [](const std::string& entry) {
        size_t eq = entry.find('=');
        std::string value = eq == std::string::npos ? std::string() : entry.substr(eq + 1);
        while (!value.empty() && value.front() == ' ')
            value.erase(0, 1);
        return value;
    };
    if (f.size() > 2 && !f[2].empty())
        WritePrivateProfileStringA(f[1].c_str(), keyOf(f[2]).c_str(), nullptr, f[0].c_str());
    if (f.size() > 3 && !f[3].empty()
        && !WritePrivateProfileStringA(f[1].c_str(), keyOf(f[3]).c_str(), valueOf(f[3]).c_str(), f[0].c_str()))
        return GetLastError();
    return NO_ERROR;
}

}

DWORD installRegistry(const InfFile& file, const inf::Section& section, HKEY relativeRoot)
{
    // One commit for the section; the lines before a failing one stay done.
    return registry::inOneTransaction([&] {
        if (DWORD error = installLists(file, section, "DelReg", relativeRoot, delRegLine); error != NO_ERROR)
            return error;
        return installLists(file, section, "AddReg", relativeRoot, addRegLine);
    });
}

DWORD installIni2Reg(const InfFile& file, const inf::Section& section)
{
    return registry::inOneTransaction([&] { return installLists(file, section, "Ini2Reg", nullptr, ini2RegLine); });
}

DWORD installUpdateInis(const InfFile& file, const inf::Section& section)
{
    return installLists(file, section, "UpdateInis", nullptr, updateIniLine);
}

}
