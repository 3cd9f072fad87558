// The modem's Unimodem response key, found through its device and driver
// keys and removed at the end of a wizard uninstall.
#pragma once
#include <windows.h>

// The driver key's "ResponsesKeyName" into a 256-character buffer.
BOOLEAN FetchOurModemResponses(LPSTR lpszResponsesKeyName, LPCSTR lpszHardwareId);
// Unimodem\DeviceSpecific\<name> with its subtree.
BOOLEAN RemoveUnimodemResponses(LPCSTR lpszResponsesKeyName);
