// Driver lists: the model lines of the class's INFs in the INF directory
// (class drivers) or those whose ids match the device's (compatible
// drivers), their enumeration and the selected driver.
#include "DevInst.h"

#include "DeviceRegistry.h"
#include "InfFile.h"

#include "kernel32/CodePage.h"
#include "machine/ApiCall.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstring>

namespace ntsim::setupapi {

namespace {

ULONG_PTR nextSerial()
{
    static std::atomic<ULONG_PTR> serial { 1 };
    return serial++;
}

bool isDriverType(DWORD type)
{
    return type == SPDIT_CLASSDRIVER || type == SPDIT_COMPATDRIVER;
}

std::string ansi(const std::u16string& wide)
{
    std::string out;
    fromUtf16(wide, ansiCodePage(), out);
    return out;
}

void copyField(const std::string& text, WCHAR (&out)[LINE_LEN])
{
    std::u16string wide;
    toUtf16(text, ansiCodePage(), wide);
    size_t n = std::min(wide.size(), size_t(LINE_LEN - 1));
    std::memcpy(out, wide.data(), n * sizeof(WCHAR));
    out[n] = 0;
}

bool sameText(const WCHAR (&a)[LINE_LEN], const WCHAR (&b)[LINE_LEN])
{
    for (size_t i = 0; i < LINE_LEN; ++i) {
        if (a[i] != b[i])
            return false;
        if (!a[i])
            return true;
    }
    return true;
}

void describe(const DriverNode& node, SP_DRVINFO_DATA_V1_W& out)
{
    out.DriverType = node.type;
    out.Reserved = node.serial;
    copyField(node.description, out.Description);
    copyField(node.manufacturer, out.MfgName);
    copyField(node.provider, out.ProviderName);
}

// The *.INF files of a directory, regular files only, in NT's name order.
std::vector<std::string> infFilesIn(const std::string& ntDir)
{
    std::vector<std::string> names;
    std::string host = Machine::current().hostPath(ntDir);
    DIR* dir = host.empty() ? nullptr : opendir(host.c_str());
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        struct stat st;
        if (name.size() < 5 || !equalsNoCase(name.substr(name.size() - 4), ".INF")
            || lstat((host + "/" + name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return upperAscii(a) < upperAscii(b);
    });
    std::vector<std::string> paths;
    for (auto& name : names)
        paths.push_back(ntJoin(ntDir, name));
    return paths;
}

// The INFs a list is built from: the install parameters' single INF or
// directory, else the system's INF directory.
std::vector<std::string> infSources(const InstallParams& params)
{
    std::string path = params.driverPath.empty()
        ? std::string()
        : fullNtPath(ansi(params.driverPath), currentProcess().currentDirectory);
    if (params.flags & DI_ENUMSINGLEINF)
        return path.empty() ? std::vector<std::string>() : std::vector<std::string> { path };
    return infFilesIn(path.empty() ? std::string("C:\\WINNT\\INF") : path);
}

bool infOfClass(const InfFile& file, const devreg::ClassEntry& entry)
{
    GUID guid;
    std::string text = versionValue(file, "ClassGUID");
    if (!text.empty() && devreg::parseGuid(text, guid))
        return devreg::sameGuid(guid, entry.guid);
    return !entry.name.empty() && equalsNoCase(versionValue(file, "Class"), entry.name);
}

// Every model line of every manufacturer of an INF.
void readModels(const InfFile& file, DWORD type, std::vector<DriverNode>& out)
{
    const inf::Section* manufacturers = file.section("Manufacturer");
    if (!manufacturers)
        return;
    std::string provider = versionValue(file, "Provider");
    for (auto& line : manufacturers->lines) {
        std::string manufacturer, modelsName;
        if (file.field(line, 0, manufacturer) != NO_ERROR)
            continue;
        // "%Mfg%" alone names a models section of the manufacturer's name.
        if (!line.hasKey || file.field(line, 1, modelsName) != NO_ERROR)
            modelsName = manufacturer;
        const inf::Section* models = file.section(modelsName);
        if (!models)
            continue;
        for (auto& model : models->lines) {
            DriverNode node;
            node.type = type;
            if (file.field(model, 0, node.description) != NO_ERROR || file.field(model, 1, node.section) != NO_ERROR
                || node.section.empty())
                continue;
            for (DWORD i = 2; i <= model.values.size(); ++i) {
                std::string id;
                if (file.field(model, i, id) == NO_ERROR && !id.empty())
                    node.ids.push_back(id);
            }
            node.manufacturer = manufacturer;
            node.provider = provider;
            node.infPath = file.ntPath();
            out.push_back(std::move(node));
        }
    }
}

// The hardware ids, then the compatible ids, of a device.
std::vector<std::string> deviceIds(const Device& device)
{
    std::vector<std::string> ids;
    for (const char* name : { "HardwareID", "CompatibleIDs" }) {
        registry::ValueData value;
        if (device.registered) {
            if (devreg::readDeviceValue(device.instanceId, name, value) != ERROR_SUCCESS)
                continue;
        } else {
            auto it = device.pending.find(name);
            if (it == device.pending.end())
                continue;
            value = it->second;
        }
        for (auto& id : devreg::splitMultiString(std::string(value.data.begin(), value.data.end())))
            ids.push_back(id);
    }
    return ids;
}

// A compatible driver's rank: lower is better, none when no id matches.
std::optional<size_t> rank(const DriverNode& node, const std::vector<std::string>& ids)
{
    for (size_t d = 0; d < ids.size(); ++d)
        for (size_t n = 0; n < node.ids.size(); ++n)
            if (equalsNoCase(ids[d], node.ids[n]))
                return d * 0x1000 + n;
    return std::nullopt;
}

DWORD buildList(DriverScope& scope, const std::optional<GUID>& classGuid, Device* device, DWORD type)
{
    std::optional<devreg::ClassEntry> entry;
    if (type == SPDIT_CLASSDRIVER) {
        if (!classGuid)
            return ERROR_NO_ASSOCIATED_CLASS;
        entry = devreg::findClass(*classGuid);
        if (!entry)
            return ERROR_INVALID_CLASS;
    }
    std::vector<std::string> ids = device ? deviceIds(*device) : std::vector<std::string>();
    std::vector<std::pair<size_t, DriverNode>> found;
    for (auto& path : infSources(scope.params)) {
        std::unique_ptr<InfFile> file;
        if (loadInfFile(path, nullptr, INF_STYLE_WIN4, nullptr, file) != NO_ERROR)
            continue;
        if (entry && !infOfClass(*file, *entry))
            continue;
        std::vector<DriverNode> nodes;
        readModels(*file, type, nodes);
        for (auto& node : nodes) {
            std::optional<size_t> r = type == SPDIT_CLASSDRIVER ? std::optional<size_t>(0) : rank(node, ids);
            if (!r)
                continue;
            node.serial = nextSerial();
            node.rank = static_cast<DWORD>(*r);
            found.emplace_back(*r, std::move(node));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](auto& a, auto& b) { return a.first < b.first; });
    DriverList& list = scope.list(type);
    list.nodes.clear();
    for (auto& [r, node] : found)
        list.nodes.push_back(std::move(node));
    list.built = true;
    scope.params.flags |= type == SPDIT_CLASSDRIVER ? DI_DIDCLASS : DI_DIDCOMPAT;
    return NO_ERROR;
}

struct DriverTarget {
    std::shared_ptr<DeviceInfoSet> set;
    Device* device { nullptr };
    DriverScope* scope { nullptr };
};

DWORD resolveScope(HDEVINFO handle, PSP_DEVINFO_DATA data, DriverTarget& out)
{
    out.set = DeviceInfoSet::fromHandle(handle);
    if (!out.set)
        return ERROR_INVALID_HANDLE;
    out.scope = out.set.get();
    if (!data)
        return NO_ERROR;
    DWORD error = NO_ERROR;
    out.device = out.set->device(data, error);
    if (out.device)
        out.scope = out.device;
    return error;
}

}

namespace devinst {

DWORD buildDriverInfoList(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD type)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (!isDriverType(type) || (type == SPDIT_COMPATDRIVER && !t.device))
        return ERROR_INVALID_PARAMETER;
    if (t.device && t.device->removed)
        return ERROR_NO_SUCH_DEVINST;
    if (t.scope->list(type).built)
        return NO_ERROR;
    std::optional<GUID> classGuid;
    if (t.device)
        classGuid = t.device->classGuid;
    else if (t.set->hasClass)
        classGuid = t.set->classGuid;
    return buildList(*t.scope, classGuid, t.device, type);
}

DWORD enumDriverInfo(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD type, DWORD index, PSP_DRVINFO_DATA_W driver)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (!isDriverType(type))
        return ERROR_INVALID_PARAMETER;
    if (DWORD error = checkRecord(driver); error != NO_ERROR)
        return error;
    const DriverList& list = t.scope->list(type);
    if (index >= list.nodes.size())
        return ERROR_NO_MORE_ITEMS;
    describe(list.nodes[index], *driver);
    return NO_ERROR;
}

DWORD getSelectedDriver(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(driver); error != NO_ERROR)
        return error;
    const DriverNode* node = t.scope->selectedDriver();
    if (!node)
        return ERROR_NO_DRIVER_SELECTED;
    describe(*node, *driver);
    return NO_ERROR;
}

DWORD setSelectedDriver(HDEVINFO handle, PSP_DEVINFO_DATA data, PSP_DRVINFO_DATA_W driver)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (!driver) {
        t.scope->selectedType = SPDIT_NODRIVER;
        t.scope->selectedSerial = 0;
        return NO_ERROR;
    }
    if (DWORD error = checkRecord(driver); error != NO_ERROR)
        return error;
    if (!isDriverType(driver->DriverType))
        return ERROR_INVALID_PARAMETER;
    // A record from the list names its node; one filled by hand is found
    // by its texts.
    for (auto& node : t.scope->list(driver->DriverType).nodes) {
        bool match = driver->Reserved ? node.serial == driver->Reserved : false;
        if (!driver->Reserved) {
            SP_DRVINFO_DATA_V1_W mine {};
            describe(node, mine);
            match = sameText(mine.Description, driver->Description) && sameText(mine.MfgName, driver->MfgName)
                && sameText(mine.ProviderName, driver->ProviderName);
        }
        if (!match)
            continue;
        t.scope->selectedType = driver->DriverType;
        t.scope->selectedSerial = node.serial;
        driver->Reserved = node.serial;
        return NO_ERROR;
    }
    return ERROR_INVALID_PARAMETER;
}

DWORD destroyDriverInfoList(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD type)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (!isDriverType(type))
        return ERROR_INVALID_PARAMETER;
    t.scope->list(type) = DriverList();
    if (t.scope->selectedType == type) {
        t.scope->selectedType = SPDIT_NODRIVER;
        t.scope->selectedSerial = 0;
    }
    t.scope->params.flags &= ~DWORD(type == SPDIT_CLASSDRIVER ? DI_DIDCLASS : DI_DIDCOMPAT);
    return NO_ERROR;
}

}

}

using namespace ntsim::setupapi;

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    ntsim::ApiCall call("SetupDiBuildDriverInfoList", DeviceInfoSet, DeviceInfoData, DriverType);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::buildDriverInfoList(DeviceInfoSet, DeviceInfoData, DriverType)));
}

BOOL WINAPI SetupDiEnumDriverInfoW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
    DWORD MemberIndex, PSP_DRVINFO_DATA_W DriverInfoData)
{
    ntsim::ApiCall call("SetupDiEnumDriverInfoW", DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::enumDriverInfo(DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex, DriverInfoData)));
}

BOOL WINAPI SetupDiGetSelectedDriverW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData)
{
    ntsim::ApiCall call("SetupDiGetSelectedDriverW", DeviceInfoSet, DeviceInfoData, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getSelectedDriver(DeviceInfoSet, DeviceInfoData, DriverInfoData)));
}

BOOL WINAPI SetupDiSetSelectedDriverW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData)
{
    ntsim::ApiCall call("SetupDiSetSelectedDriverW", DeviceInfoSet, DeviceInfoData, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setSelectedDriver(DeviceInfoSet, DeviceInfoData, DriverInfoData)));
}

BOOL WINAPI SetupDiDestroyDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    ntsim::ApiCall call("SetupDiDestroyDriverInfoList", DeviceInfoSet, DeviceInfoData, DriverType);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::destroyDriverInfoList(DeviceInfoSet, DeviceInfoData, DriverType)));
}
