#include "Driver.h"

#include "app/SetupLog.h"

#include <cstring>

namespace {

// Copies into a 256-character field, cutting what does not fit.
void CopyField(char (&field)[256], LPCSTR lpszText)
{
    std::strncpy(field, lpszText ? lpszText : "", sizeof field - 1);
    field[sizeof field - 1] = 0;
}

void CopyOutIfShorter(LPSTR lpszBuffer, UINT nLength, const char* lpszField)
{
    if (lpszBuffer && std::strlen(lpszField) < nLength)
        std::strcpy(lpszBuffer, lpszField);
}

}

CDriver::CDriver(LPCSTR lpszName, LPCSTR lpszInfPath, LPCSTR lpszInfSection, LPCSTR lpszPnPEnumID)
{
    CopyField(m_szName, lpszName);
    CopyField(m_szInfSection, lpszInfSection);
    std::memset(m_szServiceName, 0, sizeof m_szServiceName);
    CopyField(m_szInfPath, lpszInfPath);
    CopyField(m_szPnPEnumID, lpszPnPEnumID);
    for (char* p = m_szPnPEnumID; *p; ++p)
        if (*p == '\\')
            *p = '&';
}

void CDriver::GetName(LPSTR lpszBuffer, UINT nLength)
{
    CopyOutIfShorter(lpszBuffer, nLength, m_szName);
    LogTrace("GetName exit with %s\n", lpszBuffer ? lpszBuffer : "");
}

void CDriver::SetName(LPCSTR lpszName)
{
    CopyField(m_szName, lpszName);
    LogTrace("SetName exit with %s\n", lpszName ? lpszName : "");
}

void CDriver::GetPnPEnumID(LPSTR lpszBuffer, UINT nLength)
{
    CopyOutIfShorter(lpszBuffer, nLength, m_szPnPEnumID);
    LogTrace("GetPnPEnumID exit with %s\n", lpszBuffer ? lpszBuffer : "");
}

void CDriver::SetPnPEnumID(LPCSTR lpszPnPEnumID)
{
    CopyField(m_szPnPEnumID, lpszPnPEnumID);
    LogTrace("SetPnPEnumID exit with %s\n", lpszPnPEnumID ? lpszPnPEnumID : "");
}
