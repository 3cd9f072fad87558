#include "DriverList.h"

#include <setupapi.h>

#include <cstring>

CDriverList::CDriverList(LPCSTR lpszInfPath, LPCSTR lpszSection)
    : m_list(10)
    , m_szInfPath {}
{
    // Each driver keeps the path in 256 characters: a longer one is refused
    // with an empty list rather than cut into a path to another file.
    if (!lpszInfPath || std::strlen(lpszInfPath) >= 256)
        return;
    std::strcpy(m_szInfPath, lpszInfPath);

    UINT nErrorLine = 0;
    HINF hInf = SetupOpenInfFileA(m_szInfPath, nullptr, INF_STYLE_WIN4, &nErrorLine);
    if (hInf == INVALID_HANDLE_VALUE)
        return;

    INFCONTEXT context;
    if (SetupFindFirstLineA(hInf, lpszSection, nullptr, &context)) {
        do {
            char szName[128];
            char szSection[80];
            char szPnPEnumID[80];
            if (!SetupGetStringFieldA(&context, 0, szName, sizeof szName, nullptr)
                || !SetupGetStringFieldA(&context, 1, szSection, sizeof szSection, nullptr)
                || !SetupGetStringFieldA(&context, 2, szPnPEnumID, sizeof szPnPEnumID, nullptr))
                break;
            m_list.AddTail(new CDriver(szName, m_szInfPath, szSection, szPnPEnumID));
        } while (SetupFindNextLine(&context, &context));
    }
    SetupCloseInfFile(hInf);
}

CDriverList::~CDriverList()
{
    for (POSITION position = m_list.GetHeadPosition(); position;) {
        auto* driver = static_cast<CDriver*>(m_list.GetNext(position));
        delete driver;
    }
    m_list.RemoveAll();
}

BOOL CDriverList::Rewind(POSITION& rPosition) const
{
    rPosition = nullptr;
    return !m_list.IsEmpty();
}

BOOL CDriverList::Next(POSITION& rPosition) const
{
    POSITION next = m_list.GetHeadPosition();
    if (rPosition) {
        next = rPosition;
        m_list.GetNext(next);
    }
    if (!next)
        return FALSE;
    rPosition = next;
    return TRUE;
}

UINT CDriverList::GetDriverServiceName(POSITION position, LPSTR lpszBuffer, UINT nLength)
{
    return DriverAt(position)->GetDriverServiceName(lpszBuffer, nLength);
}

UINT CDriverList::GetInfo(POSITION position, UINT* puState)
{
    return DriverAt(position)->GetInfo(puState);
}

void CDriverList::GetName(POSITION position, LPSTR lpszBuffer, UINT nLength)
{
    DriverAt(position)->GetName(lpszBuffer, nLength);
}

void CDriverList::GetPnPEnumID(POSITION position, LPSTR lpszBuffer, UINT nLength)
{
    DriverAt(position)->GetPnPEnumID(lpszBuffer, nLength);
}

void CDriverList::SetName(POSITION position, LPCSTR lpszName)
{
    DriverAt(position)->SetName(lpszName);
}

void CDriverList::SetPnPEnumID(POSITION position, LPCSTR lpszPnPEnumID)
{
    DriverAt(position)->SetPnPEnumID(lpszPnPEnumID);
}

UINT CDriverList::InstallAndStart(POSITION position, HWND hOwner)
{
    CDriver* driver = DriverAt(position);
    UINT uRet = driver->Install(hOwner);
    if (uRet == ST_SUCCESS)
        uRet = driver->Start();
    return uRet;
}

UINT CDriverList::StopAndUninstall(POSITION position, HWND hOwner)
{
    CDriver* driver = DriverAt(position);
    UINT uRet = driver->Stop();
    if (uRet == ST_SUCCESS)
        uRet = driver->Uninstall(hOwner);
    return uRet;
}
