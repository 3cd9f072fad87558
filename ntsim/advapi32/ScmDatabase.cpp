#include "ScmDatabase.h"

#include "registry/Key.h"
#include "machine/Unicode.h"

#include <cstring>

namespace ntsim::scm {

namespace {

constexpr size_t maxNameLength = 256;

using registry::Key;

std::optional<ServiceConfig> readKey(const std::string& storedName)
{
    registry::SystemKey key(Key::Text::Utf8);
    if (key.open(std::string(servicesKey) + "\\" + storedName) != ERROR_SUCCESS)
        return std::nullopt;
    auto type = key.dword("Type");
    if (!type)
        return std::nullopt;
    ServiceConfig c;
    c.name = storedName;
    c.type = *type;
    c.start = key.dword("Start").value_or(SERVICE_DEMAND_START);
    c.errorControl = key.dword("ErrorControl").value_or(SERVICE_ERROR_NORMAL);
    c.imagePath = key.string("ImagePath").value_or("");
    c.displayName = key.string("DisplayName").value_or("");
    c.group = key.string("Group").value_or("");
    c.dependOnService = key.multiString("DependOnService").value_or(std::vector<std::string> {});
    c.dependOnGroup = key.multiString("DependOnGroup").value_or(std::vector<std::string> {});
    c.objectName = key.string("ObjectName").value_or("");
    c.tag = key.dword("Tag");
    return c;
}

}

bool ServiceConfig::dependsOn(const ServiceConfig& other) const
{
    for (auto& service : dependOnService)
        if (equalsNoCaseUtf8(service, other.name))
            return true;
    if (other.group.empty())
        return false;
    for (auto& g : dependOnGroup)
        if (equalsNoCaseUtf8(g, other.group))
            return true;
    return false;
}

std::optional<ServiceConfig> readService(const std::string& name)
{
    registry::SystemKey services(Key::Text::Utf8);
    if (services.open(servicesKey) != ERROR_SUCCESS)
        return std::nullopt;
    for (auto& stored : services.subkeys())
        if (equalsNoCaseUtf8(stored, name))
            return readKey(stored);
    return std::nullopt;
}

std::vector<ServiceConfig> allServices()
{
    std::vector<ServiceConfig> out;
    registry::SystemKey services(Key::Text::Utf8);
    if (services.open(servicesKey) != ERROR_SUCCESS)
        return out;
    for (auto& stored : services.subkeys())
        if (auto c = readKey(stored))
            out.push_back(std::move(*c));
    return out;
}

LONG writeService(const ServiceConfig& c)
{
    registry::SystemKey key(Key::Text::Utf8);
    LONG status = key.create(std::string(servicesKey) + "\\" + c.name);
    if (status != ERROR_SUCCESS)
        return status;
    auto setOrDelete = [&](const char* name, const std::string& value, DWORD type) {
        if (!value.empty())
            return key.setString(name, value, type);
        key.deleteValue(name);
        return static_cast<LONG>(ERROR_SUCCESS);
    };
    auto setListOrDelete = [&](const char* name, const std::vector<std::string>& values) {
        if (!values.empty())
            return key.setMultiString(name, values);
        key.deleteValue(name);
        return static_cast<LONG>(ERROR_SUCCESS);
    };
    for (LONG s : { key.setDword("Type", c.type), key.setDword("Start", c.start),
             key.setDword("ErrorControl", c.errorControl), setOrDelete("ImagePath", c.imagePath, REG_EXPAND_SZ),
             setOrDelete("DisplayName", c.displayName, REG_SZ), setOrDelete("Group", c.group, REG_SZ),
             setListOrDelete("DependOnService", c.dependOnService), setListOrDelete("DependOnGroup", c.dependOnGroup),
             setOrDelete("ObjectName", c.objectName, REG_SZ) }) {
        if (s != ERROR_SUCCESS)
            return s;
    }
    if (c.tag)
        return key.setDword("Tag", *c.tag);
    return ERROR_SUCCESS;
}

LONG deleteService(const std::string& name)
{
    return registry::deleteSystemKeyTree(std::string(servicesKey) + "\\" + name, Key::Text::Utf8);
}

bool isValidServiceName(const std::string& name)
{
    return !name.empty() && utf16Length(name) <= maxNameLength && name.find_first_of("\\/") == std::string::npos;
}

bool isValidDisplayName(const std::string& name)
{
    return utf16Length(name) <= maxNameLength;
}

}
