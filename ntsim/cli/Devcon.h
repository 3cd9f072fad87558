// ntsim devcon: the machine's devices as the field's devcon shows and
// changes them, through the device installer's own calls (not its entry
// points, so that a program's injected faults are not spent here).
#pragma once
#include <setupapi.h>

#include <memory>
#include <string>
#include <vector>

namespace ntsim::devcon {

using Args = std::vector<std::string>;

// One device of the machine as the verbs see it.
struct DeviceEntry {
    SP_DEVINFO_DATA data {};
    std::string instanceId;       // upper-cased, as devcon prints it
    std::string description;
    std::string className;
    std::string classGuid;
    std::vector<std::string> ids; // hardware ids, then compatible ids
    std::vector<std::string> hardwareIds;
    std::vector<std::string> compatibleIds;
    std::vector<std::string> upperFilters;
    std::vector<std::string> lowerFilters;
    std::string driver;           // below Control\Class, empty without one
    std::string service;
    DWORD configFlags { 0 };
};

// CONFIGFLAG_DISABLED of regstr.h: the device is not to be started.
constexpr DWORD configFlagDisabled = 0x00000001;

// The present devices of the machine, all classes, and the set that holds them.
class DeviceList {
public:
    DeviceList();
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    bool valid() const { return m_set != INVALID_HANDLE_VALUE; }
    DWORD error() const { return m_error; }
    HDEVINFO set() const { return m_set; }
    // The devices the patterns select, as devcon selects them: "=Class"
    // first narrows to a class, "@ID" matches instance ids, other patterns
    // hardware and compatible ids; '*' is a wildcard, case does not count.
    std::vector<DeviceEntry> select(const Args& patterns) const;

private:
    HDEVINFO m_set { INVALID_HANDLE_VALUE };
    DWORD m_error { NO_ERROR };
    std::vector<DeviceEntry> m_devices;
};

// What devcon says of a device's state ("Driver is running.").
std::string deviceState(const DeviceEntry& device);

// Machine text as UTF-8 for the terminal.
std::string utf8(const std::u16string& wide);
std::string utf8(const WCHAR* wide);
std::u16string wide(const std::string& utf8Text);
// "text of ERROR_NAME (code)" for a failed call.
std::string errorText(unsigned long error);

// The verbs, each with devcon's output. A verb that shows or changes
// devices takes one pattern at least, as devcon does.
int verbFind(const Args& args);
int verbHardwareIds(const Args& args);
int verbDriverFiles(const Args& args);
int verbStack(const Args& args);
int verbEnable(const Args& args);
int verbDisable(const Args& args);
int verbRestart(const Args& args);
int verbRescan(const Args& args);
int verbStatus(const Args& args);
int verbClasses(const Args& args);
int verbDriverNodes(const Args& args);
int verbInstall(const Args& args);
int verbRemove(const Args& args);

}
