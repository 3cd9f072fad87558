// The install wizard's driver page: shows the driver to be installed, and
// its Next runs the whole install.
#pragma once
#include "afx/afx.h"

class CDriverList;
class CDriverListBox;
class CWizPropSheet;

class CInstDriverPage : public CPropertyPage {
public:
    static const CRuntimeClass classCInstDriverPage;
    const CRuntimeClass* GetRuntimeClass() const override;
    static CObject* CreateObject();

    CInstDriverPage();
    ~CInstDriverPage() override;

    void SetSheetInfo(CWizPropSheet* pSheet, CDriverList* pDriverList);

    BOOL OnInitDialog() override;
    BOOL OnSetActive() override;
    LRESULT OnWizardNext() override;

    // The install sequence; a silent run calls it with a null owner.
    UINT InstallDrivers(HWND hOwner);

    // The modem's registry data around the driver installation.
    BOOL GetTheInfFileDescription(LPCSTR lpszHardwareId, LPSTR lpszDescription, UINT nLength);
    HKEY FindOurControlClass(LPCSTR lpszHardwareId);
    BOOL FetchAttachedTo(LPCSTR lpszServiceName, LPSTR lpszComPort);
    BOOL AddAttachedToStringToRegistry(HKEY hClassKey, LPCSTR lpszComPort);
    BOOL AddCurrentCountryStringToRegistry(HKEY hClassKey, BOOL bCountryGiven, WORD wCountry);

private:
    UINT InstallFirstDriver(POSITION position, HWND hOwner);
    void StartModemServices();

    BOOLEAN m_bCountryGiven;
    CDriverList* m_pDriverList;
    CDriverListBox* m_pListBox;
    CWizPropSheet* m_pSheet;
    WORD m_wCountry;
};
