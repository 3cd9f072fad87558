#include "File.h"

#include <cstring>

namespace {

DWORD accessOf(UINT flags)
{
    switch (flags & 3) {
    case CFile::modeWrite: return GENERIC_WRITE;
    case CFile::modeReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
    }
}

DWORD shareOf(UINT flags)
{
    switch (flags & 0x70) {
    case CFile::shareDenyWrite: return FILE_SHARE_READ;
    case CFile::shareDenyRead: return FILE_SHARE_WRITE;
    case CFile::shareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0; // compatibility mode and exclusive share nothing
    }
}

DWORD dispositionOf(UINT flags)
{
    if (flags & CFile::modeCreate)
        return (flags & CFile::modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;
    return OPEN_EXISTING;
}

}

CFile::~CFile()
{
    if (IsOpen())
        CloseHandle(m_hFile);
}

BOOL CFile::Open(LPCSTR lpszFileName, UINT nOpenFlags)
{
    if (IsOpen())
        Close();
    m_hFile = CreateFileA(lpszFileName, accessOf(nOpenFlags), shareOf(nOpenFlags), nullptr,
        dispositionOf(nOpenFlags), FILE_ATTRIBUTE_NORMAL, nullptr);
    return IsOpen();
}

void CFile::Close()
{
    if (IsOpen())
        CloseHandle(m_hFile);
    m_hFile = INVALID_HANDLE_VALUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount)
{
    DWORD done = 0;
    if (!IsOpen() || !ReadFile(m_hFile, lpBuf, nCount, &done, nullptr))
        return 0;
    return done;
}

BOOL CFile::WriteRaw(const void* lpBuf, UINT nCount)
{
    DWORD done = 0;
    return IsOpen() && WriteFile(m_hFile, lpBuf, nCount, &done, nullptr) && done == nCount;
}

void CFile::Write(const void* lpBuf, UINT nCount)
{
    WriteRaw(lpBuf, nCount);
}

LONG CFile::Seek(LONG lOff, UINT nFrom)
{
    if (!IsOpen())
        return -1;
    DWORD pos = SetFilePointer(m_hFile, lOff, nullptr, nFrom);
    return pos == INVALID_SET_FILE_POINTER ? -1 : static_cast<LONG>(pos);
}

void CFile::Flush()
{
    if (IsOpen())
        FlushFileBuffers(m_hFile);
}

CStdioFile::~CStdioFile()
{
    if (IsOpen())
        Close();
}

BOOL CStdioFile::Open(LPCSTR lpszFileName, UINT nOpenFlags)
{
    m_buffer.clear();
    m_bText = !(nOpenFlags & typeBinary);
    // Write access without create is the C runtime's append mode.
    m_bAppend = (nOpenFlags & 3) == modeWrite && !(nOpenFlags & modeCreate);
    return CFile::Open(lpszFileName, nOpenFlags);
}

void CStdioFile::Close()
{
    Flush();
    CFile::Close();
}

void CStdioFile::Write(const void* lpBuf, UINT nCount)
{
    if (!IsOpen())
        return;
    const char* p = static_cast<const char*>(lpBuf);
    for (UINT i = 0; i < nCount; ++i) {
        if (m_bText && p[i] == '\n')
            m_buffer += '\r';
        m_buffer += p[i];
    }
}

void CStdioFile::WriteString(LPCSTR lpsz)
{
    Write(lpsz, static_cast<UINT>(std::strlen(lpsz)));
}

LONG CStdioFile::Seek(LONG lOff, UINT nFrom)
{
    Flush();
    return CFile::Seek(lOff, nFrom);
}

void CStdioFile::Flush()
{
    if (!IsOpen() || m_buffer.empty())
        return;
    if (m_bAppend)
        CFile::Seek(0, end);
    WriteRaw(m_buffer.data(), static_cast<UINT>(m_buffer.size()));
    m_buffer.clear();
}
