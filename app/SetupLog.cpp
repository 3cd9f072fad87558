#include "SetupLog.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

// Text mode, write access, the file must exist: the C runtime's append.
constexpr UINT openExistingForAppend = CFile::typeText | CFile::modeWrite;
constexpr UINT createForWriting = CFile::typeText | CFile::modeCreate | CFile::modeWrite;

}

CSetupLog::CSetupLog()
    : m_bOpen(FALSE)
    , m_szFileName {}
    , m_bEnabled(FALSE)
{
    m_file.Close();
}

CSetupLog::~CSetupLog()
{
    if (m_bOpen)
        m_file.Close();
    m_bOpen = FALSE;
    m_bEnabled = FALSE;
}

void CSetupLog::Enable()
{
    m_bEnabled = TRUE;
}

void CSetupLog::SetFileName(LPCSTR lpszName)
{
    if (!lpszName)
        return;
    char szModule[260] = "";
    GetModuleFileNameA(nullptr, szModule, sizeof szModule);
    LPSTR lpszFilePart = nullptr;
    DWORD nFull = GetFullPathNameA(szModule, sizeof m_szFileName, m_szFileName, &lpszFilePart);
    if (nFull == 0 || nFull >= sizeof m_szFileName || !lpszFilePart) {
        m_szFileName[0] = 0;
        return;
    }
    // A directory so deep that the name does not fit leaves the log without
    // a file rather than writing past the buffer.
    size_t nDir = static_cast<size_t>(lpszFilePart - m_szFileName);
    if (nDir + std::strlen(lpszName) >= sizeof m_szFileName) {
        m_szFileName[0] = 0;
        return;
    }
    std::strcpy(lpszFilePart, lpszName);
}

BOOL CSetupLog::Open()
{
    if (!m_bEnabled)
        return FALSE;
    if (!m_bOpen && m_szFileName[0]) {
        if (m_file.Open(m_szFileName, openExistingForAppend) || m_file.Open(m_szFileName, createForWriting))
            m_bOpen = TRUE;
    }
    return m_bOpen;
}

void CSetupLog::Write(LPCSTR lpszText)
{
    if (!Open())
        return;
    m_file.SeekToEnd();
    m_file.WriteString(lpszText);
    Close();
}

void CSetupLog::Close()
{
    if (!m_bOpen)
        return;
    m_file.Close();
    m_bOpen = FALSE;
}

void LogTrace(LPCSTR lpszFormat, ...)
{
    char szLine[256];
    va_list args;
    va_start(args, lpszFormat);
    int n = std::vsnprintf(szLine, sizeof szLine, lpszFormat, args);
    va_end(args);
    // A cut line still ends its line in the file.
    if (n >= static_cast<int>(sizeof szLine))
        szLine[sizeof szLine - 2] = '\n';
    if (theLog.Open()) {
        theLog.Write(szLine);
        theLog.Close();
    }
}
