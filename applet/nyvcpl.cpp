// The modem's control-panel applet: one page on which the person chooses
// the country the modem dials from. The choice goes to "Current" of the
// "Country" key below each driver key of the package's modem.
#include <windows.h>

#include <commctrl.h>
#include <cpl.h>
#include <setupapi.h>

#include "resource.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char appletFile[] = "nyvcpl.cpl";
const char setupInfCopy[] = "\\INF\\drv_meq.inf";
const char servicesKey[] = "SYSTEM\\CurrentControlSet\\Services\\";
const char rootDevicesKey[] = "SYSTEM\\CurrentControlSet\\Enum\\Root\\";
const char classKey[] = "SYSTEM\\CurrentControlSet\\Control\\Class\\";
const char modemClass[] = "{4D36E96D-E325-11CE-BFC1-08002BE10318}";

// The countries offered, with their ITU-T T.35 codes; the names are the
// strings IDS_COUNTRY_FIRST onwards, in this order.
const BYTE countryCodes[] = { 32, 0, 115, 254, 181 };
const int countryCount = sizeof countryCodes / sizeof countryCodes[0];

bool readDword(HKEY key, const char* name, DWORD& value)
{
    DWORD size = sizeof value;
    return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS
        && size == sizeof value;
}

// The modem's hardware id as the setup program builds it, from the PCI
// values its driver keeps below the service's parameters.
std::string hardwareIdOf(const std::string& service)
{
    std::string path = servicesKey + service + "\\Parameters\\" + service + "0";
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    DWORD vendor = 0;
    DWORD device = 0;
    DWORD subsystem = 0;
    DWORD subsystemVendor = 0;
    DWORD revision = 0;
    bool complete = readDword(key, "PciVendorID", vendor) && readDword(key, "PciDeviceID", device)
        && readDword(key, "PciSubsystemID", subsystem) && readDword(key, "PciSubsystemVendorID", subsystemVendor)
        && readDword(key, "PciRevision", revision);
    RegCloseKey(key);
    if (!complete)
        return {};
    char id[128];
    std::snprintf(id, sizeof id, "VEN_%04lX&DEV_%04lX&SUBSYS_%04lX%04lX&REV_%02lX", static_cast<unsigned long>(vendor),
        static_cast<unsigned long>(device), static_cast<unsigned long>(subsystem),
        static_cast<unsigned long>(subsystemVendor), static_cast<unsigned long>(revision));
    return id;
}

// The services the package's drivers install, from the copy of its setup
// INF in the system's INF directory: each model's ".Services" section.
std::vector<std::string> servicesOfPackage()
{
    std::vector<std::string> services;
    char path[MAX_PATH];
    UINT length = GetWindowsDirectoryA(path, sizeof path);
    if (length == 0 || length + sizeof setupInfCopy > sizeof path)
        return services;
    std::strcat(path, setupInfCopy);
    HINF inf = SetupOpenInfFileA(path, nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE)
        return services;
    INFCONTEXT model;
    for (BOOL more = SetupFindFirstLineA(inf, "Models", nullptr, &model); more; more = SetupFindNextLine(&model, &model)) {
        char section[256];
        if (!SetupGetStringFieldA(&model, 1, section, sizeof section, nullptr))
            continue;
        std::string servicesSection = std::string(section) + ".Services";
        INFCONTEXT line;
        for (BOOL found = SetupFindFirstLineA(inf, servicesSection.c_str(), "AddService", &line); found;
             found = SetupFindNextMatchLineA(&line, "AddService", &line)) {
            char service[256];
            if (SetupGetStringFieldA(&line, 1, service, sizeof service, nullptr))
                services.push_back(service);
        }
    }
    SetupCloseInfFile(inf);
    return services;
}

// A driver key below the Modem class: "{4D36E96D-...}\NNNN".
bool isModemDriverKey(const std::string& driver)
{
    std::string classPart = driver.substr(0, sizeof modemClass - 1);
    return driver.size() > classPart.size() && driver[classPart.size()] == '\\'
        && lstrcmpiA(classPart.c_str(), modemClass) == 0;
}

// The driver keys (below Control\Class) of the modem class devices made
// for a hardware id.
void addDriverKeysOf(const std::string& hardwareId, std::vector<std::string>& keys)
{
    HKEY devices = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (rootDevicesKey + hardwareId).c_str(), 0, KEY_READ, &devices) != ERROR_SUCCESS)
        return;
    char instance[256];
    for (DWORD i = 0; RegEnumKeyA(devices, i, instance, sizeof instance) == ERROR_SUCCESS; ++i) {
        HKEY device = nullptr;
        if (RegOpenKeyExA(devices, instance, 0, KEY_READ, &device) != ERROR_SUCCESS)
            continue;
        char driver[256] = "";
        DWORD size = sizeof driver - 1;
        DWORD type = 0;
        if (RegQueryValueExA(device, "Driver", nullptr, &type, reinterpret_cast<BYTE*>(driver), &size) == ERROR_SUCCESS
            && type == REG_SZ && isModemDriverKey(driver))
            keys.push_back(driver);
        RegCloseKey(device);
    }
    RegCloseKey(devices);
}

std::vector<std::string> modemDriverKeys()
{
    std::vector<std::string> keys;
    for (auto& service : servicesOfPackage()) {
        std::string id = hardwareIdOf(service);
        if (!id.empty())
            addDriverKeysOf(id, keys);
    }
    return keys;
}

// The country code a driver key holds, or -1 for none (256, or no value).
int currentCountry(const std::string& driverKey)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, (classKey + driverKey + "\\Country").c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return -1;
    BYTE data[2] = { 0, 1 };
    DWORD size = sizeof data;
    LONG status = RegQueryValueExA(key, "Current", nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && size == 2 && data[1] == 0 ? data[0] : -1;
}

LONG writeCountry(const std::string& driverKey, BYTE code)
{
    HKEY key = nullptr;
    LONG status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, (classKey + driverKey + "\\Country").c_str(), 0, nullptr, 0,
        KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    // The code in its low byte, 0 above it.
    const BYTE data[2] = { code, 0 };
    status = RegSetValueExA(key, "Current", 0, REG_BINARY, data, sizeof data);
    RegCloseKey(key);
    return status;
}

struct PageData {
    HINSTANCE module;
    std::vector<std::string> keys;
};

void showFinish(HWND page, bool chosen)
{
    SendMessageA(GetParent(page), PSM_SETWIZBUTTONS, 0, chosen ? PSWIZB_FINISH : PSWIZB_DISABLEDFINISH);
}

void fillCountries(HWND page, const PageData& data)
{
    HWND list = GetDlgItem(page, IDC_COUNTRIES);
    int current = data.keys.empty() ? -1 : currentCountry(data.keys.front());
    for (int i = 0; i < countryCount; ++i) {
        char name[64] = "";
        LoadStringA(data.module, IDS_COUNTRY_FIRST + i, name, sizeof name);
        LRESULT item = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
        SendMessageA(list, LB_SETITEMDATA, static_cast<WPARAM>(item), i);
        if (countryCodes[i] == current)
            SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(item), 0);
    }
}

// TRUE when the chosen country is written to every key; the person is told
// when it is not, and the page stays.
BOOL saveCountry(HWND page, const PageData& data)
{
    HWND list = GetDlgItem(page, IDC_COUNTRIES);
    LRESULT item = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (item == LB_ERR)
        return FALSE;
    LRESULT index = SendMessageA(list, LB_GETITEMDATA, static_cast<WPARAM>(item), 0);
    if (index < 0 || index >= countryCount)
        return FALSE;
    for (auto& key : data.keys) {
        if (writeCountry(key, countryCodes[index]) != ERROR_SUCCESS) {
            char text[256] = "";
            char caption[64] = "";
            LoadStringA(data.module, IDS_NOT_SAVED, text, sizeof text);
            LoadStringA(data.module, IDS_TITLE, caption, sizeof caption);
            MessageBoxA(page, text, caption, MB_OK | MB_ICONERROR);
            return FALSE;
        }
    }
    return TRUE;
}

INT_PTR CALLBACK countryPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* data = reinterpret_cast<PageData*>(reinterpret_cast<PROPSHEETPAGEA*>(lParam)->lParam);
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(data));
        fillCountries(page, *data);
        return TRUE;
    }
    auto* data = reinterpret_cast<PageData*>(GetWindowLongPtrA(page, DWLP_USER));
    if (!data)
        return FALSE;
    if (message == WM_COMMAND && LOWORD(wParam) == IDC_COUNTRIES && HIWORD(wParam) == LBN_SELCHANGE) {
        showFinish(page, true);
        return TRUE;
    }
    if (message != WM_NOTIFY)
        return FALSE;
    LRESULT result = 0;
    switch (reinterpret_cast<NMHDR*>(lParam)->code) {
    case PSN_SETACTIVE:
        showFinish(page, SendDlgItemMessageA(page, IDC_COUNTRIES, LB_GETCURSEL, 0, 0) != LB_ERR);
        break;
    case PSN_WIZFINISH:
        result = saveCountry(page, *data) ? FALSE : TRUE;
        break;
    default:
        return FALSE;
    }
    SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

void chooseCountry(HWND owner)
{
    PageData data { GetModuleHandleA(appletFile), modemDriverKeys() };
    char caption[64] = "";
    LoadStringA(data.module, IDS_TITLE, caption, sizeof caption);
    if (data.keys.empty()) {
        char text[256] = "";
        LoadStringA(data.module, IDS_NO_MODEM, text, sizeof text);
        MessageBoxA(owner, text, caption, MB_OK | MB_ICONINFORMATION);
        return;
    }
    PROPSHEETPAGEA page {};
    page.dwSize = sizeof page;
    page.hInstance = data.module;
    page.pszTemplate = MAKEINTRESOURCEA(IDD_COUNTRY);
    page.pfnDlgProc = countryPage;
    page.lParam = reinterpret_cast<LPARAM>(&data);
    PROPSHEETHEADERA sheet {};
    sheet.dwSize = sizeof sheet;
    sheet.dwFlags = PSH_PROPSHEETPAGE | PSH_WIZARD;
    sheet.hwndParent = owner;
    sheet.hInstance = data.module;
    sheet.pszCaption = caption;
    sheet.nPages = 1;
    sheet.ppsp = &page;
    PropertySheetA(&sheet);
}

}

extern "C" LONG APIENTRY CPlApplet(HWND hwndCPl, UINT uMsg, LPARAM, LPARAM lParam2)
{
    switch (uMsg) {
    case CPL_INIT:
        return TRUE;
    case CPL_GETCOUNT:
        return 1;
    case CPL_INQUIRE: {
        auto* info = reinterpret_cast<CPLINFO*>(lParam2);
        info->idIcon = IDI_APPLET;
        info->idName = IDS_NAME;
        info->idInfo = IDS_INFO;
        info->lData = 0;
        return 0;
    }
    case CPL_DBLCLK:
        chooseCountry(hwndCPl);
        return 0;
    case CPL_STOP:
    case CPL_EXIT:
        return 0;
    default:
        // CPL_NEWINQUIRE among them: CPL_INQUIRE tells all there is.
        return 1;
    }
}
