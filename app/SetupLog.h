// The diagnostic log SETUP.TXT beside the program: off unless the command
// line asks for it; every line is on disk and the file closed when Write
// returns.
#pragma once
#include "afx/afx.h"

class CSetupLog : public CObject {
public:
    CSetupLog();
    ~CSetupLog() override;

    void Enable();
    void SetFileName(LPCSTR lpszName);
    BOOL Open();
    void Write(LPCSTR lpszText);
    void Close();

private:
    CStdioFile m_file;
    BOOLEAN m_bOpen;
    char m_szFileName[260];
    BOOLEAN m_bEnabled;
};

extern CSetupLog theLog;

// Formats one trace line into the log's 256-character line buffer (a longer
// line is cut to fit) and writes it when logging is on.
void LogTrace(LPCSTR lpszFormat, ...) __attribute__((format(printf, 1, 2)));
