// Security identifiers: the binary layout the API passes around and the
// "S-1-5-32-544" text the store, the tokens and SDDL use.
#pragma once
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace ntsim::security {

using Bytes = std::vector<BYTE>;

namespace WellKnown {
inline const std::string Everyone = "S-1-1-0";
inline const std::string CreatorOwner = "S-1-3-0";
inline const std::string CreatorGroup = "S-1-3-1";
inline const std::string Interactive = "S-1-5-4";
inline const std::string LocalSystem = "S-1-5-18";
inline const std::string Administrators = "S-1-5-32-544";
inline const std::string Users = "S-1-5-32-545";
}

// Bytes a SID of the given count of sub-authorities takes.
constexpr size_t sidLengthFor(unsigned subAuthorities) { return 8 + 4 * subAuthorities; }

// Checks revision and count; available limits how far it may read.
bool isValidSid(const BYTE* sid, size_t available = SIZE_MAX);
size_t sidLength(const BYTE* sid);
std::string sidToString(const BYTE* sid);
std::optional<Bytes> sidFromString(const std::string& text);

// SDDL's two-letter names for the well-known SIDs; other SIDs as text.
std::string sidToSddl(const std::string& sid);
std::optional<std::string> sidFromSddl(const std::string& token);

}
