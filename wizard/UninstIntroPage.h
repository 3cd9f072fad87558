// The uninstall wizard's first page: names the driver to be removed; Next
// runs the driver stage of the uninstall.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CDriverListBox;
class CWizPropSheet;

class CUninstIntroPage : public CPropertyPage {
public:
    static const CRuntimeClass classCUninstIntroPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CUninstIntroPage();
    ~CUninstIntroPage() override;

    void SetSheetInfo(CWizPropSheet* pSheet, HMODULE hResLib, UINT nCaptionID, CDriverList* pDriverList);

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;

    // The driver stage; a silent run calls it with a null owner.
    UINT UninstallDrivers(HWND hOwner);

private:
    CDriverList* m_pDriverList;
    HMODULE m_hResLib;
    CDriverListBox* m_pListBox;
    CWizPropSheet* m_pSheet;
    UINT m_nCaptionID;
};
