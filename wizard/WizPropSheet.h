// The wizard: a property sheet in wizard mode that holds the run's
// settings, the driver list and the pages of the run's mode.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CInstIntroPage;
class CInstDriverPage;
class CInstReportOKPage;
class CInstReportFailPage;
class CUninstIntroPage;
class CUninstReportOKPage;

class CWizPropSheet : public CPropertySheet {
public:
    static const CRuntimeClass classCWizPropSheet;
    const CRuntimeClass* GetRuntimeClass() const override;

    CWizPropSheet(BOOL bInstall, HMODULE hResLib, UINT nCaptionID, BOOL bSilent, BOOL bCountryGiven, WORD wCountry,
        BOOL bLog);
    ~CWizPropSheet() override;

    // Reads the driver list and adds the pages of the run's mode; FALSE if
    // the wizard cannot run.
    BOOL InitWizard(LPCSTR lpszInfPath, LPCSTR lpszSection);

    // The status's message box, owned by the sheet's window; 0 and no box
    // for a status without a message.
    int ShowErrorMessage(UINT uStatus, UINT nType);
    static UINT GetErrorStringID(UINT uStatus);

    CInstIntroPage* m_pInstIntroPage;
    CInstDriverPage* m_pInstDriverPage;
    CInstReportOKPage* m_pInstReportOKPage;
    CInstReportFailPage* m_pInstReportFailPage;
    CUninstIntroPage* m_pUninstIntroPage;
    CUninstReportOKPage* m_pUninstReportOKPage;
    CDriverList* m_pDriverList;
    BOOLEAN m_bCountryGiven;
    BOOLEAN m_bInstall;
    BOOLEAN m_bLog;
    BOOLEAN m_bSilent;
    WORD m_wCountry;
    HMODULE m_hResLib;
    UINT m_nCaptionID;
};
