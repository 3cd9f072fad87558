// Driver lists: the model lines of the class's INFs in the INF directory
// (class drivers) or those whose ids match the device's (compatible
// drivers), their enumeration, details and install parameters, the
// selected driver, and the decorated section a driver installs.
#include "DevInst.h"

#include "DeviceRegistry.h"
#include "InfFile.h"

#include "machine/CodePage.h"
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

// A text in a fixed field of a record, cut to fit with its NUL.
template<size_t N>
void copyField(const std::string& text, WCHAR (&out)[N])
{
    std::u16string wide = toWide(text);
    size_t n = std::min(wide.size(), N - 1);
    std::memcpy(out, wide.data(), n * sizeof(WCHAR));
    out[n] = 0;
}

template<size_t N>
void copyField(const std::string& text, CHAR (&out)[N])
{
    std::string ansi = toAnsi(text);
    size_t n = std::min(ansi.size(), N - 1);
    std::memcpy(out, ansi.data(), n);
    out[n] = 0;
}

template<typename Char, size_t N>
bool sameText(const Char (&a)[N], const Char (&b)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (a[i] != b[i])
            return false;
        if (!a[i])
            return true;
    }
    return true;
}

template<typename Record>
void describe(const DriverNode& node, Record& out)
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
        : fullNtPath(params.driverPath, currentProcess().currentDirectory);
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
    return !entry.name.empty() && inf::equalsFolded(versionValue(file, "Class"), fromAnsi(entry.name));
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
            ids.push_back(fromAnsi(id));
    }
    return ids;
}

// A compatible driver's rank: lower is better, none when no id matches.
std::optional<size_t> rank(const DriverNode& node, const std::vector<std::string>& ids)
{
    for (size_t d = 0; d < ids.size(); ++d)
        for (size_t n = 0; n < node.ids.size(); ++n)
            if (inf::equalsFolded(ids[d], node.ids[n]))
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
            node.flags = type == SPDIT_CLASSDRIVER ? DNF_CLASS_DRIVER : DNF_COMPATIBLE_DRIVER;
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


// The node a caller's driver record names in a scope's list: by the serial a
// record from the list carries, else by its texts.
template<typename Record>
DriverNode* nodeOf(DriverScope& scope, const Record& driver)
{
    for (auto& node : scope.list(driver.DriverType).nodes) {
        if (driver.Reserved) {
            if (node.serial == driver.Reserved)
                return &node;
            continue;
        }
        Record mine {};
        describe(node, mine);
        if (sameText(mine.Description, driver.Description) && sameText(mine.MfgName, driver.MfgName)
            && sameText(mine.ProviderName, driver.ProviderName))
            return &node;
    }
    return nullptr;
}

// The node of a driver record that must name one.
template<typename Record>
DWORD namedNode(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver, DriverNode*& out)
{
    DriverTarget t;
    if (DWORD error = resolveScope(handle, data, t); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(driver); error != NO_ERROR)
        return error;
    if (!isDriverType(driver->DriverType))
        return ERROR_INVALID_PARAMETER;
    out = nodeOf(*t.scope, *driver);
    return out ? NO_ERROR : ERROR_INVALID_PARAMETER;
}

FILETIME infDate(const std::string& ntPath)
{
    struct stat st;
    FILETIME out {};
    if (stat(Machine::current().hostPath(ntPath).c_str(), &st) != 0)
        return out;
    // 100 ns intervals since 1601.
    uint64_t time = (static_cast<uint64_t>(st.st_mtim.tv_sec) + 11644473600ull) * 10000000ull
        + static_cast<uint64_t>(st.st_mtim.tv_nsec) / 100;
    out.dwLowDateTime = static_cast<DWORD>(time);
    out.dwHighDateTime = static_cast<DWORD>(time >> 32);
    return out;
}

}

std::string actualSection(const InfFile& file, const std::string& section)
{
    // NT 4.0 on x86 knows these decorations, the most particular first.
    for (const char* decoration : { ".NTx86", ".NT" })
        if (const inf::Section* found = file.section(section + decoration))
            return found->name;
    return section;
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

template<typename Record>
DWORD enumDriverInfo(HDEVINFO handle, PSP_DEVINFO_DATA data, DWORD type, DWORD index, Record* driver)
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

template<typename Record>
DWORD getSelectedDriver(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver)
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

template<typename Record>
DWORD setSelectedDriver(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver)
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
    DriverNode* node = nodeOf(*t.scope, *driver);
    if (!node)
        return ERROR_INVALID_PARAMETER;
    t.scope->selectedType = driver->DriverType;
    t.scope->selectedSerial = node->serial;
    driver->Reserved = node->serial;
    return NO_ERROR;
}

// SP_DRVINFO_DETAIL_DATA: the fixed part, then the hardware id and the
// compatible ids as one list, each with its NUL and the list's NUL last.
template<typename Record, typename Detail>
DWORD driverInfoDetail(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver, Detail* detail, DWORD size,
    PDWORD required)
{
    using Char = std::remove_extent_t<decltype(Detail::HardwareID)>;
    DriverNode* node = nullptr;
    if (DWORD error = namedNode(handle, data, driver, node); error != NO_ERROR)
        return error;
    if (detail && detail->cbSize != sizeof(Detail))
        return ERROR_INVALID_USER_BUFFER;
    if (!detail && size)
        return ERROR_INVALID_USER_BUFFER;
    std::string hardwareId = node->ids.empty() ? std::string() : node->ids.front();
    std::string compatible;
    for (size_t i = 1; i < node->ids.size(); ++i) {
        compatible += node->ids[i];
        compatible += '\0';
    }
    std::basic_string<Char> ids, compatibleIds;
    if constexpr (sizeof(Char) == 1) {
        ids = toAnsi(hardwareId);
        compatibleIds = toAnsi(compatible);
    } else {
        ids = toWide(hardwareId);
        compatibleIds = toWide(compatible);
    }
    ids += Char(0);
    auto compatibleOffset = static_cast<DWORD>(ids.size());
    ids += compatibleIds;
    ids += Char(0);
    constexpr DWORD fixed = offsetof(Detail, HardwareID);
    auto needed = static_cast<DWORD>(fixed + ids.size() * sizeof(Char));
    if (required)
        *required = needed;
    if (!detail || size < sizeof(Detail))
        return ERROR_INSUFFICIENT_BUFFER;
    detail->InfDate = infDate(node->infPath);
    detail->CompatIDsOffset = compatibleIds.empty() ? 0 : compatibleOffset;
    detail->CompatIDsLength = compatibleIds.empty() ? 0 : static_cast<DWORD>(compatibleIds.size() + 1);
    detail->Reserved = 0;
    copyField(node->section, detail->SectionName);
    copyField(node->infPath, detail->InfFileName);
    copyField(node->description, detail->DrvDescription);
    // As much of the list as fits; the caller learns the whole size.
    size_t room = (size - fixed) / sizeof(Char);
    std::memcpy(detail->HardwareID, ids.data(), std::min(room, ids.size()) * sizeof(Char));
    return size < needed ? ERROR_INSUFFICIENT_BUFFER : NO_ERROR;
}

template<typename Record>
DWORD getDriverInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver,
    PSP_DRVINSTALL_PARAMS params)
{
    DriverNode* node = nullptr;
    if (DWORD error = namedNode(handle, data, driver, node); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(params); error != NO_ERROR)
        return error;
    params->Rank = node->rank;
    params->Flags = node->flags;
    params->PrivateData = node->privateData;
    params->Reserved = 0;
    return NO_ERROR;
}

template<typename Record>
DWORD setDriverInstallParams(HDEVINFO handle, PSP_DEVINFO_DATA data, Record* driver,
    PSP_DRVINSTALL_PARAMS params)
{
    DriverNode* node = nullptr;
    if (DWORD error = namedNode(handle, data, driver, node); error != NO_ERROR)
        return error;
    if (DWORD error = checkRecord(params); error != NO_ERROR)
        return error;
    node->rank = params->Rank;
    node->flags = params->Flags;
    node->privateData = params->PrivateData;
    return NO_ERROR;
}

template DWORD enumDriverInfo(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, SP_DRVINFO_DATA_A*);
template DWORD enumDriverInfo(HDEVINFO, PSP_DEVINFO_DATA, DWORD, DWORD, SP_DRVINFO_DATA_W*);
template DWORD getSelectedDriver(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_A*);
template DWORD getSelectedDriver(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_W*);
template DWORD setSelectedDriver(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_A*);
template DWORD setSelectedDriver(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_W*);
template DWORD driverInfoDetail(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_A*, SP_DRVINFO_DETAIL_DATA_A*, DWORD,
    PDWORD);
template DWORD driverInfoDetail(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_W*, SP_DRVINFO_DETAIL_DATA_W*, DWORD,
    PDWORD);
template DWORD getDriverInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_A*, PSP_DRVINSTALL_PARAMS);
template DWORD getDriverInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_W*, PSP_DRVINSTALL_PARAMS);
template DWORD setDriverInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_A*, PSP_DRVINSTALL_PARAMS);
template DWORD setDriverInstallParams(HDEVINFO, PSP_DEVINFO_DATA, SP_DRVINFO_DATA_W*, PSP_DRVINSTALL_PARAMS);

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

DWORD actualSectionToInstall(HINF inf, const std::string* section, std::string& out, size_t& extension)
{
    const InfFile* file = InfFile::fromHandle(inf);
    if (!file)
        return ERROR_INVALID_HANDLE;
    if (!section)
        return ERROR_INVALID_PARAMETER;
    out = actualSection(*file, *section);
    extension = out.size() > section->size() ? section->size() : std::string::npos;
    return NO_ERROR;
}

}

}

using namespace ntsim::setupapi;

namespace {

template<typename Char>
BOOL actualSectionFrom(HINF InfHandle, const Char* InfSectionName, Char* InfSectionWithExt, DWORD InfSectionWithExtSize,
    PDWORD RequiredSize, Char** Extension)
{
    std::string name, section;
    size_t extension = std::string::npos;
    if (DWORD error = devinst::actualSectionToInstall(InfHandle, optionalArgument(InfSectionName, name), section,
            extension);
        error != NO_ERROR)
        return report(error);
    TextBuffer buffer { sizeof(Char) == 1 ? Charset::Ansi : Charset::Wide, InfSectionWithExt, InfSectionWithExtSize };
    if (DWORD error = copyText(section, buffer, RequiredSize); error != NO_ERROR)
        return report(error);
    if (Extension && InfSectionWithExt) {
        // The decoration begins where the name the caller gave ends, in
        // the caller's characters.
        size_t offset = 0;
        if (extension != std::string::npos) {
            if constexpr (sizeof(Char) == 1)
                offset = toAnsi(section.substr(0, extension)).size();
            else
                offset = toWide(section.substr(0, extension)).size();
        }
        *Extension = extension == std::string::npos ? nullptr : InfSectionWithExt + offset;
    }
    return report(NO_ERROR);
}

}

BOOL WINAPI SetupDiBuildDriverInfoList(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType)
{
    ntsim::ApiCall call("SetupDiBuildDriverInfoList", DeviceInfoSet, DeviceInfoData, DriverType);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::buildDriverInfoList(DeviceInfoSet, DeviceInfoData, DriverType)));
}

BOOL WINAPI SetupDiEnumDriverInfoA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
    DWORD MemberIndex, PSP_DRVINFO_DATA_A DriverInfoData)
{
    ntsim::ApiCall call("SetupDiEnumDriverInfoA", DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::enumDriverInfo(DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex,
        DriverInfoData)));
}

BOOL WINAPI SetupDiEnumDriverInfoW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD DriverType,
    DWORD MemberIndex, PSP_DRVINFO_DATA_W DriverInfoData)
{
    ntsim::ApiCall call("SetupDiEnumDriverInfoW", DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::enumDriverInfo(DeviceInfoSet, DeviceInfoData, DriverType, MemberIndex,
        DriverInfoData)));
}

BOOL WINAPI SetupDiGetDriverInfoDetailA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINFO_DETAIL_DATA_A DriverInfoDetailData, DWORD DriverInfoDetailDataSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDriverInfoDetailA", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInfoDetailData, DriverInfoDetailDataSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::driverInfoDetail(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInfoDetailData, DriverInfoDetailDataSize, RequiredSize)));
}

BOOL WINAPI SetupDiGetDriverInfoDetailW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINFO_DETAIL_DATA_W DriverInfoDetailData, DWORD DriverInfoDetailDataSize,
    PDWORD RequiredSize)
{
    ntsim::ApiCall call("SetupDiGetDriverInfoDetailW", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInfoDetailData, DriverInfoDetailDataSize, RequiredSize);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::driverInfoDetail(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInfoDetailData, DriverInfoDetailDataSize, RequiredSize)));
}

BOOL WINAPI SetupDiGetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    ntsim::ApiCall call("SetupDiGetDriverInstallParamsA", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getDriverInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInstallParams)));
}

BOOL WINAPI SetupDiGetDriverInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    ntsim::ApiCall call("SetupDiGetDriverInstallParamsW", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getDriverInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInstallParams)));
}

BOOL WINAPI SetupDiSetDriverInstallParamsA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    ntsim::ApiCall call("SetupDiSetDriverInstallParamsA", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setDriverInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInstallParams)));
}

BOOL WINAPI SetupDiSetDriverInstallParamsW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData, PSP_DRVINSTALL_PARAMS DriverInstallParams)
{
    ntsim::ApiCall call("SetupDiSetDriverInstallParamsW", DeviceInfoSet, DeviceInfoData, DriverInfoData, DriverInstallParams);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setDriverInstallParams(DeviceInfoSet, DeviceInfoData, DriverInfoData,
        DriverInstallParams)));
}

BOOL WINAPI SetupDiGetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData)
{
    ntsim::ApiCall call("SetupDiGetSelectedDriverA", DeviceInfoSet, DeviceInfoData, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getSelectedDriver(DeviceInfoSet, DeviceInfoData, DriverInfoData)));
}

BOOL WINAPI SetupDiGetSelectedDriverW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_W DriverInfoData)
{
    ntsim::ApiCall call("SetupDiGetSelectedDriverW", DeviceInfoSet, DeviceInfoData, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::getSelectedDriver(DeviceInfoSet, DeviceInfoData, DriverInfoData)));
}

BOOL WINAPI SetupDiSetSelectedDriverA(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
    PSP_DRVINFO_DATA_A DriverInfoData)
{
    ntsim::ApiCall call("SetupDiSetSelectedDriverA", DeviceInfoSet, DeviceInfoData, DriverInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(report(devinst::setSelectedDriver(DeviceInfoSet, DeviceInfoData, DriverInfoData)));
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

BOOL WINAPI SetupDiGetActualSectionToInstallA(HINF InfHandle, PCSTR InfSectionName, PSTR InfSectionWithExt,
    DWORD InfSectionWithExtSize, PDWORD RequiredSize, PSTR* Extension)
{
    ntsim::ApiCall call("SetupDiGetActualSectionToInstallA", InfHandle, InfSectionName, InfSectionWithExt, InfSectionWithExtSize, RequiredSize, Extension);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(actualSectionFrom(InfHandle, InfSectionName, InfSectionWithExt, InfSectionWithExtSize,
        RequiredSize, Extension));
}

BOOL WINAPI SetupDiGetActualSectionToInstallW(HINF InfHandle, PCWSTR InfSectionName, PWSTR InfSectionWithExt,
    DWORD InfSectionWithExtSize, PDWORD RequiredSize, PWSTR* Extension)
{
    ntsim::ApiCall call("SetupDiGetActualSectionToInstallW", InfHandle, InfSectionName, InfSectionWithExt, InfSectionWithExtSize, RequiredSize, Extension);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(actualSectionFrom(InfHandle, InfSectionName, InfSectionWithExt, InfSectionWithExtSize,
        RequiredSize, Extension));
}
