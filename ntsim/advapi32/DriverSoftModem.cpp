#include "DriverSoftModem.h"

#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "registry/Key.h"

#include <cstdlib>
#include <set>

namespace ntsim {

namespace {

const PciDevice* findSoftModem()
{
    for (auto& device : Machine::current().config().pci)
        if (equalsNoCase(device.kind, "softmodem"))
            return &device;
    return nullptr;
}

// The number of a "COMn" port name, or 0.
unsigned comNumber(const std::string& port)
{
    if (port.size() < 4 || !equalsNoCase(port.substr(0, 3), "COM"))
        return 0;
    char* end = nullptr;
    unsigned long n = std::strtoul(port.c_str() + 3, &end, 10);
    return *end == 0 ? static_cast<unsigned>(n) : 0;
}

LONG writePciValues(const std::string& service, const PciDevice& device)
{
    registry::SystemKey parameters(registry::Key::Text::Utf8);
    std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + service + "\\Parameters\\" + service + "0";
    LONG status = parameters.create(path);
    if (status != ERROR_SUCCESS)
        return status;
    const std::pair<const char*, DWORD> values[] = {
        { "PciVendorID", device.vendorId },
        { "PciDeviceID", device.deviceId },
        { "PciSubsystemID", device.subsystemId },
        { "PciSubsystemVendorID", device.subsystemVendorId },
        { "PciRevision", device.revision },
    };
    for (auto& [name, value] : values)
        if ((status = parameters.setDword(name, value)) != ERROR_SUCCESS)
            return status;
    return ERROR_SUCCESS;
}

}

uint32_t SoftModemDriver::start(Json& data)
{
    const PciDevice* device = findSoftModem();
    if (!device)
        return ERROR_FILE_NOT_FOUND; // STATUS_NO_SUCH_DEVICE
    if (LONG status = writePciValues(service(), *device); status != ERROR_SUCCESS)
        return static_cast<uint32_t>(status);

    registry::SystemKey map(registry::Key::Text::Utf8);
    LONG status = map.create(serialCommKey, KEY_ALL_ACCESS, REG_OPTION_VOLATILE);
    if (status != ERROR_SUCCESS)
        return static_cast<uint32_t>(status);
    std::string deviceName = "\\Device\\" + service() + "0";
    std::string port;
    std::set<unsigned> used;
    for (auto& [name, value] : map.values()) {
        std::string text = value.type == REG_SZ || value.type == REG_EXPAND_SZ ? registry::valueText(value) : "";
        if (name == deviceName)
            port = text;
        else if (unsigned n = comNumber(text))
            used.insert(n);
    }
    if (port.empty()) {
        unsigned n = 1;
        while (used.count(n))
            ++n;
        port = "COM" + std::to_string(n);
    }
    if ((status = map.setString(deviceName.c_str(), port)) != ERROR_SUCCESS)
        return static_cast<uint32_t>(status);
    data["serialDevice"] = deviceName;
    data["port"] = port;
    return ERROR_SUCCESS;
}

DWORD SoftModemDriver::stop(Json& data)
{
    std::string deviceName = stringMember(data, "serialDevice");
    if (!deviceName.empty()) {
        registry::SystemKey map(registry::Key::Text::Utf8);
        if (map.open(serialCommKey, KEY_SET_VALUE | KEY_QUERY_VALUE) == ERROR_SUCCESS)
            map.deleteValue(deviceName.c_str());
    }
    return SERVICE_STOPPED;
}

}
