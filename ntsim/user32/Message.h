// Messages to windows of other processes of the machine.
#pragma once
#include <windows.h>

#include "WindowTable.h"
#include "machine/Json.h"

namespace ntsim::user32 {

// Answers one request of another process's sender: what the process's
// message listener hands every request to.
Json answerRequest(const Json& request);

// Sends a message to another process's window and returns its result;
// WM_SETTEXT and WM_GETTEXT carry their texts across. 0 with the last error
// set when the owner is gone (ERROR_INVALID_WINDOW_HANDLE) or does not
// answer in time (ERROR_TIMEOUT).
LRESULT sendToForeignWindow(const WindowEntry& window, UINT message, WPARAM wParam, LPARAM lParam);

// Queues a message for another process's window; its parameters cross as
// numbers.
BOOL postToForeignWindow(const WindowEntry& window, UINT message, WPARAM wParam, LPARAM lParam);

// The calls any process may make on another's window, run by the owner:
// "show" (ShowWindow, result: was visible), "enable" (EnableWindow, result:
// was disabled), "visible" (IsWindowVisible), "getlong" (GetWindowLongA of
// GWL_STYLE, GWL_EXSTYLE or GWL_ID) and the rectangles of WindowPos.cpp. False with the last error set when
// the owner is gone or does not answer.
bool callForeignWindow(const WindowEntry& window, const char* op, int64_t argument, int64_t& result);

}
