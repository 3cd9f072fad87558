// SetupInstallFromInfSection: the file, INI, registry and log-config
// directives of one install section. Its files go through a file queue as
// a program's own would.
#include "InstallSupport.h"
#include "QueueSections.h"
#include "SetupCalls.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

// A device's LogConfig sections must exist; their resources are not
// recorded, as the simulated buses assign none.
DWORD checkLogConfig(const InfFile& file, const inf::Section& install)
{
    for (auto& name : file.directiveValues(install, "LogConfig"))
        if (!file.section(name))
            return ERROR_SECTION_NOT_FOUND;
    return NO_ERROR;
}

DWORD installFiles(HWND owner, const InfFile& file, const inf::Section& section, const std::string& sourceRoot,
    UINT copyFlags, const QueueCallback& callback)
{
    FileQueue queue;
    if (DWORD error = queueSectionFiles(queue, file, file, section, sourceRoot, copyFlags); error != NO_ERROR)
        return error;
    if (queue.empty())
        return NO_ERROR;
    if (!callback)
        return ERROR_INVALID_PARAMETER;
    return queue.commit(owner, callback);
}

}

namespace ntsim::setupapi {

DWORD copiedFiles(const InfFile& file, const inf::Section& section, std::vector<std::string>& paths)
{
    FileQueue queue;
    if (DWORD error = queueSectionFiles(queue, file, file, section, file.directory(), 0); error != NO_ERROR)
        return error;
    for (auto& copy : queue.copies())
        paths.push_back(joinNtPath(copy.targetDir, copy.targetFile));
    return NO_ERROR;
}

DWORD installFromSection(HWND owner, const InfFile& file, const inf::Section& section, UINT flags, HKEY relativeRoot,
    const std::string& sourceRoot, UINT copyFlags, const QueueCallback& callback, bool forDevice)
{
    // LogConfig belongs to a device: without one NT 4.0 passes over it.
    if ((flags & SPINST_LOGCONFIG) && forDevice)
        if (DWORD error = checkLogConfig(file, section); error != NO_ERROR)
            return error;
    if (flags & SPINST_FILES)
        if (DWORD error = installFiles(owner, file, section, sourceRoot, copyFlags, callback); error != NO_ERROR)
            return error;
    if (flags & SPINST_INIFILES)
        if (DWORD error = installUpdateInis(file, section); error != NO_ERROR)
            return error;
    if (flags & SPINST_INI2REG)
        if (DWORD error = installIni2Reg(file, section); error != NO_ERROR)
            return error;
    if (flags & SPINST_REGISTRY)
        if (DWORD error = installRegistry(file, section, relativeRoot); error != NO_ERROR)
            return error;
    return NO_ERROR;
}

BOOL installFromInfSection(HWND owner, HINF inf, const std::string& sectionName, UINT flags, HKEY relativeKeyRoot,
    const std::string* sourceRootPath, UINT copyFlags, const QueueCallback& callback, HDEVINFO deviceInfoSet,
    PSP_DEVINFO_DATA deviceInfoData)
{
    InfFile* file = nullptr;
    const inf::Section* section = installSection(inf, &sectionName, file);
    if (!section)
        return FALSE;
    std::string root = file->directory();
    if ((flags & SPINST_FILES) && sourceRootPath && !sourceRootPath->empty()) {
        root = fullNtPath(*sourceRootPath, currentProcess().currentDirectory);
        if (root.empty())
            return failWith(ERROR_INVALID_PARAMETER);
    }
    bool forDevice = deviceInfoSet && deviceInfoSet != INVALID_HANDLE_VALUE && deviceInfoData;
    return finish(installFromSection(owner, *file, *section, flags, relativeKeyRoot, root, copyFlags, callback,
        forDevice));
}

}

namespace {

// A null section name is the caller's error, told apart from an empty one.
template<typename Char>
BOOL installFromInfSectionFrom(HWND Owner, HINF InfHandle, const Char* SectionName, UINT Flags, HKEY RelativeKeyRoot,
    const Char* SourceRootPath, UINT CopyFlags, const QueueCallback& callback, HDEVINFO DeviceInfoSet,
    PSP_DEVINFO_DATA DeviceInfoData)
{
    if (!InfFile::fromHandle(InfHandle))
        return failWith(ERROR_INVALID_HANDLE);
    if (!SectionName)
        return failWith(ERROR_INVALID_PARAMETER);
    std::string root;
    return setupapi::installFromInfSection(Owner, InfHandle, argument(SectionName), Flags, RelativeKeyRoot,
        optionalArgument(SourceRootPath, root), CopyFlags, callback, DeviceInfoSet, DeviceInfoData);
}

}

BOOL WINAPI SetupInstallFromInfSectionA(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupInstallFromInfSectionA", Owner, InfHandle, SectionName, Flags, RelativeKeyRoot, SourceRootPath, CopyFlags, MsgHandler, Context, DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installFromInfSectionFrom(Owner, InfHandle, SectionName, Flags, RelativeKeyRoot,
        SourceRootPath, CopyFlags, MsgHandler ? QueueCallback::ansi(MsgHandler, Context) : QueueCallback(),
        DeviceInfoSet, DeviceInfoData));
}

BOOL WINAPI SetupInstallFromInfSectionW(HWND Owner, HINF InfHandle, PCWSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCWSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_W MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupInstallFromInfSectionW", Owner, InfHandle, SectionName, Flags, RelativeKeyRoot, SourceRootPath, CopyFlags, MsgHandler, Context, DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(installFromInfSectionFrom(Owner, InfHandle, SectionName, Flags, RelativeKeyRoot,
        SourceRootPath, CopyFlags, MsgHandler ? QueueCallback::wide(MsgHandler, Context) : QueueCallback(),
        DeviceInfoSet, DeviceInfoData));
}
