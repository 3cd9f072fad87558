// setupapi's calls as the platform itself makes them (InstallHinfSection
// for rundll32). Only a program's call enters through the public entry
// point, which alone consults the faults a machine injects, so the
// platform's own work never counts toward a program's n-th call.
#pragma once
#include <setupapi.h>

namespace ntsim::setupapi {

HINF openInfFile(PCSTR fileName, PCSTR infClass, DWORD infStyle, PUINT errorLine);
BOOL installFromInfSection(HWND owner, HINF inf, PCSTR sectionName, UINT flags, HKEY relativeKeyRoot,
    PCSTR sourceRootPath, UINT copyFlags, PSP_FILE_CALLBACK_A msgHandler, PVOID context,
    HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData);
BOOL installServicesFromInfSection(HINF inf, PCSTR sectionName, DWORD flags);

}
