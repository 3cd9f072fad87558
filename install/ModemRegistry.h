// The modem's hardware id, built from the PCI values its driver keeps
// under the service's parameters.
#pragma once
#include <windows.h>

// "VEN_vvvv&DEV_dddd&SUBSYS_ssssuuuu&REV_rr" into lpszId.
BOOL GetTheModemPlugAngPlayIdString(LPCSTR lpszServiceName, LPSTR lpszId, UINT nLength);
