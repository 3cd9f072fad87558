// The machine's Modem class installer. It installs a modem as the default
// installer does and then gives it what Unimodem needs: the model's
// identity, a country, and the model's response strings shared under
// Unimodem\DeviceSpecific; everything else it leaves to the default.
#include "DevInst.h"

#include "DeviceRegistry.h"

namespace ntsim::setupapi {

namespace {

constexpr char DeviceSpecific[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Unimodem\\DeviceSpecific";

// Models of one description, maker and provider share their responses.
std::string responsesKeyName(const DriverNode& node)
{
    std::string name = node.description + "::" + node.manufacturer + "::" + node.provider;
    // A key name holds no backslash.
    for (char& c : name)
        if (c == '\\')
            c = '/';
    return name;
}

// Country\Current as 00 01, no country, unless the model's INF gave one.
DWORD addCountry(const devreg::Key& driverKey)
{
    devreg::Key country;
    if (LONG status = country.create(driverKey.handle(), "Country"); status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    registry::ValueData current;
    if (country.read("Current", current) == ERROR_SUCCESS)
        return NO_ERROR;
    current.type = REG_BINARY;
    current.data = { 0x00, 0x01 };
    return static_cast<DWORD>(country.write("Current", current));
}

// Moves the driver key's Responses into the shared response key.
DWORD shareResponses(const devreg::Key& driverKey, const std::string& name)
{
    devreg::Key shared;
    if (LONG status = shared.create(HKEY_LOCAL_MACHINE, std::string(DeviceSpecific) + "\\" + toAnsi(name));
        status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    devreg::Key responses;
    if (responses.open(driverKey.handle(), "Responses", KEY_ALL_ACCESS) != ERROR_SUCCESS)
        return NO_ERROR;
    devreg::Key target;
    if (LONG status = target.create(shared.handle(), "Responses"); status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    for (auto& [valueName, value] : responses.values())
        if (LONG status = target.write(valueName, value); status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    responses.close();
    return static_cast<DWORD>(driverKey.deleteTree("Responses"));
}

DWORD installModem(DeviceInfoSet& set, Device& device)
{
    std::string driverKeyName;
    if (DWORD error = installDevice(set, device, driverKeyName); error != NO_ERROR)
        return error;
    const DriverNode& node = *device.selectedDriver();
    devreg::Key key;
    if (LONG status = devreg::openDriverKey(driverKeyName, key); status != ERROR_SUCCESS)
        return static_cast<DWORD>(status);
    std::string responses = responsesKeyName(node);
    const std::pair<const char*, std::string> values[] = {
        { "Manufacturer", node.manufacturer },
        { "Model", node.description },
        { "ResponsesKeyName", responses },
    };
    for (auto& [name, text] : values)
        if (LONG status = key.write(name, devreg::textValue(text)); status != ERROR_SUCCESS)
            return static_cast<DWORD>(status);
    if (DWORD error = addCountry(key); error != NO_ERROR)
        return error;
    return shareResponses(key, responses);
}

}

DWORD modemClassInstaller(DI_FUNCTION function, DeviceInfoSet& set, Device* device)
{
    if (function == DIF_INSTALLDEVICE && device)
        return installModem(set, *device);
    // Removal takes the default path: the device goes with its keys.
    return ERROR_DI_DO_DEFAULT;
}

}
