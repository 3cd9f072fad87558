// The attributes NT keeps that a host file has no place for (hidden,
// system, archive, temporary), by NT path, in the machine's directory.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

namespace ntsim {

std::optional<DWORD> storedAttributes(const std::string& ntPath);
void storeAttributes(const std::string& ntPath, DWORD attributes);
void forgetAttributes(const std::string& ntPath);
void moveAttributes(const std::string& fromNtPath, const std::string& toNtPath);

}
