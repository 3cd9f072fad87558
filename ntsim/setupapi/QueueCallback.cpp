// The default queue callback: lets every operation go ahead and asks the
// person at the desk when a source is missing or a file cannot be copied.
// Also the restart prompt.
#include "kernel32/CodePage.h"
#include "desk/Desk.h"
#include "machine/ApiCall.h"

#include <setupapi.h>

#include <memory>
#include <mutex>
#include <unordered_set>

namespace {

constexpr uint32_t ContextMagic = 0x51554543; // "QUEC"

struct DefaultContext {
    uint32_t magic { ContextMagic };
    HWND owner { nullptr };
};

std::mutex& contextLock()
{
    static std::mutex lock;
    return lock;
}

std::unordered_set<DefaultContext*>& contexts()
{
    static std::unordered_set<DefaultContext*> live;
    return live;
}

std::string utf8(const char* ansi)
{
    return ntsim::ansiToUtf8(ansi ? ansi : "", ntsim::ansiCodePage());
}

std::vector<std::string> choices(DWORD style)
{
    if (style & SP_COPY_NOSKIP)
        return { "retry", "cancel" };
    return { "retry", "skip", "cancel" };
}

// Shows a prompt with retry/skip/cancel and turns the answer into the
// callback's result; cancel fails the queue with ERROR_CANCELLED.
UINT ask(const std::string& kind, const std::string& caption, const std::string& text, const ntsim::Json& extra,
    DWORD style)
{
    ntsim::desk::Shown shown;
    shown.event = "prompt";
    shown.fields = ntsim::Json::object();
    shown.fields["kind"] = kind;
    shown.fields["caption"] = caption;
    shown.fields["text"] = text;
    for (auto& [key, value] : extra.items())
        shown.fields[key] = value;
    shown.answers = choices(style);
    ntsim::Json buttons = ntsim::Json::array();
    for (auto& a : shown.answers)
        buttons.push_back(a);
    shown.fields["buttons"] = buttons;
    shown.name = caption + " prompt";
    shown.title = caption;
    std::string answer = ntsim::desk::show(shown);
    if (answer == "retry")
        return FILEOP_RETRY;
    if (answer == "skip")
        return FILEOP_SKIP;
    SetLastError(ERROR_CANCELLED);
    return FILEOP_ABORT;
}

UINT needMedia(const SOURCE_MEDIA_A& media)
{
    std::string file = utf8(media.SourceFile);
    std::string path = utf8(media.SourcePath);
    std::string text = "The file '" + file + "' on " + (media.Description && *media.Description ? utf8(media.Description) : std::string("the source disk"))
        + " is needed.\nType the path where the file is located, and then click OK.\nCopy files from: " + path;
    ntsim::Json extra = ntsim::Json::object();
    extra["file"] = file;
    extra["path"] = path;
    return ask("files-needed", "Files Needed", text, extra, media.Flags);
}

UINT copyError(const FILEPATHS_A& paths, DWORD style)
{
    std::string source = utf8(paths.Source);
    std::string target = utf8(paths.Target);
    std::string text = "An error (" + std::to_string(paths.Win32Error) + ") occurred while copying the file " + source
        + " to " + target + ".";
    ntsim::Json extra = ntsim::Json::object();
    extra["source"] = source;
    extra["target"] = target;
    extra["error"] = static_cast<unsigned>(paths.Win32Error);
    return ask("copy-error", "Copy Error", text, extra, style);
}

UINT fileError(const char* caption, const char* verb, const FILEPATHS_A& paths)
{
    std::string target = utf8(paths.Target);
    std::string text = "An error (" + std::to_string(paths.Win32Error) + ") occurred while " + verb + " " + target + ".";
    ntsim::Json extra = ntsim::Json::object();
    extra["target"] = target;
    extra["error"] = static_cast<unsigned>(paths.Win32Error);
    return ask(verb, caption, text, extra, 0);
}

}

PVOID WINAPI SetupInitDefaultQueueCallback(HWND OwnerWindow)
{
    ntsim::ApiCall call("SetupInitDefaultQueueCallback", OwnerWindow);
    return call.returns(SetupInitDefaultQueueCallbackEx(OwnerWindow, nullptr, 0, 0, nullptr));
}

PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow, UINT ProgressMessage, DWORD Reserved1, PVOID Reserved2)
{
    ntsim::ApiCall call("SetupInitDefaultQueueCallbackEx", OwnerWindow, AlternateProgressWindow, ProgressMessage, Reserved1, Reserved2);
    auto context = std::make_unique<DefaultContext>();
    context->owner = OwnerWindow;
    std::lock_guard<std::mutex> guard(contextLock());
    return call.returns(*contexts().insert(context.release()).first);
}

void WINAPI SetupTermDefaultQueueCallback(PVOID Context)
{
    ntsim::ApiCall call("SetupTermDefaultQueueCallback", Context);
    auto* context = static_cast<DefaultContext*>(Context);
    std::lock_guard<std::mutex> guard(contextLock());
    if (contexts().erase(context))
        delete context;
}

UINT WINAPI SetupDefaultQueueCallbackA(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2)
{
    ntsim::ApiCall call("SetupDefaultQueueCallbackA", Context, Notification, Param1, Param2);
    switch (Notification) {
    case SPFILENOTIFY_STARTQUEUE:
    case SPFILENOTIFY_STARTSUBQUEUE:
    case SPFILENOTIFY_ENDSUBQUEUE:
    case SPFILENOTIFY_ENDQUEUE:
        return call.returns(TRUE);
    case SPFILENOTIFY_STARTCOPY:
    case SPFILENOTIFY_STARTRENAME:
    case SPFILENOTIFY_STARTDELETE:
        return call.returns(FILEOP_DOIT);
    case SPFILENOTIFY_ENDCOPY:
    case SPFILENOTIFY_ENDRENAME:
    case SPFILENOTIFY_ENDDELETE:
        return call.returns(NO_ERROR);
    case SPFILENOTIFY_NEEDMEDIA:
        return call.returns(needMedia(*reinterpret_cast<const SOURCE_MEDIA_A*>(Param1)));
    case SPFILENOTIFY_COPYERROR:
        return call.returns(copyError(*reinterpret_cast<const FILEPATHS_A*>(Param1), 0));
    case SPFILENOTIFY_DELETEERROR: {
        auto& paths = *reinterpret_cast<const FILEPATHS_A*>(Param1);
        // A file that is already gone needs no deleting.
        if (paths.Win32Error == ERROR_FILE_NOT_FOUND || paths.Win32Error == ERROR_PATH_NOT_FOUND)
            return call.returns(FILEOP_SKIP);
        return call.returns(fileError("Delete Error", "deleting", paths));
    }
    case SPFILENOTIFY_RENAMEERROR:
        return call.returns(fileError("Rename Error", "renaming", *reinterpret_cast<const FILEPATHS_A*>(Param1)));
    case SPFILENOTIFY_TARGETNEWER:
        return call.returns(FALSE); // keep the newer file
    case SPFILENOTIFY_TARGETEXISTS:
    case SPFILENOTIFY_LANGMISMATCH:
        return call.returns(TRUE);
    default:
        (void)Param2;
        return call.returns(FILEOP_DOIT);
    }
}

int WINAPI SetupPromptReboot(PVOID FileQueue, HWND Owner, BOOL ScanOnly)
{
    ntsim::ApiCall call("SetupPromptReboot", FileQueue, Owner, ScanOnly);
    if (ScanOnly) {
        if (!FileQueue) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return call.returns(-1);
        }
        return call.returns(0); // our queues never leave files in use
    }
    ntsim::desk::Shown shown;
    shown.event = "prompt";
    shown.fields = ntsim::Json::object();
    shown.fields["kind"] = "reboot";
    if (Owner)
        shown.fields["owner"] = static_cast<int64_t>(reinterpret_cast<uintptr_t>(Owner));
    else
        shown.fields["owner"] = nullptr;
    shown.fields["caption"] = "System Settings Change";
    std::string text = "You must restart your computer before the new settings will take effect.\n\n"
                       "Do you want to restart your computer now?";
    shown.fields["text"] = text;
    ntsim::Json buttons = ntsim::Json::array();
    buttons.push_back("yes");
    buttons.push_back("no");
    shown.fields["buttons"] = buttons;
    shown.answers = { "yes", "no" };
    shown.name = "System Settings Change prompt";
    shown.title = "System Settings Change";
    std::string answer = ntsim::desk::show(shown);
    SetLastError(NO_ERROR);
    if (answer == "yes") {
        ntsim::desk::record("reboot", ntsim::Json::object());
        return call.returns(SPFILEQ_REBOOT_RECOMMENDED | SPFILEQ_REBOOT_IN_PROGRESS);
    }
    return call.returns(SPFILEQ_REBOOT_RECOMMENDED);
}
