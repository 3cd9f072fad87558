// The install wizard's failure page: Back returns to the driver page.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CWizPropSheet;

class CInstReportFailPage : public CPropertyPage {
public:
    static const CRuntimeClass classCInstReportFailPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CInstReportFailPage();

    void SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList);

    BOOL OnSetActive() override;
    LRESULT OnWizardBack() override;

private:
    CDriverList* m_pDriverList;
    CWizPropSheet* m_pSheet;
};
