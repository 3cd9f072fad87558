// The default queue callback: lets every operation go ahead and asks the
// person at the desk, through the setup prompts, when a source is missing
// or a file cannot be copied, deleted or renamed.
#include "InfFile.h"
#include "Prompts.h"

#include "machine/ApiCall.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>

using namespace ntsim;
using namespace ntsim::setupapi;

namespace {

struct DefaultContext {
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

// What a notification's FILEPATHS or SOURCE_MEDIA holds, in UTF-8.
struct PathsText {
    std::string target;
    std::string source;
    UINT error { NO_ERROR };
};

struct MediaText {
    std::string description;
    std::string sourcePath;
    std::string sourceFile;
    DWORD flags { 0 };
};

template<typename Paths>
PathsText readPaths(UINT_PTR param)
{
    auto& paths = *reinterpret_cast<const Paths*>(param);
    return { argument(paths.Target), argument(paths.Source), paths.Win32Error };
}

template<typename Media>
MediaText readMedia(UINT_PTR param)
{
    auto& media = *reinterpret_cast<const Media*>(param);
    return { argument(media.Description), argument(media.SourcePath), argument(media.SourceFile), media.Flags };
}

// Writes a new source path into the MAX_PATH buffer of Param2.
void writePath(Charset charset, UINT_PTR buffer, const std::string& path)
{
    TextBuffer out { charset, reinterpret_cast<void*>(buffer), MAX_PATH };
    copyText(path, out, nullptr);
}

// The DPROMPT_* answer of a prompt as the queue's answer.
UINT queueAnswer(UINT prompt)
{
    switch (prompt) {
    case DPROMPT_SUCCESS:
        return FILEOP_RETRY;
    case DPROMPT_SKIPFILE:
        return FILEOP_SKIP;
    default:
        SetLastError(ERROR_CANCELLED);
        return FILEOP_ABORT;
    }
}

// The IDF_* style of the media prompt for a copy's SP_COPY_* style.
DWORD promptStyle(DWORD copyStyle)
{
    DWORD style = 0;
    if (copyStyle & SP_COPY_NOSKIP)
        style |= IDF_NOSKIP;
    if (copyStyle & SP_COPY_WARNIFSKIP)
        style |= IDF_WARNIFSKIP;
    if (copyStyle & SP_COPY_NOBROWSE)
        style |= IDF_NOBROWSE;
    return style;
}

UINT needMedia(const MediaText& media, Charset charset, UINT_PTR newPath)
{
    std::string path;
    UINT answer = promptForDisk(nullptr, &media.description, media.sourcePath, media.sourceFile,
        promptStyle(media.flags), path);
    if (answer == DPROMPT_SUCCESS && path != media.sourcePath) {
        writePath(charset, newPath, path);
        return FILEOP_NEWPATH;
    }
    return queueAnswer(answer);
}

UINT copyError(const PathsText& paths)
{
    std::string path;
    size_t name = paths.source.find_last_of('\\');
    std::string dir = name == std::string::npos ? std::string() : paths.source.substr(0, name);
    std::string file = name == std::string::npos ? paths.source : paths.source.substr(name + 1);
    return queueAnswer(promptCopyError(nullptr, dir, file, paths.target, paths.error, 0, path));
}

UINT defaultCallback(UINT notification, UINT_PTR param1, UINT_PTR param2, Charset charset)
{
    bool wide = charset == Charset::Wide;
    switch (notification) {
    case SPFILENOTIFY_STARTQUEUE:
    case SPFILENOTIFY_STARTSUBQUEUE:
    case SPFILENOTIFY_ENDSUBQUEUE:
    case SPFILENOTIFY_ENDQUEUE:
        return TRUE;
    case SPFILENOTIFY_STARTCOPY:
    case SPFILENOTIFY_STARTRENAME:
    case SPFILENOTIFY_STARTDELETE:
        return FILEOP_DOIT;
    case SPFILENOTIFY_ENDCOPY:
    case SPFILENOTIFY_ENDRENAME:
    case SPFILENOTIFY_ENDDELETE:
        return NO_ERROR;
    case SPFILENOTIFY_NEEDMEDIA:
        return needMedia(wide ? readMedia<SOURCE_MEDIA_W>(param1) : readMedia<SOURCE_MEDIA_A>(param1), charset, param2);
    case SPFILENOTIFY_COPYERROR:
        return copyError(wide ? readPaths<FILEPATHS_W>(param1) : readPaths<FILEPATHS_A>(param1));
    case SPFILENOTIFY_DELETEERROR: {
        PathsText paths = wide ? readPaths<FILEPATHS_W>(param1) : readPaths<FILEPATHS_A>(param1);
        // A file that is already gone needs no deleting.
        if (paths.error == ERROR_FILE_NOT_FOUND || paths.error == ERROR_PATH_NOT_FOUND)
            return FILEOP_SKIP;
        return queueAnswer(promptDeleteError(nullptr, paths.target, paths.error, 0));
    }
    case SPFILENOTIFY_RENAMEERROR: {
        PathsText paths = wide ? readPaths<FILEPATHS_W>(param1) : readPaths<FILEPATHS_A>(param1);
        return queueAnswer(promptRenameError(nullptr, paths.source, paths.target, paths.error, 0));
    }
    case SPFILENOTIFY_TARGETNEWER:
    case SPFILENOTIFY_TARGETEXISTS:
        return FALSE; // the file there stays
    case SPFILENOTIFY_LANGMISMATCH:
        return TRUE;
    default:
        return FILEOP_DOIT;
    }
}

}

PVOID WINAPI SetupInitDefaultQueueCallback(HWND OwnerWindow)
{
    ntsim::ApiCall call("SetupInitDefaultQueueCallback", OwnerWindow);
    if (call.faulted())
        return call.returns(static_cast<PVOID>(nullptr));
    return call.returns(SetupInitDefaultQueueCallbackEx(OwnerWindow, nullptr, 0, 0, nullptr));
}

PVOID WINAPI SetupInitDefaultQueueCallbackEx(HWND OwnerWindow, HWND AlternateProgressWindow, UINT ProgressMessage,
    DWORD Reserved1, PVOID Reserved2)
{
    ntsim::ApiCall call("SetupInitDefaultQueueCallbackEx", OwnerWindow, AlternateProgressWindow, ProgressMessage, Reserved1, Reserved2);
    if (call.faulted())
        return call.returns(static_cast<PVOID>(nullptr));
    auto context = std::make_unique<DefaultContext>();
    context->owner = OwnerWindow;
    std::lock_guard<std::mutex> guard(contextLock());
    return call.returns(static_cast<PVOID>(*contexts().insert(context.release()).first));
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
    return call.returns(defaultCallback(Notification, Param1, Param2, Charset::Ansi));
}

UINT WINAPI SetupDefaultQueueCallbackW(PVOID Context, UINT Notification, UINT_PTR Param1, UINT_PTR Param2)
{
    ntsim::ApiCall call("SetupDefaultQueueCallbackW", Context, Notification, Param1, Param2);
    return call.returns(defaultCallback(Notification, Param1, Param2, Charset::Wide));
}
