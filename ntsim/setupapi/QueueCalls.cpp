// The file-queue calls a program makes (SetupOpenFileQueue, SetupQueue*,
// SetupCommitFileQueue, SetupInstallFilesFromInfSection) and
// SetupInstallFile, which copies one file as a queue would.
#include "InfLayout.h"
#include "QueueSections.h"

#include "machine/ApiCall.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

// A path a caller gives, made full against the current directory.
std::string fullPath(const std::string& path)
{
    return fullNtPath(path, currentProcess().currentDirectory);
}

// The INF a section call reads its list from: ListInfHandle, else InfHandle.
DWORD listInf(HINF inf, HINF list, InfFile*& layout, InfFile*& lines)
{
    layout = InfFile::fromHandle(inf);
    lines = list ? InfFile::fromHandle(list) : layout;
    return layout && lines ? NO_ERROR : ERROR_INVALID_HANDLE;
}

DWORD queueCopy(HSPFILEQ handle, const std::string* root, const std::string* path, const std::string* file,
    const std::string* description, const std::string* tagFile, const std::string* targetDir,
    const std::string* targetFile, DWORD style)
{
    auto queue = FileQueue::fromHandle(handle);
    if (!queue)
        return ERROR_INVALID_HANDLE;
    if (!root || !file || file->empty() || !targetDir)
        return ERROR_INVALID_PARAMETER;
    CopyOperation op;
    op.sourceDir = fullPath(path ? joinNtPath(*root, *path) : *root);
    op.sourceFile = *file;
    op.targetDir = fullPath(*targetDir);
    op.targetFile = targetFile && !targetFile->empty() ? *targetFile : *file;
    op.description = description ? *description : std::string();
    op.tagFile = tagFile ? *tagFile : std::string();
    op.style = style;
    if (op.sourceDir.empty() || op.targetDir.empty())
        return ERROR_INVALID_PARAMETER;
    queue->copy(std::move(op));
    return NO_ERROR;
}

DWORD queueCopySectionOf(HSPFILEQ handle, const std::string* root, HINF inf, HINF listHandle,
    const std::string* section, DWORD style)
{
    auto queue = FileQueue::fromHandle(handle);
    InfFile *layout = nullptr, *list = nullptr;
    if (!queue)
        return ERROR_INVALID_HANDLE;
    if (DWORD error = listInf(inf, listHandle, layout, list); error != NO_ERROR)
        return error;
    if (!root || !section)
        return ERROR_INVALID_PARAMETER;
    return queueCopySection(*queue, *layout, *list, *section, fullPath(*root), style);
}

DWORD queueDefaultCopyOf(HSPFILEQ handle, HINF inf, const std::string* root, const std::string* source,
    const std::string* target, DWORD style)
{
    auto queue = FileQueue::fromHandle(handle);
    const InfFile* file = InfFile::fromHandle(inf);
    if (!queue || !file)
        return ERROR_INVALID_HANDLE;
    if (!root || !source || source->empty())
        return ERROR_INVALID_PARAMETER;
    return queueDefaultCopy(*queue, *file, fullPath(*root), *source, target && !target->empty() ? *target : *source,
        style);
}

DWORD queueDelete(HSPFILEQ handle, const std::string* part1, const std::string* part2)
{
    auto queue = FileQueue::fromHandle(handle);
    if (!queue)
        return ERROR_INVALID_HANDLE;
    if (!part1 || part1->empty())
        return ERROR_INVALID_PARAMETER;
    std::string path = fullPath(part2 ? joinNtPath(*part1, *part2) : *part1);
    if (path.empty())
        return ERROR_INVALID_PARAMETER;
    queue->remove({ ntParent(path), path.substr(fileNamePart(path)) });
    return NO_ERROR;
}

DWORD queueRename(HSPFILEQ handle, const std::string* sourcePath, const std::string* sourceFile,
    const std::string* targetPath, const std::string* targetFile)
{
    auto queue = FileQueue::fromHandle(handle);
    if (!queue)
        return ERROR_INVALID_HANDLE;
    if (!sourcePath || !sourceFile || sourceFile->empty() || !targetFile || targetFile->empty())
        return ERROR_INVALID_PARAMETER;
    std::string from = fullPath(*sourcePath);
    std::string to = targetPath ? fullPath(*targetPath) : from;
    if (from.empty() || to.empty())
        return ERROR_INVALID_PARAMETER;
    queue->rename({ from, *sourceFile, to, *targetFile });
    return NO_ERROR;
}

using SectionQueuer = DWORD (*)(FileQueue&, const InfFile&, const InfFile&, const std::string&);

DWORD queueListSection(HSPFILEQ handle, HINF inf, HINF listHandle, const std::string* section, SectionQueuer queuer)
{
    auto queue = FileQueue::fromHandle(handle);
    InfFile *file = nullptr, *list = nullptr;
    if (!queue)
        return ERROR_INVALID_HANDLE;
    if (DWORD error = listInf(inf, listHandle, file, list); error != NO_ERROR)
        return error;
    if (!section)
        return ERROR_INVALID_PARAMETER;
    return queuer(*queue, *file, *list, *section);
}

DWORD commitQueue(HWND owner, HSPFILEQ handle, const QueueCallback& callback)
{
    auto queue = FileQueue::fromHandle(handle);
    if (!queue)
        return ERROR_INVALID_HANDLE;
    DWORD error = queue->commit(owner, callback);
    // What was committed is done; the queue may be filled again.
    *queue = FileQueue();
    return error;
}

DWORD installFilesFromSection(HINF inf, HINF layoutHandle, HSPFILEQ handle, const std::string* section,
    const std::string* root, UINT copyFlags)
{
    auto queue = FileQueue::fromHandle(handle);
    InfFile* file = InfFile::fromHandle(inf);
    InfFile* layout = layoutHandle ? InfFile::fromHandle(layoutHandle) : file;
    if (!queue || !file || !layout)
        return ERROR_INVALID_HANDLE;
    if (!section)
        return ERROR_INVALID_PARAMETER;
    const inf::Section* install = file->section(*section);
    if (!install)
        return ERROR_SECTION_NOT_FOUND;
    std::string sourceRoot = root && !root->empty() ? fullPath(*root) : file->directory();
    return queueSectionFiles(*queue, *file, *layout, *install, sourceRoot, copyFlags);
}

// One file copied at once: from a line of a copy list when a context is
// given, else the named source to the full target path.
DWORD installFile(HINF inf, const INFCONTEXT* context, const std::string* sourceFile, const std::string* root,
    const std::string* destination, DWORD style, const QueueCallback& callback, PBOOL inUse)
{
    if (inUse)
        *inUse = FALSE;
    const InfFile* file = inf ? InfFile::fromHandle(inf) : nullptr;
    if (inf && !file)
        return ERROR_INVALID_HANDLE;
    std::string sourceRoot = root && !root->empty() ? fullPath(*root) : file ? file->directory()
                                                                                : currentProcess().currentDirectory;
    CopyOperation op;
    if (context) {
        InfFile* list = nullptr;
        const inf::Line* line = lineOf(context, &list);
        if (!line)
            return GetLastError();
        if (!file)
            return ERROR_INVALID_PARAMETER;
        std::string target, source;
        list->field(*line, 1, target);
        if (list->field(*line, 2, source) != NO_ERROR || source.empty())
            source = target;
        const std::string& listName = list->document().sections[context->Section].name;
        std::string dir;
        if (DWORD error = targetDirectory(*list, &listName, sourceRoot, dir); error != NO_ERROR)
            return error;
        op = layoutCopy(*file, sourceRoot, source, dir, destination && !destination->empty() ? *destination : target,
            style);
    } else {
        if (!sourceFile || sourceFile->empty() || !destination || destination->empty())
            return ERROR_INVALID_PARAMETER;
        std::string target = fullPath(*destination);
        if (style & SP_COPY_SOURCE_ABSOLUTE) {
            std::string source = fullPath(*sourceFile);
            op.sourceDir = ntParent(source);
            op.sourceFile = source.substr(fileNamePart(source));
        } else if (file && !(style & SP_COPY_SOURCEPATH_ABSOLUTE)) {
            op = layoutCopy(*file, sourceRoot, *sourceFile, "", "", style);
        } else {
            op.sourceDir = sourceRoot;
            op.sourceFile = *sourceFile;
        }
        op.targetDir = ntParent(target);
        op.targetFile = target.substr(fileNamePart(target));
        op.style = style;
    }
    std::string source = joinNtPath(op.sourceDir, op.sourceFile);
    std::string target = joinNtPath(op.targetDir, op.targetFile);
    if (!isFileOnMachine(source))
        return ERROR_FILE_NOT_FOUND;
    // A copy the style or the callback declines fails with no error.
    if (!copyWanted(op, source, target, callback ? &callback : nullptr))
        return ERROR_CANCELLED;
    return copyNow(source, target, style);
}

BOOL installFileResult(DWORD error)
{
    if (error == ERROR_CANCELLED) {
        SetLastError(NO_ERROR);
        return FALSE;
    }
    return finish(error);
}

}

HSPFILEQ WINAPI SetupOpenFileQueue(void)
{
    ntsim::ApiCall call("SetupOpenFileQueue");
    if (call.faulted())
        return call.returns(INVALID_HANDLE_VALUE);
    HSPFILEQ queue = FileQueue::add(std::make_shared<FileQueue>());
    SetLastError(NO_ERROR);
    return call.returns(queue);
}

BOOL WINAPI SetupCloseFileQueue(HSPFILEQ QueueHandle)
{
    ntsim::ApiCall call("SetupCloseFileQueue", QueueHandle);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(FileQueue::close(QueueHandle) ? NO_ERROR : ERROR_INVALID_HANDLE));
}

BOOL WINAPI SetupQueueCopyA(HSPFILEQ QueueHandle, PCSTR SourceRootPath, PCSTR SourcePath, PCSTR SourceFilename,
    PCSTR SourceDescription, PCSTR SourceTagfile, PCSTR TargetDirectory, PCSTR TargetFilename, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueCopyA", QueueHandle, SourceRootPath, SourcePath, SourceFilename, SourceDescription, SourceTagfile, TargetDirectory, TargetFilename, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, path, file, description, tag, dir, target;
    return call.returns(finish(queueCopy(QueueHandle, optionalArgument(SourceRootPath, root),
        optionalArgument(SourcePath, path), optionalArgument(SourceFilename, file),
        optionalArgument(SourceDescription, description), optionalArgument(SourceTagfile, tag),
        optionalArgument(TargetDirectory, dir), optionalArgument(TargetFilename, target), CopyStyle)));
}

BOOL WINAPI SetupQueueCopyW(HSPFILEQ QueueHandle, PCWSTR SourceRootPath, PCWSTR SourcePath, PCWSTR SourceFilename,
    PCWSTR SourceDescription, PCWSTR SourceTagfile, PCWSTR TargetDirectory, PCWSTR TargetFilename, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueCopyW", QueueHandle, SourceRootPath, SourcePath, SourceFilename, SourceDescription, SourceTagfile, TargetDirectory, TargetFilename, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, path, file, description, tag, dir, target;
    return call.returns(finish(queueCopy(QueueHandle, optionalArgument(SourceRootPath, root),
        optionalArgument(SourcePath, path), optionalArgument(SourceFilename, file),
        optionalArgument(SourceDescription, description), optionalArgument(SourceTagfile, tag),
        optionalArgument(TargetDirectory, dir), optionalArgument(TargetFilename, target), CopyStyle)));
}

BOOL WINAPI SetupQueueCopySectionA(HSPFILEQ QueueHandle, PCSTR SourceRootPath, HINF InfHandle, HINF ListInfHandle,
    PCSTR Section, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueCopySectionA", QueueHandle, SourceRootPath, InfHandle, ListInfHandle, Section, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, section;
    return call.returns(finish(queueCopySectionOf(QueueHandle, optionalArgument(SourceRootPath, root), InfHandle,
        ListInfHandle, optionalArgument(Section, section), CopyStyle)));
}

BOOL WINAPI SetupQueueCopySectionW(HSPFILEQ QueueHandle, PCWSTR SourceRootPath, HINF InfHandle, HINF ListInfHandle,
    PCWSTR Section, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueCopySectionW", QueueHandle, SourceRootPath, InfHandle, ListInfHandle, Section, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, section;
    return call.returns(finish(queueCopySectionOf(QueueHandle, optionalArgument(SourceRootPath, root), InfHandle,
        ListInfHandle, optionalArgument(Section, section), CopyStyle)));
}

BOOL WINAPI SetupQueueDefaultCopyA(HSPFILEQ QueueHandle, HINF InfHandle, PCSTR SourceRootPath, PCSTR SourceFilename,
    PCSTR TargetFilename, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueDefaultCopyA", QueueHandle, InfHandle, SourceRootPath, SourceFilename, TargetFilename, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, source, target;
    return call.returns(finish(queueDefaultCopyOf(QueueHandle, InfHandle, optionalArgument(SourceRootPath, root),
        optionalArgument(SourceFilename, source), optionalArgument(TargetFilename, target), CopyStyle)));
}

BOOL WINAPI SetupQueueDefaultCopyW(HSPFILEQ QueueHandle, HINF InfHandle, PCWSTR SourceRootPath, PCWSTR SourceFilename,
    PCWSTR TargetFilename, DWORD CopyStyle)
{
    ntsim::ApiCall call("SetupQueueDefaultCopyW", QueueHandle, InfHandle, SourceRootPath, SourceFilename, TargetFilename, CopyStyle);
    if (call.faulted())
        return call.returns(FALSE);
    std::string root, source, target;
    return call.returns(finish(queueDefaultCopyOf(QueueHandle, InfHandle, optionalArgument(SourceRootPath, root),
        optionalArgument(SourceFilename, source), optionalArgument(TargetFilename, target), CopyStyle)));
}

BOOL WINAPI SetupQueueDeleteA(HSPFILEQ QueueHandle, PCSTR PathPart1, PCSTR PathPart2)
{
    ntsim::ApiCall call("SetupQueueDeleteA", QueueHandle, PathPart1, PathPart2);
    if (call.faulted())
        return call.returns(FALSE);
    std::string part1, part2;
    return call.returns(finish(queueDelete(QueueHandle, optionalArgument(PathPart1, part1),
        optionalArgument(PathPart2, part2))));
}

BOOL WINAPI SetupQueueDeleteW(HSPFILEQ QueueHandle, PCWSTR PathPart1, PCWSTR PathPart2)
{
    ntsim::ApiCall call("SetupQueueDeleteW", QueueHandle, PathPart1, PathPart2);
    if (call.faulted())
        return call.returns(FALSE);
    std::string part1, part2;
    return call.returns(finish(queueDelete(QueueHandle, optionalArgument(PathPart1, part1),
        optionalArgument(PathPart2, part2))));
}

BOOL WINAPI SetupQueueDeleteSectionA(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle, PCSTR Section)
{
    ntsim::ApiCall call("SetupQueueDeleteSectionA", QueueHandle, InfHandle, ListInfHandle, Section);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(queueListSection(QueueHandle, InfHandle, ListInfHandle,
        optionalArgument(Section, section), queueDeleteSection)));
}

BOOL WINAPI SetupQueueDeleteSectionW(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle, PCWSTR Section)
{
    ntsim::ApiCall call("SetupQueueDeleteSectionW", QueueHandle, InfHandle, ListInfHandle, Section);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(queueListSection(QueueHandle, InfHandle, ListInfHandle,
        optionalArgument(Section, section), queueDeleteSection)));
}

BOOL WINAPI SetupQueueRenameA(HSPFILEQ QueueHandle, PCSTR SourcePath, PCSTR SourceFilename, PCSTR TargetPath,
    PCSTR TargetFilename)
{
    ntsim::ApiCall call("SetupQueueRenameA", QueueHandle, SourcePath, SourceFilename, TargetPath, TargetFilename);
    if (call.faulted())
        return call.returns(FALSE);
    std::string sourcePath, sourceFile, targetPath, targetFile;
    return call.returns(finish(queueRename(QueueHandle, optionalArgument(SourcePath, sourcePath),
        optionalArgument(SourceFilename, sourceFile), optionalArgument(TargetPath, targetPath),
        optionalArgument(TargetFilename, targetFile))));
}

BOOL WINAPI SetupQueueRenameW(HSPFILEQ QueueHandle, PCWSTR SourcePath, PCWSTR SourceFilename, PCWSTR TargetPath,
    PCWSTR TargetFilename)
{
    ntsim::ApiCall call("SetupQueueRenameW", QueueHandle, SourcePath, SourceFilename, TargetPath, TargetFilename);
    if (call.faulted())
        return call.returns(FALSE);
    std::string sourcePath, sourceFile, targetPath, targetFile;
    return call.returns(finish(queueRename(QueueHandle, optionalArgument(SourcePath, sourcePath),
        optionalArgument(SourceFilename, sourceFile), optionalArgument(TargetPath, targetPath),
        optionalArgument(TargetFilename, targetFile))));
}

BOOL WINAPI SetupQueueRenameSectionA(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle, PCSTR Section)
{
    ntsim::ApiCall call("SetupQueueRenameSectionA", QueueHandle, InfHandle, ListInfHandle, Section);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(queueListSection(QueueHandle, InfHandle, ListInfHandle,
        optionalArgument(Section, section), queueRenameSection)));
}

BOOL WINAPI SetupQueueRenameSectionW(HSPFILEQ QueueHandle, HINF InfHandle, HINF ListInfHandle, PCWSTR Section)
{
    ntsim::ApiCall call("SetupQueueRenameSectionW", QueueHandle, InfHandle, ListInfHandle, Section);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section;
    return call.returns(finish(queueListSection(QueueHandle, InfHandle, ListInfHandle,
        optionalArgument(Section, section), queueRenameSection)));
}

BOOL WINAPI SetupCommitFileQueueA(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_A MsgHandler, PVOID Context)
{
    ntsim::ApiCall call("SetupCommitFileQueueA", Owner, QueueHandle, MsgHandler, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(commitQueue(Owner, QueueHandle, QueueCallback::ansi(MsgHandler, Context))));
}

BOOL WINAPI SetupCommitFileQueueW(HWND Owner, HSPFILEQ QueueHandle, PSP_FILE_CALLBACK_W MsgHandler, PVOID Context)
{
    ntsim::ApiCall call("SetupCommitFileQueueW", Owner, QueueHandle, MsgHandler, Context);
    if (call.faulted())
        return call.returns(FALSE);
    return call.returns(finish(commitQueue(Owner, QueueHandle, QueueCallback::wide(MsgHandler, Context))));
}

BOOL WINAPI SetupInstallFilesFromInfSectionA(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
    PCSTR SectionName, PCSTR SourceRootPath, UINT CopyFlags)
{
    ntsim::ApiCall call("SetupInstallFilesFromInfSectionA", InfHandle, LayoutInfHandle, FileQueue, SectionName, SourceRootPath, CopyFlags);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section, root;
    return call.returns(finish(installFilesFromSection(InfHandle, LayoutInfHandle, FileQueue,
        optionalArgument(SectionName, section), optionalArgument(SourceRootPath, root), CopyFlags)));
}

BOOL WINAPI SetupInstallFilesFromInfSectionW(HINF InfHandle, HINF LayoutInfHandle, HSPFILEQ FileQueue,
    PCWSTR SectionName, PCWSTR SourceRootPath, UINT CopyFlags)
{
    ntsim::ApiCall call("SetupInstallFilesFromInfSectionW", InfHandle, LayoutInfHandle, FileQueue, SectionName, SourceRootPath, CopyFlags);
    if (call.faulted())
        return call.returns(FALSE);
    std::string section, root;
    return call.returns(finish(installFilesFromSection(InfHandle, LayoutInfHandle, FileQueue,
        optionalArgument(SectionName, section), optionalArgument(SourceRootPath, root), CopyFlags)));
}

BOOL WINAPI SetupInstallFileA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR SourceFile, PCSTR SourcePathRoot,
    PCSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_A CopyMsgHandler, PVOID Context)
{
    ntsim::ApiCall call("SetupInstallFileA", InfHandle, InfContext, SourceFile, SourcePathRoot, DestinationName, CopyStyle, CopyMsgHandler, Context);
    if (call.faulted())
        return call.returns(FALSE);
    std::string source, root, destination;
    return call.returns(installFileResult(installFile(InfHandle, InfContext, optionalArgument(SourceFile, source),
        optionalArgument(SourcePathRoot, root), optionalArgument(DestinationName, destination), CopyStyle,
        CopyMsgHandler ? QueueCallback::ansi(CopyMsgHandler, Context) : QueueCallback(), nullptr)));
}

BOOL WINAPI SetupInstallFileW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR SourceFile, PCWSTR SourcePathRoot,
    PCWSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_W CopyMsgHandler, PVOID Context)
{
    ntsim::ApiCall call("SetupInstallFileW", InfHandle, InfContext, SourceFile, SourcePathRoot, DestinationName, CopyStyle, CopyMsgHandler, Context);
    if (call.faulted())
        return call.returns(FALSE);
    std::string source, root, destination;
    return call.returns(installFileResult(installFile(InfHandle, InfContext, optionalArgument(SourceFile, source),
        optionalArgument(SourcePathRoot, root), optionalArgument(DestinationName, destination), CopyStyle,
        CopyMsgHandler ? QueueCallback::wide(CopyMsgHandler, Context) : QueueCallback(), nullptr)));
}

BOOL WINAPI SetupInstallFileExA(HINF InfHandle, PINFCONTEXT InfContext, PCSTR SourceFile, PCSTR SourcePathRoot,
    PCSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_A CopyMsgHandler, PVOID Context, PBOOL FileWasInUse)
{
    ntsim::ApiCall call("SetupInstallFileExA", InfHandle, InfContext, SourceFile, SourcePathRoot, DestinationName, CopyStyle, CopyMsgHandler, Context, FileWasInUse);
    if (call.faulted())
        return call.returns(FALSE);
    std::string source, root, destination;
    return call.returns(installFileResult(installFile(InfHandle, InfContext, optionalArgument(SourceFile, source),
        optionalArgument(SourcePathRoot, root), optionalArgument(DestinationName, destination), CopyStyle,
        CopyMsgHandler ? QueueCallback::ansi(CopyMsgHandler, Context) : QueueCallback(), FileWasInUse)));
}

BOOL WINAPI SetupInstallFileExW(HINF InfHandle, PINFCONTEXT InfContext, PCWSTR SourceFile, PCWSTR SourcePathRoot,
    PCWSTR DestinationName, DWORD CopyStyle, PSP_FILE_CALLBACK_W CopyMsgHandler, PVOID Context, PBOOL FileWasInUse)
{
    ntsim::ApiCall call("SetupInstallFileExW", InfHandle, InfContext, SourceFile, SourcePathRoot, DestinationName, CopyStyle, CopyMsgHandler, Context, FileWasInUse);
    if (call.faulted())
        return call.returns(FALSE);
    std::string source, root, destination;
    return call.returns(installFileResult(installFile(InfHandle, InfContext, optionalArgument(SourceFile, source),
        optionalArgument(SourcePathRoot, root), optionalArgument(DestinationName, destination), CopyStyle,
        CopyMsgHandler ? QueueCallback::wide(CopyMsgHandler, Context) : QueueCallback(), FileWasInUse)));
}
