// setupapi's calls as the platform itself makes them (InstallHinfSection
// for rundll32, the device installer for a device's sections). Only a
// program's call enters through the public entry point, which alone
// consults the faults a machine injects, so the platform's own work never
// counts toward a program's n-th call. Strings are UTF-8 (Text.h).
#pragma once
#include "FileQueue.h"

#include <setupapi.h>

#include <string>

namespace ntsim::setupapi {

HINF openInfFile(const std::string& fileName, const std::string* infClass, DWORD infStyle, PUINT errorLine);
BOOL openAppendInfFile(const std::string* fileName, HINF inf, PUINT errorLine);
BOOL installFromInfSection(HWND owner, HINF inf, const std::string& sectionName, UINT flags, HKEY relativeKeyRoot,
    const std::string* sourceRootPath, UINT copyFlags, const QueueCallback& callback, HDEVINFO deviceInfoSet,
    PSP_DEVINFO_DATA deviceInfoData);
BOOL installServicesFromInfSection(HINF inf, const std::string& sectionName, DWORD flags, HDEVINFO deviceInfoSet,
    PSP_DEVINFO_DATA deviceInfoData);

}
