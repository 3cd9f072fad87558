// SetupInstallFromInfSectionA: the file, INI, registry and log-config
// directives of one install section.
#include "FileQueue.h"
#include "InstallSupport.h"
#include "SetupCalls.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <cstdlib>

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

// The line of a section whose key matches, trying the x86 decoration first.
const inf::Line* findLine(const InfFile& file, const std::string& sectionName, const std::string& key)
{
    for (const std::string& name : { sectionName + ".x86", sectionName }) {
        const inf::Section* section = file.section(name);
        if (!section)
            continue;
        if (const inf::Line* line = file.lineWithKey(*section, key))
            return line;
    }
    return nullptr;
}

class SectionInstaller {
public:
    SectionInstaller(const InfFile& file, std::string sourceRoot, UINT copyFlags)
        : m_file(file)
        , m_sourceRoot(std::move(sourceRoot))
        , m_copyFlags(copyFlags)
    {
    }

    DWORD queueFiles(const inf::Section& install)
    {
        DWORD error = forEachListed(install, "DelFiles", [this](const std::string& dir, const inf::Line& line) {
            std::string file;
            m_file.field(line, 1, file);
            if (!file.empty())
                m_queue.remove({ dir, file });
        });
        if (error != NO_ERROR)
            return error;
        error = forEachListed(install, "RenFiles", [this](const std::string& dir, const inf::Line& line) {
            std::string newName, oldName;
            m_file.field(line, 1, newName);
            m_file.field(line, 2, oldName);
            if (!newName.empty() && !oldName.empty())
                m_queue.rename({ dir, oldName, newName });
        });
        if (error != NO_ERROR)
            return error;
        for (auto& name : directiveValues(m_file, install, "CopyFiles")) {
            if (name[0] == '@') {
                std::string dir;
                if (DWORD error = destination("", dir); error != NO_ERROR)
                    return error;
                queueCopy(dir, name.substr(1), name.substr(1), 0);
                continue;
            }
            const inf::Section* list = m_file.section(name);
            if (!list)
                continue;
            std::string dir;
            if (DWORD error = destination(name, dir); error != NO_ERROR)
                return error;
            for (auto& line : list->lines) {
                std::vector<std::string> f = lineValues(m_file, line);
                if (f.empty() || f[0].empty())
                    continue;
                std::string source = f.size() > 1 && !f[1].empty() ? f[1] : f[0];
                DWORD flags = 0;
                if (f.size() > 3 && !intValue(f[3], 0, flags))
                    return ERROR_INVALID_DATA;
                queueCopy(dir, f[0], source, flags);
            }
        }
        return NO_ERROR;
    }

    FileQueue& queue() { return m_queue; }

private:
    // Calls each(dir, line) for the lines of the lists a directive names. A
    // list's destination must be valid even when the list is not there.
    template <typename Each>
    DWORD forEachListed(const inf::Section& install, const char* directive, Each each) const
    {
        for (auto& name : directiveValues(m_file, install, directive)) {
            const inf::Section* list = m_file.section(name);
            std::string dir;
            if (DWORD error = destination(name, dir); error != NO_ERROR)
                return error;
            if (!list)
                continue;
            for (auto& line : list->lines)
                each(dir, line);
        }
        return NO_ERROR;
    }

    // The target directory of a file list: its DestinationDirs line, else
    // DefaultDestDir, else the system directory.
    DWORD destination(const std::string& listName, std::string& dir) const
    {
        const inf::Line* line = listName.empty() ? nullptr : findLine(m_file, "DestinationDirs", listName);
        if (!line)
            line = findLine(m_file, "DestinationDirs", "DefaultDestDir");
        if (!line) {
            dir = dirIdPath(DIRID_SYSTEM, m_sourceRoot);
            return NO_ERROR;
        }
        std::vector<std::string> f = lineValues(m_file, *line);
        DWORD id = 0;
        if (f.empty() || !intValue(f[0], 0, id))
            return ERROR_INVALID_DATA;
        std::string sub = f.size() > 1 ? f[1] : std::string();
        if (static_cast<int32_t>(id) == DIRID_ABSOLUTE || id == DIRID_ABSOLUTE_16BIT) {
            dir = fullNtPath(sub, "C:\\");
        } else {
            std::string base = dirIdPath(static_cast<int32_t>(id), m_sourceRoot);
            dir = base.empty() ? std::string() : fullNtPath(joinNtPath(base, sub), "C:\\");
        }
        return dir.empty() ? ERROR_INVALID_DATA : NO_ERROR;
    }

    void queueCopy(const std::string& targetDir, const std::string& target, const std::string& source, DWORD lineFlags)
    {
        CopyOperation op;
        op.targetDir = targetDir;
        op.targetFile = target;
        op.sourceFile = source;
        op.sourceDir = m_sourceRoot;
        // SourceDisksFiles names the disk and the subdirectory of a file.
        if (const inf::Line* file = findLine(m_file, "SourceDisksFiles", source)) {
            std::vector<std::string> f = lineValues(m_file, *file);
            std::string diskPath;
            if (!f.empty())
                if (const inf::Line* disk = findLine(m_file, "SourceDisksNames", f[0])) {
                    std::vector<std::string> d = lineValues(m_file, *disk);
                    op.description = d.size() > 0 ? d[0] : std::string();
                    op.tagFile = d.size() > 1 ? d[1] : std::string();
                    diskPath = d.size() > 3 ? d[3] : std::string();
                }
            op.sourceDir = joinNtPath(joinNtPath(m_sourceRoot, diskPath), f.size() > 1 ? f[1] : std::string());
        }
        op.style = m_copyFlags;
        // COPYFLG_* of the line.
        if (lineFlags & 0x0002)
            op.style |= SP_COPY_NOSKIP;
        if (lineFlags & 0x0001)
            op.style |= SP_COPY_WARNIFSKIP;
        if (lineFlags & 0x0010)
            op.style |= SP_COPY_NOOVERWRITE;
        if (lineFlags & 0x0040)
            op.style |= SP_COPY_NEWER;
        if (lineFlags & 0x0400)
            op.style |= SP_COPY_REPLACEONLY;
        m_queue.copy(std::move(op));
    }

    const InfFile& m_file;
    std::string m_sourceRoot;
    UINT m_copyFlags;
    FileQueue m_queue;
};

// A device's LogConfig sections must exist; their resources are not
// recorded, as the simulated buses assign none.
DWORD checkLogConfig(const InfFile& file, const inf::Section& install)
{
    for (auto& name : directiveValues(file, install, "LogConfig"))
        if (!file.section(name))
            return ERROR_SECTION_NOT_FOUND;
    return NO_ERROR;
}

}

namespace ntsim::setupapi {

DWORD copiedFiles(const InfFile& file, const inf::Section& section, std::vector<std::string>& paths)
{
    SectionInstaller installer(file, file.directory(), 0);
    if (DWORD error = installer.queueFiles(section); error != NO_ERROR)
        return error;
    for (auto& copy : installer.queue().copies())
        paths.push_back(joinNtPath(copy.targetDir, copy.targetFile));
    return NO_ERROR;
}

DWORD installFromSection(HWND owner, const InfFile& file, const inf::Section& section, UINT flags, HKEY relativeRoot,
    const std::string& sourceRoot, UINT copyFlags, PSP_FILE_CALLBACK_A handler, PVOID context, bool forDevice)
{
    // LogConfig belongs to a device: without one NT 4.0 passes over it.
    if ((flags & SPINST_LOGCONFIG) && forDevice)
        if (DWORD error = checkLogConfig(file, section); error != NO_ERROR)
            return error;
    if (flags & SPINST_FILES) {
        SectionInstaller installer(file, sourceRoot, copyFlags);
        if (DWORD error = installer.queueFiles(section); error != NO_ERROR)
            return error;
        if (!installer.queue().empty()) {
            if (!handler)
                return ERROR_INVALID_PARAMETER;
            if (DWORD error = installer.queue().commit(owner, handler, context); error != NO_ERROR)
                return error;
        }
    }
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

}

BOOL setupapi::installFromInfSection(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    InfFile* file = nullptr;
    const inf::Section* section = installSection(InfHandle, SectionName, file);
    if (!section)
        return FALSE;
    std::string root = file->directory();
    if ((Flags & SPINST_FILES) && SourceRootPath && *SourceRootPath) {
        root = fullNtPath(SourceRootPath, currentProcess().currentDirectory);
        if (root.empty())
            return failWith(ERROR_INVALID_PARAMETER);
    }
    bool forDevice = DeviceInfoSet && DeviceInfoSet != INVALID_HANDLE_VALUE && DeviceInfoData;
    DWORD error = installFromSection(Owner, *file, *section, Flags, RelativeKeyRoot, root, CopyFlags, MsgHandler,
        Context, forDevice);
    if (error != NO_ERROR)
        return failWith(error);
    SetLastError(NO_ERROR);
    return TRUE;
}

BOOL WINAPI SetupInstallFromInfSectionA(HWND Owner, HINF InfHandle, PCSTR SectionName, UINT Flags,
    HKEY RelativeKeyRoot, PCSTR SourceRootPath, UINT CopyFlags, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context,
    HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData)
{
    ntsim::ApiCall call("SetupInstallFromInfSectionA", Owner, InfHandle, SectionName, Flags, RelativeKeyRoot, SourceRootPath, CopyFlags, MsgHandler, Context, DeviceInfoSet, DeviceInfoData);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(setupapi::installFromInfSection(Owner, InfHandle, SectionName, Flags, RelativeKeyRoot, SourceRootPath,
        CopyFlags, MsgHandler, Context, DeviceInfoSet, DeviceInfoData));
}
