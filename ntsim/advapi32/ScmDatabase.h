// The service database: the registry's Services key, one subkey a service.
// The service controller keeps its text in UTF-8, so that the W calls lose
// nothing; the A calls convert through the machine's ANSI code page.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ntsim::scm {

inline constexpr const char* servicesKey = "SYSTEM\\CurrentControlSet\\Services";

struct ServiceConfig {
    std::string name; // the key's name as stored
    DWORD type { 0 };
    DWORD start { SERVICE_DEMAND_START };
    DWORD errorControl { SERVICE_ERROR_NORMAL };
    std::string imagePath;
    std::string displayName;
    std::string group;
    std::vector<std::string> dependOnService;
    std::vector<std::string> dependOnGroup;
    std::string objectName;
    std::optional<DWORD> tag;

    bool isDriver() const { return (type & SERVICE_DRIVER) != 0; }
    // The name a user sees: the display name, else the key's name.
    const std::string& shownName() const { return displayName.empty() ? name : displayName; }
    // Whether another service (or this one) must run first: by name or by
    // its group.
    bool dependsOn(const ServiceConfig& other) const;
};

// A key of the Services key is a service when it has a Type value.
std::optional<ServiceConfig> readService(const std::string& name);
std::vector<ServiceConfig> allServices();

// Writes every value of the configuration, creating the key if needed.
LONG writeService(const ServiceConfig& config);
LONG deleteService(const std::string& name);

// Names as NT's service controller accepts them: at most 256 characters, a
// service's name neither empty nor with a slash or backslash.
bool isValidServiceName(const std::string& name);
bool isValidDisplayName(const std::string& name);

}
