// Files over the Win32 file API. CStdioFile's text mode writes CR LF for
// each LF itself, so that both platforms put the same bytes on disk.
#pragma once
#include "Object.h"

#include <string>

class CFile : public CObject {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareCompat = 0x0000,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeNoInherit = 0x0080,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    CFile() = default;
    ~CFile() override;

    virtual BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags);
    virtual void Close();
    virtual UINT Read(void* lpBuf, UINT nCount);
    virtual void Write(const void* lpBuf, UINT nCount);
    virtual LONG Seek(LONG lOff, UINT nFrom);
    virtual void Flush();
    LONG SeekToEnd() { return Seek(0, end); }
    BOOL IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }

    HANDLE m_hFile { INVALID_HANDLE_VALUE };

protected:
    // The raw write underneath any buffering; errors are left to the caller's
    // GetLastError, as the framework reports them only through exceptions.
    BOOL WriteRaw(const void* lpBuf, UINT nCount);
};

class CStdioFile : public CFile {
public:
    CStdioFile() = default;
    ~CStdioFile() override;

    BOOL Open(LPCSTR lpszFileName, UINT nOpenFlags) override;
    void Close() override;
    void Write(const void* lpBuf, UINT nCount) override;
    LONG Seek(LONG lOff, UINT nFrom) override;
    void Flush() override;
    void WriteString(LPCSTR lpsz);

private:
    bool m_bText { false };
    bool m_bAppend { false };
    std::string m_buffer; // written out on Flush, Seek and Close
};
