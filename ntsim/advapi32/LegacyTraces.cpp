#include "LegacyTraces.h"

#include "machine/NtPath.h"
#include "machine/Unicode.h"
#include "registry/Keys.h"
#include "registry/Key.h"

#include <algorithm>
#include <optional>
#include <variant>
#include <vector>

namespace ntsim {

namespace {

constexpr const char* enumRoot = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
constexpr const char* rootDevice = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
constexpr const char* attachedComponents = "AttachedComponents";

std::string legacyKeyName(const std::string& service)
{
    return "LEGACY_" + upperUtf8(service);
}

// A value someone already wrote is theirs: only missing ones are added.
struct Entry {
    const char* name;
    std::variant<DWORD, std::string> data;
};

LONG addMissing(registry::SystemKey& key, std::initializer_list<Entry> entries)
{
    for (auto& entry : entries) {
        if (key.hasValue(entry.name))
            continue;
        LONG status = std::holds_alternative<DWORD>(entry.data)
            ? key.setDword(entry.name, std::get<DWORD>(entry.data))
            : key.setString(entry.name, std::get<std::string>(entry.data));
        if (status != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

LONG writeDeviceKeys(const std::string& service, const std::string& description)
{
    const std::string path = enumRoot + legacyKeyName(service);
    registry::SystemKey device(registry::Key::Text::Utf8);
    LONG status = device.create(path);
    if (status == ERROR_SUCCESS)
        status = addMissing(device, { { "NextInstance", DWORD(1) } });
    if (status != ERROR_SUCCESS)
        return status;
    registry::SystemKey instance(registry::Key::Text::Utf8);
    if ((status = instance.create(path + "\\0000")) != ERROR_SUCCESS)
        return status;
    return addMissing(instance,
        {
            { "Service", service },
            { "Legacy", DWORD(1) },
            { "ConfigFlags", DWORD(0) },
            { "Class", std::string("LegacyDriver") },
            { "ClassGUID", std::string("{8ECC055D-047F-11D1-A537-0000F8753ED1}") },
            { "DeviceDesc", description },
        });
}

// The list's strings end at its first empty one; what the list holds stays
// byte for byte and the new string follows it.
LONG attachToRoot(const std::string& instanceId)
{
    registry::SystemKey root(registry::Key::Text::Utf8);
    LONG status = root.create(rootDevice);
    if (status != ERROR_SUCCESS)
        return status;
    registry::ValueData stored;
    std::optional<std::vector<BYTE>> data;
    if (root.read(attachedComponents, stored) == ERROR_SUCCESS) {
        if (stored.type != REG_MULTI_SZ)
            return ERROR_SUCCESS; // not a list we could add to without losing it
        data = std::move(stored.data);
    }
    std::vector<BYTE> list;
    if (data) {
        size_t at = 0;
        while (at < data->size() && (*data)[at]) {
            size_t end = at;
            while (end < data->size() && (*data)[end])
                ++end;
            std::string item(data->begin() + at, data->begin() + end);
            if (equalsNoCaseUtf8(item, instanceId))
                return ERROR_SUCCESS;
            at = end + 1;
        }
        list.assign(data->begin(), data->begin() + std::min(at, data->size()));
        if (!list.empty() && list.back())
            list.push_back(0); // the last string had lost its terminator
    }
    list.insert(list.end(), instanceId.begin(), instanceId.end());
    list.push_back(0);
    list.push_back(0);
    return root.write(attachedComponents, registry::ValueData { REG_MULTI_SZ, list });
}

LONG writeServiceEnum(const std::string& service, const std::string& instanceId)
{
    registry::SystemKey serviceEnum(registry::Key::Text::Utf8);
    LONG status = serviceEnum.create(std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Enum");
    if (status != ERROR_SUCCESS)
        return status;
    return addMissing(serviceEnum, { { "0", instanceId }, { "Count", DWORD(1) }, { "NextInstance", DWORD(1) } });
}

}

std::string legacyInstanceId(const std::string& service)
{
    return "Root\\" + legacyKeyName(service) + "\\0000";
}

LONG recordLegacyDriver(const std::string& service, const std::string& description)
{
    return static_cast<LONG>(registry::inOneTransaction([&]() -> DWORD {
        std::string instanceId = legacyInstanceId(service);
        LONG status = writeDeviceKeys(service, description);
        if (status == ERROR_SUCCESS)
            status = attachToRoot(instanceId);
        if (status == ERROR_SUCCESS)
            status = writeServiceEnum(service, instanceId);
        return static_cast<DWORD>(status);
    }));
}

}
