#include "TraceFlags.h"

#include <windows.h>

#include <setupapi.h>
#include <winsvc.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <vector>

namespace ntsim {

namespace {

struct Name {
    uint64_t value;
    const char* name;
};

// A set of bits: named combinations are tried first, so that KEY_READ
// reads as itself rather than as its four rights.
struct FlagSet {
    std::vector<Name> names;
    bool enumeration { false }; // one value, not bits
};

#define NAMED(x) Name { static_cast<uint64_t>(x), #x }

const FlagSet standardRights {
    { NAMED(DELETE), NAMED(READ_CONTROL), NAMED(WRITE_DAC), NAMED(WRITE_OWNER), NAMED(SYNCHRONIZE),
        NAMED(MAXIMUM_ALLOWED), NAMED(GENERIC_ALL), NAMED(GENERIC_READ), NAMED(GENERIC_WRITE),
        NAMED(GENERIC_EXECUTE) }
};

const FlagSet registryRights {
    { NAMED(KEY_ALL_ACCESS), NAMED(KEY_READ), NAMED(KEY_WRITE), NAMED(KEY_QUERY_VALUE), NAMED(KEY_SET_VALUE),
        NAMED(KEY_CREATE_SUB_KEY), NAMED(KEY_ENUMERATE_SUB_KEYS), NAMED(KEY_NOTIFY), NAMED(KEY_CREATE_LINK),
        NAMED(DELETE), NAMED(READ_CONTROL), NAMED(WRITE_DAC), NAMED(WRITE_OWNER), NAMED(MAXIMUM_ALLOWED),
        NAMED(GENERIC_ALL), NAMED(GENERIC_READ), NAMED(GENERIC_WRITE), NAMED(GENERIC_EXECUTE) }
};

const FlagSet managerRights {
    { NAMED(SC_MANAGER_ALL_ACCESS), NAMED(SC_MANAGER_CONNECT), NAMED(SC_MANAGER_CREATE_SERVICE),
        NAMED(SC_MANAGER_ENUMERATE_SERVICE), NAMED(SC_MANAGER_LOCK), NAMED(SC_MANAGER_QUERY_LOCK_STATUS),
        NAMED(SC_MANAGER_MODIFY_BOOT_CONFIG), NAMED(DELETE), NAMED(READ_CONTROL), NAMED(WRITE_DAC),
        NAMED(WRITE_OWNER), NAMED(MAXIMUM_ALLOWED), NAMED(GENERIC_ALL), NAMED(GENERIC_READ),
        NAMED(GENERIC_WRITE), NAMED(GENERIC_EXECUTE) }
};

const FlagSet serviceRights {
    { NAMED(SERVICE_ALL_ACCESS), NAMED(SERVICE_QUERY_CONFIG), NAMED(SERVICE_CHANGE_CONFIG),
        NAMED(SERVICE_QUERY_STATUS), NAMED(SERVICE_ENUMERATE_DEPENDENTS), NAMED(SERVICE_START), NAMED(SERVICE_STOP),
        NAMED(SERVICE_PAUSE_CONTINUE), NAMED(SERVICE_INTERROGATE), NAMED(SERVICE_USER_DEFINED_CONTROL),
        NAMED(DELETE), NAMED(READ_CONTROL), NAMED(WRITE_DAC), NAMED(WRITE_OWNER), NAMED(MAXIMUM_ALLOWED),
        NAMED(GENERIC_ALL), NAMED(GENERIC_READ), NAMED(GENERIC_WRITE), NAMED(GENERIC_EXECUTE) }
};

const FlagSet shareModes { { NAMED(FILE_SHARE_READ), NAMED(FILE_SHARE_WRITE), NAMED(FILE_SHARE_DELETE) } };

const FlagSet dispositions {
    { NAMED(CREATE_NEW), NAMED(CREATE_ALWAYS), NAMED(OPEN_EXISTING), NAMED(OPEN_ALWAYS), NAMED(TRUNCATE_EXISTING) },
    true
};

const FlagSet fileFlags {
    { NAMED(FILE_ATTRIBUTE_READONLY), NAMED(FILE_ATTRIBUTE_HIDDEN), NAMED(FILE_ATTRIBUTE_SYSTEM),
        NAMED(FILE_ATTRIBUTE_DIRECTORY), NAMED(FILE_ATTRIBUTE_ARCHIVE), NAMED(FILE_ATTRIBUTE_NORMAL),
        NAMED(FILE_ATTRIBUTE_TEMPORARY), NAMED(FILE_FLAG_DELETE_ON_CLOSE), NAMED(FILE_FLAG_BACKUP_SEMANTICS) }
};

const FlagSet valueTypes {
    { NAMED(REG_NONE), NAMED(REG_SZ), NAMED(REG_EXPAND_SZ), NAMED(REG_BINARY), NAMED(REG_DWORD),
        NAMED(REG_DWORD_BIG_ENDIAN), NAMED(REG_LINK), NAMED(REG_MULTI_SZ), NAMED(REG_RESOURCE_LIST),
        NAMED(REG_FULL_RESOURCE_DESCRIPTOR), NAMED(REG_RESOURCE_REQUIREMENTS_LIST) },
    true
};

const FlagSet keyOptions {
    { NAMED(REG_OPTION_VOLATILE), NAMED(REG_OPTION_CREATE_LINK), NAMED(REG_OPTION_BACKUP_RESTORE) }
};

const FlagSet serviceTypes {
    { NAMED(SERVICE_KERNEL_DRIVER), NAMED(SERVICE_FILE_SYSTEM_DRIVER), NAMED(SERVICE_WIN32_OWN_PROCESS),
        NAMED(SERVICE_WIN32_SHARE_PROCESS), NAMED(SERVICE_INTERACTIVE_PROCESS) }
};

const FlagSet startTypes {
    { NAMED(SERVICE_BOOT_START), NAMED(SERVICE_SYSTEM_START), NAMED(SERVICE_AUTO_START), NAMED(SERVICE_DEMAND_START),
        NAMED(SERVICE_DISABLED) },
    true
};

const FlagSet errorControls {
    { NAMED(SERVICE_ERROR_IGNORE), NAMED(SERVICE_ERROR_NORMAL), NAMED(SERVICE_ERROR_SEVERE),
        NAMED(SERVICE_ERROR_CRITICAL) },
    true
};

const FlagSet serviceControls {
    { NAMED(SERVICE_CONTROL_STOP), NAMED(SERVICE_CONTROL_PAUSE), NAMED(SERVICE_CONTROL_CONTINUE),
        NAMED(SERVICE_CONTROL_INTERROGATE), NAMED(SERVICE_CONTROL_SHUTDOWN) },
    true
};

// The button set and the icon are small numbers, not bits: larger values
// are tried first, so that MB_ICONWARNING is not read as two icons.
const FlagSet boxStyles {
    { NAMED(MB_RETRYCANCEL), NAMED(MB_YESNO), NAMED(MB_YESNOCANCEL), NAMED(MB_ABORTRETRYIGNORE), NAMED(MB_OKCANCEL),
        NAMED(MB_ICONINFORMATION), NAMED(MB_ICONWARNING), NAMED(MB_ICONQUESTION), NAMED(MB_ICONERROR),
        NAMED(MB_DEFBUTTON3), NAMED(MB_DEFBUTTON2), NAMED(MB_SYSTEMMODAL), NAMED(MB_TASKMODAL),
        NAMED(MB_SETFOREGROUND), NAMED(MB_TOPMOST) }
};

const FlagSet creationFlags {
    { NAMED(CREATE_SUSPENDED), NAMED(DETACHED_PROCESS), NAMED(CREATE_NEW_CONSOLE), NAMED(CREATE_DEFAULT_ERROR_MODE) }
};

const FlagSet classDevsFlags {
    { NAMED(DIGCF_DEFAULT), NAMED(DIGCF_PRESENT), NAMED(DIGCF_ALLCLASSES), NAMED(DIGCF_PROFILE),
        NAMED(DIGCF_DEVICEINTERFACE) }
};

const FlagSet installFlags { { NAMED(SPINST_ALL), NAMED(SPINST_LOGCONFIG), NAMED(SPINST_INIFILES),
    NAMED(SPINST_REGISTRY), NAMED(SPINST_INI2REG), NAMED(SPINST_FILES), NAMED(SPINST_SINGLESECTION) } };

const FlagSet copyFlags {
    { NAMED(SP_COPY_DELETESOURCE), NAMED(SP_COPY_REPLACEONLY), NAMED(SP_COPY_NEWER), NAMED(SP_COPY_NOOVERWRITE),
        NAMED(SP_COPY_NODECOMP), NAMED(SP_COPY_LANGUAGEAWARE), NAMED(SP_COPY_SOURCE_ABSOLUTE),
        NAMED(SP_COPY_SOURCEPATH_ABSOLUTE), NAMED(SP_COPY_IN_USE_NEEDS_REBOOT), NAMED(SP_COPY_FORCE_IN_USE),
        NAMED(SP_COPY_NOSKIP), NAMED(SP_COPY_FORCE_NOOVERWRITE), NAMED(SP_COPY_FORCE_NEWER),
        NAMED(SP_COPY_WARNIFSKIP), NAMED(SP_COPY_NOBROWSE) }
};

const FlagSet infStyles { { NAMED(INF_STYLE_OLDNT), NAMED(INF_STYLE_WIN4) } };

#undef NAMED

// Which set a parameter takes: by its type, or by its name in one header,
// or in one call where a name means different things across a header.
struct Rule {
    const char* header; // null for any
    const char* call;   // null for any
    const char* type;   // null for any
    const char* name;   // null for any
    const FlagSet* set;
};

const Rule rules[] = {
    { nullptr, nullptr, "REGSAM", nullptr, &registryRights },
    { "winreg.h", nullptr, nullptr, "dwType", &valueTypes },
    { "winreg.h", nullptr, nullptr, "dwOptions", &keyOptions },
    { "winsvc.h", "OpenSCManagerA", nullptr, "dwDesiredAccess", &managerRights },
    { "winsvc.h", "OpenSCManagerW", nullptr, "dwDesiredAccess", &managerRights },
    { "winsvc.h", nullptr, nullptr, "dwDesiredAccess", &serviceRights },
    { "winsvc.h", nullptr, nullptr, "dwServiceType", &serviceTypes },
    { "winsvc.h", nullptr, nullptr, "dwStartType", &startTypes },
    { "winsvc.h", nullptr, nullptr, "dwErrorControl", &errorControls },
    { "winsvc.h", nullptr, nullptr, "dwControl", &serviceControls },
    { "winbase.h", nullptr, nullptr, "dwShareMode", &shareModes },
    { "winbase.h", nullptr, nullptr, "dwCreationDisposition", &dispositions },
    { "winbase.h", nullptr, nullptr, "dwFlagsAndAttributes", &fileFlags },
    { "winbase.h", nullptr, nullptr, "dwFileAttributes", &fileFlags },
    { "winbase.h", nullptr, nullptr, "dwCreationFlags", &creationFlags },
    { "winbase.h", nullptr, nullptr, "dwDesiredAccess", &standardRights },
    { "winuser.h", nullptr, nullptr, "uType", &boxStyles },
    { "setupapi.h", nullptr, nullptr, "InfStyle", &infStyles },
    { "setupapi.h", nullptr, nullptr, "CopyFlags", &copyFlags },
    { "setupapi.h", "SetupInstallFromInfSectionA", nullptr, "Flags", &installFlags },
    { "setupapi.h", "SetupInstallFromInfSectionW", nullptr, "Flags", &installFlags },
    { "setupapi.h", "SetupDiGetClassDevsA", nullptr, "Flags", &classDevsFlags },
    { "setupapi.h", "SetupDiGetClassDevsW", nullptr, "Flags", &classDevsFlags },
};

bool matches(const char* wanted, const char* actual)
{
    return !wanted || std::strcmp(wanted, actual) == 0;
}

const FlagSet* setOf(const ApiSignature& api, const ApiParameter& parameter)
{
    for (const Rule& rule : rules)
        if (matches(rule.header, api.header) && matches(rule.call, api.name) && matches(rule.type, parameter.type)
            && matches(rule.name, parameter.name))
            return rule.set;
    return nullptr;
}

std::string hex(uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

}

std::optional<std::string> describeFlags(const ApiSignature& api, unsigned parameter, uint64_t value)
{
    if (parameter >= api.parameterCount)
        return std::nullopt;
    const FlagSet* set = setOf(api, api.parameters[parameter]);
    if (!set)
        return std::nullopt;
    if (set->enumeration) {
        for (const Name& n : set->names)
            if (n.value == value)
                return std::to_string(value) + " " + n.name;
        return std::to_string(value);
    }
    std::string names;
    uint64_t left = value;
    for (const Name& n : set->names) {
        if (n.value && (left & n.value) == n.value) {
            names += (names.empty() ? "" : "|") + std::string(n.name);
            left &= ~n.value;
        }
    }
    if (left && !names.empty())
        names += "|" + hex(left);
    return names.empty() ? hex(value) : hex(value) + " " + names;
}

}
