#include "QueueSections.h"

#include "InfLayout.h"

namespace ntsim::setupapi {

namespace {

// The SP_COPY_* style a CopyFiles line's COPYFLG_* flags add to the call's.
DWORD copyStyle(DWORD style, DWORD lineFlags)
{
    if (lineFlags & COPYFLG_NOSKIP)
        style |= SP_COPY_NOSKIP;
    if (lineFlags & COPYFLG_WARN_IF_SKIP)
        style |= SP_COPY_WARNIFSKIP;
    if (lineFlags & COPYFLG_NOVERSIONCHECK)
        style &= ~DWORD(SP_COPY_NEWER | SP_COPY_FORCE_NEWER);
    if (lineFlags & COPYFLG_FORCE_FILE_IN_USE)
        style |= SP_COPY_FORCE_IN_USE;
    // The line asks that no existing file be replaced, without a question.
    if (lineFlags & COPYFLG_NO_OVERWRITE)
        style |= SP_COPY_FORCE_NOOVERWRITE;
    if (lineFlags & COPYFLG_NO_VERSION_DIALOG)
        style |= SP_COPY_FORCE_NEWER;
    if (lineFlags & COPYFLG_OVERWRITE_OLDER_ONLY)
        style |= SP_COPY_NEWER;
    if (lineFlags & COPYFLG_REPLACEONLY)
        style |= SP_COPY_REPLACEONLY;
    return style;
}

// The lines of a section a call queues, or ERROR_LINE_NOT_FOUND.
DWORD listLines(const InfFile& list, const std::string& name, const inf::Section*& out)
{
    out = list.section(name);
    return out && !out->lines.empty() ? NO_ERROR : ERROR_LINE_NOT_FOUND;
}

DWORD queueCopyLines(FileQueue& queue, const InfFile& layout, const InfFile& list, const inf::Section& section,
    const std::string& dir, const std::string& sourceRoot, DWORD style)
{
    for (auto& line : section.lines) {
        // target[, source[, unused[, flags]]]
        std::vector<std::string> f = list.values(line);
        if (f.empty() || f[0].empty())
            continue;
        std::string source = f.size() > 1 && !f[1].empty() ? f[1] : f[0];
        INT flags = 0;
        if (f.size() > 3 && !f[3].empty() && !readInt(f[3], flags))
            return ERROR_INVALID_DATA;
        queue.copy(layoutCopy(layout, sourceRoot, source, dir, f[0], copyStyle(style, static_cast<DWORD>(flags))));
    }
    return NO_ERROR;
}

void queueDeleteLines(FileQueue& queue, const InfFile& list, const inf::Section& section, const std::string& dir)
{
    for (auto& line : section.lines) {
        std::string file;
        list.field(line, 1, file);
        if (!file.empty())
            queue.remove({ dir, file });
    }
}

void queueRenameLines(FileQueue& queue, const InfFile& list, const inf::Section& section, const std::string& dir)
{
    for (auto& line : section.lines) {
        // new name, old name
        std::string newName, oldName;
        list.field(line, 1, newName);
        list.field(line, 2, oldName);
        if (!newName.empty() && !oldName.empty())
            queue.rename({ dir, oldName, dir, newName });
    }
}

using LinesQueuer = void (*)(FileQueue&, const InfFile&, const inf::Section&, const std::string&);

// A delete or rename list of `list`, its directory from `inf`.
DWORD queueListSection(FileQueue& queue, const InfFile& inf, const InfFile& list, const std::string& section,
    LinesQueuer queueLines)
{
    const inf::Section* lines = nullptr;
    if (DWORD error = listLines(list, section, lines); error != NO_ERROR)
        return error;
    std::string dir;
    if (DWORD error = targetDirectory(inf, &section, inf.directory(), dir); error != NO_ERROR)
        return error;
    queueLines(queue, list, *lines, dir);
    return NO_ERROR;
}

}

CopyOperation layoutCopy(const InfFile& layout, const std::string& sourceRoot, const std::string& fileName,
    const std::string& targetDir, const std::string& targetFile, DWORD style)
{
    CopyOperation op;
    op.targetDir = targetDir;
    op.targetFile = targetFile;
    op.sourceFile = fileName;
    op.sourceDir = sourceRoot;
    op.style = style;
    SourceFile file;
    if (sourceFile(layout, fileName, file)) {
        SourceDisk disk;
        if (!file.diskId.empty() && sourceDisk(layout, file.diskId, disk)) {
            op.description = disk.description;
            op.tagFile = disk.tagFile;
        }
        op.sourceDir = joinNtPath(joinNtPath(sourceRoot, disk.path), file.subdirectory);
    }
    return op;
}

DWORD queueCopySection(FileQueue& queue, const InfFile& layout, const InfFile& list, const std::string& section,
    const std::string& sourceRoot, DWORD style)
{
    const inf::Section* lines = nullptr;
    if (DWORD error = listLines(list, section, lines); error != NO_ERROR)
        return error;
    std::string dir;
    if (DWORD error = targetDirectory(list, &section, sourceRoot, dir); error != NO_ERROR)
        return error;
    return queueCopyLines(queue, layout, list, *lines, dir, sourceRoot, style);
}

DWORD queueDeleteSection(FileQueue& queue, const InfFile& inf, const InfFile& list, const std::string& section)
{
    return queueListSection(queue, inf, list, section, queueDeleteLines);
}

DWORD queueRenameSection(FileQueue& queue, const InfFile& inf, const InfFile& list, const std::string& section)
{
    return queueListSection(queue, inf, list, section, queueRenameLines);
}

DWORD queueDefaultCopy(FileQueue& queue, const InfFile& inf, const std::string& sourceRoot,
    const std::string& sourceFile, const std::string& targetFile, DWORD style)
{
    std::string dir;
    if (DWORD error = targetDirectory(inf, nullptr, sourceRoot, dir); error != NO_ERROR)
        return error;
    queue.copy(layoutCopy(inf, sourceRoot, sourceFile, dir, targetFile, style));
    return NO_ERROR;
}

DWORD queueSectionFiles(FileQueue& queue, const InfFile& inf, const InfFile& layout, const inf::Section& install,
    const std::string& sourceRoot, UINT copyFlags)
{
    // A delete or rename list's destination must be valid even when the
    // list is not there.
    const std::pair<const char*, LinesQueuer> lists[] = { { "DelFiles", queueDeleteLines },
        { "RenFiles", queueRenameLines } };
    for (auto& [directive, queueLines] : lists) {
        for (auto& name : inf.directiveValues(install, directive)) {
            std::string dir;
            if (DWORD error = targetDirectory(inf, &name, sourceRoot, dir); error != NO_ERROR)
                return error;
            if (const inf::Section* list = inf.section(name))
                queueLines(queue, inf, *list, dir);
        }
    }
    for (auto& name : inf.directiveValues(install, "CopyFiles")) {
        // "@file" copies one file to the default destination.
        if (name[0] == '@') {
            if (DWORD error = queueDefaultCopy(queue, inf, sourceRoot, name.substr(1), name.substr(1), copyFlags);
                error != NO_ERROR)
                return error;
            continue;
        }
        const inf::Section* list = inf.section(name);
        if (!list)
            continue;
        std::string dir;
        if (DWORD error = targetDirectory(inf, &name, sourceRoot, dir); error != NO_ERROR)
            return error;
        if (DWORD error = queueCopyLines(queue, layout, inf, *list, dir, sourceRoot, copyFlags); error != NO_ERROR)
            return error;
    }
    return NO_ERROR;
}

}
