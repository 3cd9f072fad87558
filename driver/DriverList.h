// The drivers of the setup INF's Models section, in the order of its lines.
#pragma once
#include "Driver.h"

#include "afx/afx.h"

class CDriverList {
public:
    // Reads the section; an INF that cannot be read leaves the list empty.
    CDriverList(LPCSTR lpszInfPath, LPCSTR lpszSection);
    ~CDriverList();

    // A null position stands before the first driver.
    BOOL Rewind(POSITION& rPosition) const;
    BOOL Next(POSITION& rPosition) const;

    UINT GetDriverServiceName(POSITION position, LPSTR lpszBuffer, UINT nLength);
    UINT GetInfo(POSITION position, UINT* puState);
    void GetName(POSITION position, LPSTR lpszBuffer, UINT nLength);
    void GetPnPEnumID(POSITION position, LPSTR lpszBuffer, UINT nLength);
    void SetName(POSITION position, LPCSTR lpszName);
    void SetPnPEnumID(POSITION position, LPCSTR lpszPnPEnumID);
    UINT InstallAndStart(POSITION position, HWND hOwner);
    UINT StopAndUninstall(POSITION position, HWND hOwner);

    int GetCount() const { return m_list.GetCount(); }

private:
    CDriverList(const CDriverList&) = delete;
    CDriverList& operator=(const CDriverList&) = delete;

    CDriver* DriverAt(POSITION position) const { return static_cast<CDriver*>(m_list.GetAt(position)); }

    CPtrList m_list;
    char m_szInfPath[260];
};
