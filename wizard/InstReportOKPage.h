// The install wizard's success page: shows the running driver; only
// Finish is possible.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CWizPropSheet;

class CInstReportOKPage : public CPropertyPage {
public:
    static const CRuntimeClass classCInstReportOKPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CInstReportOKPage();

    void SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList);

    BOOL OnSetActive() override;

private:
    CDriverList* m_pDriverList;
    CWizPropSheet* m_pSheet;
};
