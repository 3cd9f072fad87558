#include "KeyAccess.h"

#include "app/SetupLog.h"

#include <string>
#include <vector>

BOOLEAN AllowAccessToKey(HKEY hRoot, LPCSTR lpszSubKey)
{
    LogTrace("AllowAccessToKey opening %s for WRITE_DAC access\n", lpszSubKey);
    HKEY hKey = nullptr;
    LONG lError = RegOpenKeyExA(hRoot, lpszSubKey, 0, WRITE_DAC, &hKey);
    if (lError != ERROR_SUCCESS) {
        LogTrace("AllowAccessToKey RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
        return FALSE;
    }

    BOOLEAN bRet = FALSE;
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID pInteractive = nullptr;
    PSID pAdministrators = nullptr;
    if (AllocateAndInitializeSid(&ntAuthority, 1, SECURITY_INTERACTIVE_RID, 0, 0, 0, 0, 0, 0, 0, &pInteractive)) {
        if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0,
                0, 0, &pAdministrators)) {
            // The ACL header and two access-allowed entries besides their SIDs.
            DWORD cbAcl = GetLengthSid(pInteractive) + GetLengthSid(pAdministrators) + 24;
            PACL pAcl = static_cast<PACL>(HeapAlloc(GetProcessHeap(), 0, cbAcl));
            if (pAcl) {
                SECURITY_DESCRIPTOR descriptor;
                if (InitializeAcl(pAcl, cbAcl, ACL_REVISION)
                    && AddAccessAllowedAce(pAcl, ACL_REVISION, KEY_READ, pInteractive)
                    && AddAccessAllowedAce(pAcl, ACL_REVISION, KEY_ALL_ACCESS, pAdministrators)
                    && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
                    && SetSecurityDescriptorDacl(&descriptor, TRUE, pAcl, FALSE))
                    bRet = RegSetKeySecurity(hKey, DACL_SECURITY_INFORMATION, &descriptor) == ERROR_SUCCESS;
                HeapFree(GetProcessHeap(), 0, pAcl);
            }
            FreeSid(pAdministrators);
        }
        FreeSid(pInteractive);
    }
    RegCloseKey(hKey);
    return bRet;
}

BOOLEAN KillThisKeyAndAllItsSubkeys(HKEY hRoot, LPCSTR lpszSubKey)
{
    const std::string subKey = lpszSubKey;
    BOOLEAN bRet = FALSE;
    LogTrace("KillThisKeyAndAllItsSubkeys requesting access to %s\n", subKey.c_str());
    if (AllowAccessToKey(hRoot, subKey.c_str())) {
        LogTrace("KillThisKeyAndAllItsSubkeys opening %s\n", subKey.c_str());
        HKEY hKey = nullptr;
        LONG lError = RegOpenKeyExA(hRoot, subKey.c_str(), 0, KEY_ALL_ACCESS, &hKey);
        if (lError != ERROR_SUCCESS) {
            LogTrace("KillThisKeyAndAllItsSubkeys RegOpenKeyEx returned %x\n", static_cast<UINT>(lError));
        } else {
            // The whole list first: deleting while enumerating would shift
            // the indexes under the enumeration.
            std::vector<std::string> subKeys;
            for (DWORD dwIndex = 0;; ++dwIndex) {
                char szName[256];
                DWORD cchName = sizeof szName;
                FILETIME lastWrite;
                if (RegEnumKeyExA(hKey, dwIndex, szName, &cchName, nullptr, nullptr, nullptr, &lastWrite)
                    != ERROR_SUCCESS)
                    break;
                subKeys.push_back(szName);
                LogTrace("KillThisKeyAndAllItsSubkeys RegEnumKeyEx found %s\n", szName);
            }
            for (const std::string& name : subKeys)
                KillThisKeyAndAllItsSubkeys(hKey, name.c_str());
            LogTrace("KillThisKeyAndAllItsSubkeys deleting %s\n", subKey.c_str());
            RegCloseKey(hKey);
            lError = RegDeleteKeyA(hRoot, subKey.c_str());
            if (lError != ERROR_SUCCESS)
                LogTrace("KillThisKeyAndAllItsSubkeys RegDeleteKey returned %x\n", static_cast<UINT>(lError));
            else
                bRet = TRUE;
        }
    }
    LogTrace("KillThisKeyAndAllItsSubkeys returned BOOLEAN %u\n", static_cast<UINT>(bRet));
    return bRet;
}
