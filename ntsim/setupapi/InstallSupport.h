// What the section installer's parts share: reading directive lists and
// the registry helpers that AddReg, DelReg and the service installer use.
#pragma once
#include "FileQueue.h"
#include "InfFile.h"
#include "registry/Key.h"
#include "registry/Keys.h"

#include <windows.h>

#include <string>
#include <vector>

namespace ntsim::setupapi {

struct Device;

// The section an install call names, or null with the last error set: a
// bad handle, no name, or no such section.
const inf::Section* installSection(HINF handle, const std::string* name, InfFile*& file);

// An integer field as SetupGetIntField reads it; empty is `fallback`.
bool intValue(const std::string& text, DWORD fallback, DWORD& out);

// AddReg and DelReg of a section (DelReg first), each line's HKR being
// relativeRoot. Returns NO_ERROR or the registry's error.
DWORD installRegistry(const InfFile& file, const inf::Section& section, HKEY relativeRoot);
DWORD installIni2Reg(const InfFile& file, const inf::Section& section);
DWORD installUpdateInis(const InfFile& file, const inf::Section& section);

// The AddService and DelService lines of a services section; a device,
// when given, takes the service its line marks as the device's own.
DWORD installServices(const InfFile& file, const inf::Section& section, DWORD flags, Device* device);

// What SetupInstallFromInfSection does once its arguments are checked:
// the directives of one install section, its files through a file queue,
// LogConfig only for a device. NO_ERROR or the error it ended with.
DWORD installFromSection(HWND owner, const InfFile& file, const inf::Section& section, UINT flags, HKEY relativeRoot,
    const std::string& sourceRoot, UINT copyFlags, const QueueCallback& callback, bool forDevice);

// The full NT paths of the files an install section's CopyFiles puts in
// place, in its order; NO_ERROR or the error its lists end with.
DWORD copiedFiles(const InfFile& file, const inf::Section& section, std::vector<std::string>& paths);

}
