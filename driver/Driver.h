// One kernel-mode driver of the setup INF and its operations: installation
// and removal through the INF's sections, and control of its service.
#pragma once
#include <windows.h>

#include "Status.h"

class CDriver {
public:
    CDriver(LPCSTR lpszName, LPCSTR lpszInfPath, LPCSTR lpszInfSection, LPCSTR lpszPnPEnumID);
    ~CDriver() = default;

    UINT GetDriverServiceName(LPSTR lpszBuffer, UINT nLength);
    UINT Install(HWND hOwner);
    UINT Uninstall(HWND hOwner);

    UINT open_service(LPCSTR lpszServiceName, DWORD dwDesiredAccess, SC_HANDLE* phService);
    UINT GetInfo(UINT* puState);
    UINT Start();
    UINT Stop();

    void GetName(LPSTR lpszBuffer, UINT nLength);
    void SetName(LPCSTR lpszName);
    void GetPnPEnumID(LPSTR lpszBuffer, UINT nLength);
    void SetPnPEnumID(LPCSTR lpszPnPEnumID);

private:
    CDriver(const CDriver&) = delete;
    CDriver& operator=(const CDriver&) = delete;

    char m_szName[256];
    char m_szInfSection[256];
    char m_szServiceName[256];
    char m_szInfPath[256];
    char m_szPnPEnumID[256];
};

// Closes the first top-level window titled exactly "Control Panel".
void CloseControlPanelWindow();
