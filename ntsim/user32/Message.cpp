// The message queue of this process's one thread, and sending and posting
// to windows here and in other processes.
#include "Message.h"

#include "MessageChannel.h"
#include "Window.h"
#include "machine/ApiCall.h"

#include <time.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

namespace ntsim::user32 {

namespace {

struct Queue {
    std::deque<MSG> posted;
    bool quit { false };
    int quitCode { 0 };
};

Queue& queue()
{
    static Queue q;
    return q;
}

DWORD tickCount()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<DWORD>(static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec) / 1000000);
}

void enqueue(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg {};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = tickCount();
    queue().posted.push_back(msg);
}

// Messages whose parameters point into the sender's memory can only be sent.
bool carriesPointers(UINT message)
{
    switch (message) {
    case WM_CREATE:
    case WM_NCCREATE:
    case WM_SETTEXT:
    case WM_GETTEXT:
        return true;
    default:
        return false;
    }
}

std::string number(uint64_t n) { return std::to_string(n); }
uint64_t numberOf(const Json& j, const char* key) { return std::strtoull(stringMember(j, key).c_str(), nullptr, 10); }

bool matches(const MSG& msg, HWND filter, UINT low, UINT high)
{
    if (filter && msg.hwnd != filter)
        return false;
    if (low == 0 && high == 0)
        return true;
    return msg.message >= low && msg.message <= high;
}

// Delivers to another process; an owner that is gone loses its windows.
bool deliverTo(const WindowEntry& window, const Json& request, Json& reply)
{
    switch (deliver(window.pid, request, reply)) {
    case Delivery::Answered:
        if (!boolMember(reply, "ok")) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        return true;
    case Delivery::NoReceiver:
        WindowTable::removeProcess(window.pid);
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    case Delivery::TimedOut:
        SetLastError(ERROR_TIMEOUT);
        return false;
    }
    return false;
}

Json requestFor(const char* op, const WindowEntry& window)
{
    Json request = Json::object();
    request["op"] = op;
    request["hwnd"] = number(window.handle);
    return request;
}

Json answerSend(const std::shared_ptr<Window>& window, const Json& request)
{
    UINT message = static_cast<UINT>(numberOf(request, "msg"));
    WPARAM wParam = static_cast<WPARAM>(numberOf(request, "wParam"));
    LPARAM lParam = static_cast<LPARAM>(numberOf(request, "lParam"));
    Json reply = Json::object();
    reply["ok"] = true;
    if (message == WM_SETTEXT) {
        std::string text = bytesOf(member(request, "text"));
        bool none = member(request, "text").is_null();
        reply["result"] = number(static_cast<uint64_t>(window->call(message, wParam, none ? 0 : reinterpret_cast<LPARAM>(text.c_str()))));
    } else if (message == WM_GETTEXT) {
        std::vector<char> buffer(wParam + 1, 0);
        LRESULT result = window->call(message, wParam, wParam ? reinterpret_cast<LPARAM>(buffer.data()) : 0);
        reply["result"] = number(static_cast<uint64_t>(result));
        reply["text"] = bytesJson(std::string(buffer.data(), strnlen(buffer.data(), wParam)));
    } else {
        reply["result"] = number(static_cast<uint64_t>(window->call(message, wParam, lParam)));
    }
    return reply;
}

// The next posted message for the filter, or the quit the thread was told
// of once nothing else is left. Sent messages are served before anything
// posted is returned.
bool takeMessage(MSG& msg, HWND filter, UINT low, UINT high, bool remove)
{
    if (MessageListener* listener = MessageListener::existing())
        listener->serveWaiting();
    auto& q = queue();
    for (auto it = q.posted.begin(); it != q.posted.end(); ++it) {
        if (matches(*it, filter, low, high)) {
            msg = *it;
            if (remove)
                q.posted.erase(it);
            return true;
        }
    }
    if (q.quit) {
        if (remove)
            q.quit = false;
        msg = MSG {};
        msg.message = WM_QUIT;
        msg.wParam = static_cast<WPARAM>(q.quitCode);
        msg.time = tickCount();
        return true;
    }
    return false;
}

}

Json answerRequest(const Json& request)
{
    HWND hwnd = handleOf(numberOf(request, "hwnd"));
    auto window = WindowList::find(hwnd);
    if (!window || window->destroying()) {
        Json reply = Json::object();
        reply["ok"] = false;
        return reply;
    }
    std::string op = stringMember(request, "op");
    if (op == "send")
        return answerSend(window, request);
    Json reply = Json::object();
    reply["ok"] = true;
    int argument = static_cast<int>(intMember(request, "argument"));
    if (op == "post") {
        enqueue(hwnd, static_cast<UINT>(numberOf(request, "msg")), static_cast<WPARAM>(numberOf(request, "wParam")),
            static_cast<LPARAM>(numberOf(request, "lParam")));
    } else if (op == "show") {
        reply["result"] = std::to_string(ShowWindow(hwnd, argument));
    } else if (op == "enable") {
        reply["result"] = std::to_string(EnableWindow(hwnd, argument));
    } else if (op == "visible") {
        reply["result"] = std::to_string(IsWindowVisible(hwnd));
    } else if (op == "getlong" && (argument == GWL_STYLE || argument == GWL_EXSTYLE || argument == GWL_ID)) {
        reply["result"] = std::to_string(GetWindowLongA(hwnd, argument));
    } else if (int64_t rect = 0; answerRectRequest(hwnd, op, rect)) {
        reply["result"] = std::to_string(rect);
    } else {
        reply["ok"] = false;
    }
    return reply;
}

LRESULT sendToForeignWindow(const WindowEntry& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Json request = requestFor("send", window);
    request["msg"] = number(message);
    request["wParam"] = number(wParam);
    if (message == WM_SETTEXT) {
        request["lParam"] = "0";
        request["text"] = lParam ? bytesJson(reinterpret_cast<LPCSTR>(lParam)) : Json();
    } else if (message == WM_GETTEXT) {
        request["lParam"] = "0";
    } else {
        request["lParam"] = number(static_cast<uint64_t>(lParam));
    }
    Json reply;
    if (!deliverTo(window, request, reply))
        return 0;
    LRESULT result = static_cast<LRESULT>(numberOf(reply, "result"));
    if (message == WM_GETTEXT && wParam && lParam) {
        std::string text = bytesOf(member(reply, "text"));
        size_t count = std::min(text.size(), static_cast<size_t>(wParam) - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.data(), count);
        reinterpret_cast<char*>(lParam)[count] = 0;
    }
    return result;
}

BOOL postToForeignWindow(const WindowEntry& window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Json request = requestFor("post", window);
    request["msg"] = number(message);
    request["wParam"] = number(wParam);
    request["lParam"] = number(static_cast<uint64_t>(lParam));
    Json reply;
    return deliverTo(window, request, reply) ? TRUE : FALSE;
}

bool callForeignWindow(const WindowEntry& window, const char* op, int64_t argument, int64_t& result)
{
    Json request = requestFor(op, window);
    request["argument"] = argument;
    Json reply;
    if (!deliverTo(window, request, reply))
        return false;
    result = std::strtoll(stringMember(reply, "result").c_str(), nullptr, 10);
    return true;
}

}

using namespace ntsim::user32;

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("SendMessageA", hWnd, Msg, wParam, lParam);
    if (auto window = WindowList::find(hWnd))
        return call.returns(window->call(Msg, wParam, lParam));
    if (auto entry = foreignWindow(hWnd))
        return call.returns(sendToForeignWindow(*entry, Msg, wParam, lParam));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(0);
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    ntsim::ApiCall call("PostMessageA", hWnd, Msg, wParam, lParam);
    if (call.faulted())
        return call.returns(FALSE);
    if (carriesPointers(Msg)) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return call.returns(FALSE);
    }
    if (!hWnd || WindowList::find(hWnd)) {
        // A null window posts to this thread's own queue.
        enqueue(hWnd, Msg, wParam, lParam);
        return call.returns(TRUE);
    }
    if (auto entry = foreignWindow(hWnd))
        return call.returns(postToForeignWindow(*entry, Msg, wParam, lParam));
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return call.returns(FALSE);
}

void WINAPI PostQuitMessage(int nExitCode)
{
    ntsim::ApiCall call("PostQuitMessage", nExitCode);
    queue().quit = true;
    queue().quitCode = nExitCode;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    ntsim::ApiCall call("GetMessageA", lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax);
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return call.returns(-1);
    }
    if (hWnd && !WindowList::find(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(-1);
    }
    for (;;) {
        if (takeMessage(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true))
            return call.returns(lpMsg->message != WM_QUIT);
        waitForRequests(answerRequest);
    }
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    ntsim::ApiCall call("PeekMessageA", lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg);
    if (!lpMsg) {
        SetLastError(ERROR_NOACCESS);
        return call.returns(FALSE);
    }
    if (hWnd && !WindowList::find(hWnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(FALSE);
    }
    return call.returns(takeMessage(*lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, wRemoveMsg & PM_REMOVE) ? TRUE : FALSE);
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg)
{
    ntsim::ApiCall call("TranslateMessage", lpMsg);
    // The desk types no keys into windows: there are no key messages to
    // turn into characters.
    (void)lpMsg;
    return call.returns(FALSE);
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg)
{
    ntsim::ApiCall call("DispatchMessageA", lpMsg);
    if (!lpMsg || !lpMsg->hwnd)
        return call.returns(0);
    auto window = WindowList::find(lpMsg->hwnd);
    if (!window) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return call.returns(0);
    }
    return call.returns(window->call(lpMsg->message, lpMsg->wParam, lpMsg->lParam));
}
