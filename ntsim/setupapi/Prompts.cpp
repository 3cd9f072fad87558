// SetupPromptForDisk, SetupCopyError, SetupDeleteError, SetupRenameError
// and SetupPromptReboot: what they show the person at the desk.
#include "Prompts.h"

#include "FileQueue.h"
#include "InfFile.h"

#include "desk/Desk.h"
#include "machine/ApiCall.h"

#include <vector>

namespace ntsim::setupapi {

namespace {

std::vector<std::string> choices(DWORD style)
{
    if (style & IDF_NOSKIP)
        return { "retry", "cancel" };
    return { "retry", "skip", "cancel" };
}

// Shows a prompt with retry/skip/cancel and turns the answer into a
// DPROMPT_* value.
UINT ask(const std::string& kind, const std::string& caption, const std::string& text, const Json& extra, DWORD style)
{
    desk::Shown shown;
    shown.event = "prompt";
    shown.fields = Json::object();
    shown.fields["kind"] = kind;
    shown.fields["caption"] = caption;
    shown.fields["text"] = text;
    for (auto& [key, value] : extra.items())
        shown.fields[key] = value;
    shown.answers = choices(style);
    Json buttons = Json::array();
    for (auto& a : shown.answers)
        buttons.push_back(a);
    shown.fields["buttons"] = buttons;
    shown.name = caption + " prompt";
    shown.title = caption;
    std::string answer = desk::show(shown);
    if (answer == "retry")
        return DPROMPT_SUCCESS;
    if (answer == "skip")
        return DPROMPT_SKIPFILE;
    return DPROMPT_CANCEL;
}

std::string captionOr(const std::string* title, const char* fallback)
{
    return title && !title->empty() ? *title : fallback;
}

}

UINT promptForDisk(const std::string* title, const std::string* diskName, const std::string& pathToSource,
    const std::string& fileSought, DWORD style, std::string& path)
{
    path = pathToSource;
    // With IDF_CHECKFIRST a file that is there needs no asking.
    if ((style & IDF_CHECKFIRST) && !fileSought.empty() && isFileOnMachine(joinNtPath(pathToSource, fileSought)))
        return DPROMPT_SUCCESS;
    std::string disk = diskName && !diskName->empty() ? *diskName : "the source disk";
    std::string text = "The file '" + fileSought + "' on " + disk
        + " is needed.\nType the path where the file is located, and then click OK.\nCopy files from: " + pathToSource;
    Json extra = Json::object();
    extra["file"] = fileSought;
    extra["path"] = pathToSource;
    return ask("files-needed", captionOr(title, "Files Needed"), text, extra, style);
}

UINT promptCopyError(const std::string* title, const std::string& pathToSource, const std::string& sourceFile,
    const std::string& target, UINT error, DWORD style, std::string& path)
{
    path = pathToSource;
    std::string source = joinNtPath(pathToSource, sourceFile);
    std::string text = "An error (" + std::to_string(error) + ") occurred while copying the file " + source + " to "
        + target + ".";
    Json extra = Json::object();
    extra["source"] = source;
    extra["target"] = target;
    extra["error"] = error;
    return ask("copy-error", captionOr(title, "Copy Error"), text, extra, style);
}

namespace {

UINT fileError(const std::string& caption, const char* verb, const std::string& target, UINT error, DWORD style)
{
    std::string text = "An error (" + std::to_string(error) + ") occurred while " + verb + " " + target + ".";
    Json extra = Json::object();
    extra["target"] = target;
    extra["error"] = error;
    return ask(verb, caption, text, extra, style);
}

}

UINT promptDeleteError(const std::string* title, const std::string& file, UINT error, DWORD style)
{
    return fileError(captionOr(title, "Delete Error"), "deleting", file, error, style);
}

UINT promptRenameError(const std::string* title, const std::string&, const std::string& target, UINT error,
    DWORD style)
{
    return fileError(captionOr(title, "Rename Error"), "renaming", target, error, style);
}

}

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

// A prompt's path result in the caller's buffer: DPROMPT_BUFFERTOOSMALL
// when it does not fit.
UINT promptResult(UINT answer, const std::string& path, const TextBuffer& buffer, PDWORD required)
{
    if (answer != DPROMPT_SUCCESS)
        return answer;
    if (!buffer.data && !required)
        return answer;
    return copyText(path, buffer, required) == NO_ERROR ? answer : DPROMPT_BUFFERTOOSMALL;
}

// Without a file sought, the disk is known by its tag file.
template<typename Char>
UINT promptForDiskFrom(const Char* DialogTitle, const Char* DiskName, const Char* PathToSource, const Char* FileSought,
    const Char* TagFile, DWORD DiskPromptStyle, const TextBuffer& buffer, PDWORD PathRequiredSize)
{
    std::string title, disk, path;
    UINT answer = promptForDisk(optionalArgument(DialogTitle, title), optionalArgument(DiskName, disk),
        argument(PathToSource), argument(FileSought ? FileSought : TagFile), DiskPromptStyle, path);
    SetLastError(NO_ERROR);
    return promptResult(answer, path, buffer, PathRequiredSize);
}

template<typename Char>
UINT copyErrorFrom(const Char* DialogTitle, const Char* PathToSource, const Char* SourceFile,
    const Char* TargetPathFile, UINT Win32ErrorCode, DWORD Style, const TextBuffer& buffer, PDWORD PathRequiredSize)
{
    if (!SourceFile || !TargetPathFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return DPROMPT_CANCEL;
    }
    std::string title, path;
    UINT answer = promptCopyError(optionalArgument(DialogTitle, title), argument(PathToSource), argument(SourceFile),
        argument(TargetPathFile), Win32ErrorCode, Style, path);
    SetLastError(NO_ERROR);
    return promptResult(answer, path, buffer, PathRequiredSize);
}

template<typename Char>
UINT deleteErrorFrom(const Char* DialogTitle, const Char* File, UINT Win32ErrorCode, DWORD Style)
{
    std::string title;
    UINT answer = promptDeleteError(optionalArgument(DialogTitle, title), argument(File), Win32ErrorCode, Style);
    SetLastError(NO_ERROR);
    return answer;
}

template<typename Char>
UINT renameErrorFrom(const Char* DialogTitle, const Char* SourceFile, const Char* TargetFile, UINT Win32ErrorCode,
    DWORD Style)
{
    std::string title;
    UINT answer = promptRenameError(optionalArgument(DialogTitle, title), argument(SourceFile), argument(TargetFile),
        Win32ErrorCode, Style);
    SetLastError(NO_ERROR);
    return answer;
}

int promptReboot(HSPFILEQ queue, HWND owner, BOOL scanOnly)
{
    if (queue) {
        if (!FileQueue::fromHandle(queue)) {
            SetLastError(ERROR_INVALID_HANDLE);
            return -1;
        }
        // The machine's queues never leave a file in use, so nothing
        // committed through one asks for a restart.
        SetLastError(NO_ERROR);
        return 0;
    }
    if (scanOnly) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    desk::Shown shown;
    shown.event = "prompt";
    shown.fields = Json::object();
    shown.fields["kind"] = "reboot";
    if (owner)
        shown.fields["owner"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(owner));
    else
        shown.fields["owner"] = nullptr;
    shown.fields["caption"] = "System Settings Change";
    shown.fields["text"] = "You must restart your computer before the new settings will take effect.\n\n"
                           "Do you want to restart your computer now?";
    Json buttons = Json::array();
    buttons.push_back("yes");
    buttons.push_back("no");
    shown.fields["buttons"] = buttons;
    shown.answers = { "yes", "no" };
    shown.name = "System Settings Change prompt";
    shown.title = "System Settings Change";
    std::string answer = desk::show(shown);
    SetLastError(NO_ERROR);
    if (answer == "yes") {
        desk::record("reboot", Json::object());
        return SPFILEQ_REBOOT_RECOMMENDED | SPFILEQ_REBOOT_IN_PROGRESS;
    }
    return SPFILEQ_REBOOT_RECOMMENDED;
}

}

UINT WINAPI SetupPromptForDiskA(HWND hwndParent, PCSTR DialogTitle, PCSTR DiskName, PCSTR PathToSource,
    PCSTR FileSought, PCSTR TagFile, DWORD DiskPromptStyle, PSTR PathBuffer, DWORD PathBufferSize,
    PDWORD PathRequiredSize)
{
    ntsim::ApiCall call("SetupPromptForDiskA", hwndParent, DialogTitle, DiskName, PathToSource, FileSought, TagFile, DiskPromptStyle, PathBuffer, PathBufferSize, PathRequiredSize);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(promptForDiskFrom(DialogTitle, DiskName, PathToSource, FileSought, TagFile, DiskPromptStyle,
        TextBuffer::ansi(PathBuffer, PathBufferSize), PathRequiredSize));
}

UINT WINAPI SetupPromptForDiskW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR DiskName, PCWSTR PathToSource,
    PCWSTR FileSought, PCWSTR TagFile, DWORD DiskPromptStyle, PWSTR PathBuffer, DWORD PathBufferSize,
    PDWORD PathRequiredSize)
{
    ntsim::ApiCall call("SetupPromptForDiskW", hwndParent, DialogTitle, DiskName, PathToSource, FileSought, TagFile, DiskPromptStyle, PathBuffer, PathBufferSize, PathRequiredSize);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(promptForDiskFrom(DialogTitle, DiskName, PathToSource, FileSought, TagFile, DiskPromptStyle,
        TextBuffer::wide(PathBuffer, PathBufferSize), PathRequiredSize));
}

UINT WINAPI SetupCopyErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR DiskName, PCSTR PathToSource,
    PCSTR SourceFile, PCSTR TargetPathFile, UINT Win32ErrorCode, DWORD Style, PSTR PathBuffer, DWORD PathBufferSize,
    PDWORD PathRequiredSize)
{
    ntsim::ApiCall call("SetupCopyErrorA", hwndParent, DialogTitle, DiskName, PathToSource, SourceFile, TargetPathFile, Win32ErrorCode, Style, PathBuffer, PathBufferSize, PathRequiredSize);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(copyErrorFrom(DialogTitle, PathToSource, SourceFile, TargetPathFile, Win32ErrorCode, Style,
        TextBuffer::ansi(PathBuffer, PathBufferSize), PathRequiredSize));
}

UINT WINAPI SetupCopyErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR DiskName, PCWSTR PathToSource,
    PCWSTR SourceFile, PCWSTR TargetPathFile, UINT Win32ErrorCode, DWORD Style, PWSTR PathBuffer,
    DWORD PathBufferSize, PDWORD PathRequiredSize)
{
    ntsim::ApiCall call("SetupCopyErrorW", hwndParent, DialogTitle, DiskName, PathToSource, SourceFile, TargetPathFile, Win32ErrorCode, Style, PathBuffer, PathBufferSize, PathRequiredSize);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(copyErrorFrom(DialogTitle, PathToSource, SourceFile, TargetPathFile, Win32ErrorCode, Style,
        TextBuffer::wide(PathBuffer, PathBufferSize), PathRequiredSize));
}

UINT WINAPI SetupDeleteErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR File, UINT Win32ErrorCode, DWORD Style)
{
    ntsim::ApiCall call("SetupDeleteErrorA", hwndParent, DialogTitle, File, Win32ErrorCode, Style);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(deleteErrorFrom(DialogTitle, File, Win32ErrorCode, Style));
}

UINT WINAPI SetupDeleteErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR File, UINT Win32ErrorCode, DWORD Style)
{
    ntsim::ApiCall call("SetupDeleteErrorW", hwndParent, DialogTitle, File, Win32ErrorCode, Style);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(deleteErrorFrom(DialogTitle, File, Win32ErrorCode, Style));
}

UINT WINAPI SetupRenameErrorA(HWND hwndParent, PCSTR DialogTitle, PCSTR SourceFile, PCSTR TargetFile,
    UINT Win32ErrorCode, DWORD Style)
{
    ntsim::ApiCall call("SetupRenameErrorA", hwndParent, DialogTitle, SourceFile, TargetFile, Win32ErrorCode, Style);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(renameErrorFrom(DialogTitle, SourceFile, TargetFile, Win32ErrorCode, Style));
}

UINT WINAPI SetupRenameErrorW(HWND hwndParent, PCWSTR DialogTitle, PCWSTR SourceFile, PCWSTR TargetFile,
    UINT Win32ErrorCode, DWORD Style)
{
    ntsim::ApiCall call("SetupRenameErrorW", hwndParent, DialogTitle, SourceFile, TargetFile, Win32ErrorCode, Style);
    if (call.faulted())
        return call.returns(UINT(DPROMPT_CANCEL));
    return call.returns(renameErrorFrom(DialogTitle, SourceFile, TargetFile, Win32ErrorCode, Style));
}

int WINAPI SetupPromptReboot(HSPFILEQ FileQueue, HWND Owner, BOOL ScanOnly)
{
    ntsim::ApiCall call("SetupPromptReboot", FileQueue, Owner, ScanOnly);
    if (call.faulted())
        return call.returns(-1);
    return call.returns(promptReboot(FileQueue, Owner, ScanOnly));
}
