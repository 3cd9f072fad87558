// The registry traces a removed legacy driver's service leaves behind.
#pragma once
#include <windows.h>

// Enum\Root\LEGACY_<SERVICE> with its subtree.
BOOLEAN RemoveEnumRootDriverKey(LPCSTR lpszServiceName);
// The service's entries in the AttachedComponents list of Enum\HTREE\Root\0.
BOOLEAN RemoveEnumHtreeDriverString(LPCSTR lpszServiceName);
// The service's event-log source key with its subtree.
BOOLEAN RemoveEventLogDriverKey(LPCSTR lpszServiceName);
