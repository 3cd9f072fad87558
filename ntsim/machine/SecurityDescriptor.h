// A security descriptor as the registry keeps it: owner, group and DACL,
// with its SDDL text, its binary forms, inheritance and the access check.
#pragma once
#include "Token.h"
#include "Sid.h"

#include <optional>
#include <string>
#include <vector>

namespace ntsim::security {

struct Ace {
    BYTE type { ACCESS_ALLOWED_ACE_TYPE };
    BYTE flags { 0 };
    ACCESS_MASK mask { 0 };
    std::string sid;

    bool operator==(const Ace& other) const
    {
        return type == other.type && flags == other.flags && mask == other.mask && sid == other.sid;
    }
};

struct SecurityDescriptor {
    std::string owner; // empty: none
    std::string group; // empty: none
    // A missing DACL (a NULL DACL) grants everyone everything; a present
    // one with no entries grants nothing.
    bool daclPresent { false };
    std::vector<Ace> dacl;
    // The audit entries; only the system sets them (a hive loaded offline).
    bool saclPresent { false };
    std::vector<Ace> sacl;

    std::string toSddl() const;
    // Nothing for malformed text or text without a DACL part ("D:" with
    // entries, empty, or NO_ACCESS_CONTROL).
    static std::optional<SecurityDescriptor> fromSddl(const std::string& text);

    // The self-relative form with the parts that info asks for.
    Bytes toSelfRelative(SECURITY_INFORMATION info) const;
    // Reads an absolute or self-relative descriptor; nothing if malformed.
    static std::optional<SecurityDescriptor> fromBinary(const void* descriptor);
    // Reads stored bytes of a self-relative descriptor, never past them.
    static std::optional<SecurityDescriptor> fromSelfRelative(const Bytes& bytes);

    // Takes the parts info names from given, as a set-security call does:
    // ERROR_INVALID_OWNER for an owner the token does not hold.
    LONG takeParts(const SecurityDescriptor& given, SECURITY_INFORMATION info, const Token& token);
};

// Binary ACL of entries (revision 2).
Bytes aclBytes(const std::vector<Ace>& aces);
// Reads an ACL of access entries, or of audit entries for a SACL; nothing
// if its structure is not sound.
std::optional<std::vector<Ace>> parseAcl(const BYTE* acl, bool audit = false);

// The specific rights GENERIC_READ, _WRITE, _EXECUTE and _ALL stand for on
// one kind of object.
struct GenericMapping {
    ACCESS_MASK read;
    ACCESS_MASK write;
    ACCESS_MASK execute;
    ACCESS_MASK all;
};

ACCESS_MASK mapGenericRights(ACCESS_MASK mask, const GenericMapping& mapping);
// GENERIC_* bits to the key rights they stand for.
ACCESS_MASK mapGenericKeyRights(ACCESS_MASK mask);

struct AccessResult {
    LONG error { ERROR_SUCCESS };
    ACCESS_MASK granted { 0 };
};
// Checks desired access (with MAXIMUM_ALLOWED and generic rights) to an
// object whose generic rights map as given.
AccessResult checkAccess(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired,
    const GenericMapping& mapping);
AccessResult checkKeyAccess(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired);

// The owner NT gives objects a token creates: Administrators for an
// administrator, else the user.
std::string defaultOwner(const Token& token);
// The descriptor of a new subkey: owner and group given, DACL from the
// parent's inheritable entries, or the token's default DACL if none.
SecurityDescriptor inheritedDescriptor(const SecurityDescriptor& parent, const Token& creator);

}
