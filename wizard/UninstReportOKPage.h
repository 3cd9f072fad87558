// The uninstall wizard's report page: names the removed driver; Finish
// runs the finish stage of the uninstall.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CWizPropSheet;

class CUninstReportOKPage : public CPropertyPage {
public:
    static const CRuntimeClass classCUninstReportOKPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CUninstReportOKPage();

    void SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList);

    BOOL OnSetActive() override;
    BOOL OnWizardFinish() override;

    // Hands the setup program's own files to ISDEL.EXE once the driver's
    // service is gone.
    void StartDeferredFileRemoval(CDriverList* pDriverList);
    void SpawnIsDel(LPCSTR lpszIsDelPath, LPCSTR lpszExtraPath);

private:
    CDriverList* m_pDriverList;
    CWizPropSheet* m_pSheet;
};
