// The install wizard's welcome page: sets the wizard's title.
#pragma once
#include "afx/afx.h"

class CWizPropSheet;

class CInstIntroPage : public CPropertyPage {
public:
    static const CRuntimeClass classCInstIntroPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CInstIntroPage();

    void SetSheetInfo(CWizPropSheet* pSheet, HMODULE hResLib, UINT nCaptionID);

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;

private:
    HMODULE m_hResLib;
    CWizPropSheet* m_pSheet;
    UINT m_nCaptionID;
};
