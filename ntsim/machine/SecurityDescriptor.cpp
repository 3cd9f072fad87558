#include "SecurityDescriptor.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ntsim::security {

namespace {

struct RightName {
    const char* name;
    ACCESS_MASK mask;
};

// Whole-mask names first; the rest combine.
const RightName wholeRights[] = {
    { "KA", KEY_ALL_ACCESS },
    { "KR", KEY_READ },
    { "KW", KEY_WRITE },
};
const RightName partRights[] = {
    { "GA", GENERIC_ALL },
    { "GR", GENERIC_READ },
    { "GW", GENERIC_WRITE },
    { "GX", GENERIC_EXECUTE },
    { "RC", READ_CONTROL },
    { "SD", DELETE },
    { "WD", WRITE_DAC },
    { "WO", WRITE_OWNER },
};

struct FlagName {
    const char* name;
    BYTE flag;
};
const FlagName flagNames[] = {
    { "OI", OBJECT_INHERIT_ACE },
    { "CI", CONTAINER_INHERIT_ACE },
    { "NP", NO_PROPAGATE_INHERIT_ACE },
    { "IO", INHERIT_ONLY_ACE },
    { "ID", INHERITED_ACE },
    { "SA", SUCCESSFUL_ACCESS_ACE_FLAG },
    { "FA", FAILED_ACCESS_ACE_FLAG },
};

const char* aceTypeName(BYTE type)
{
    switch (type) {
    case ACCESS_DENIED_ACE_TYPE: return "D";
    case SYSTEM_AUDIT_ACE_TYPE: return "AU";
    default: return "A";
    }
}

std::string rightsToSddl(ACCESS_MASK mask)
{
    for (auto& r : wholeRights)
        if (mask == r.mask)
            return r.name;
    std::string text;
    ACCESS_MASK rest = mask;
    for (auto& r : partRights) {
        if ((rest & r.mask) == r.mask) {
            text += r.name;
            rest &= ~r.mask;
        }
    }
    if (rest == 0 && !text.empty())
        return text;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%x", static_cast<unsigned>(mask));
    return hex;
}

std::optional<ACCESS_MASK> rightsFromSddl(const std::string& text)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        char* end = nullptr;
        unsigned long v = std::strtoul(text.c_str(), &end, 16);
        if (!end || *end || v > 0xFFFFFFFFul)
            return std::nullopt;
        return static_cast<ACCESS_MASK>(v);
    }
    if (text.size() % 2)
        return std::nullopt;
    ACCESS_MASK mask = 0;
    for (size_t i = 0; i < text.size(); i += 2) {
        std::string part = text.substr(i, 2);
        bool found = false;
        for (auto& r : wholeRights)
            if (part == r.name)
                mask |= r.mask, found = true;
        for (auto& r : partRights)
            if (part == r.name)
                mask |= r.mask, found = true;
        if (!found)
            return std::nullopt;
    }
    return mask;
}

// An entry of a DACL (allow, deny) or, for audit, of a SACL.
std::optional<Ace> aceFromSddl(const std::string& text, bool audit)
{
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        size_t semi = text.find(';', pos);
        fields.push_back(text.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos));
        if (semi == std::string::npos)
            break;
        pos = semi + 1;
    }
    if (fields.size() != 6)
        return std::nullopt;
    Ace ace;
    if (fields[0] == "A" && !audit)
        ace.type = ACCESS_ALLOWED_ACE_TYPE;
    else if (fields[0] == "D" && !audit)
        ace.type = ACCESS_DENIED_ACE_TYPE;
    else if (fields[0] == "AU" && audit)
        ace.type = SYSTEM_AUDIT_ACE_TYPE;
    else
        return std::nullopt;
    const std::string& flags = fields[1];
    if (flags.size() % 2)
        return std::nullopt;
    for (size_t i = 0; i < flags.size(); i += 2) {
        bool found = false;
        for (auto& f : flagNames)
            if (flags.compare(i, 2, f.name) == 0)
                ace.flags |= f.flag, found = true;
        if (!found)
            return std::nullopt;
    }
    BYTE auditFlags = SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG;
    if (!audit && (ace.flags & auditFlags))
        return std::nullopt;
    auto mask = rightsFromSddl(fields[2]);
    auto sid = sidFromSddl(fields[5]);
    if (!mask || !sid || !fields[3].empty() || !fields[4].empty())
        return std::nullopt;
    ace.mask = *mask;
    ace.sid = *sid;
    return ace;
}

void putDword(Bytes& out, size_t at, DWORD v) { std::memcpy(out.data() + at, &v, 4); }
void putWord(Bytes& out, size_t at, WORD v) { std::memcpy(out.data() + at, &v, 2); }

DWORD getDword(const BYTE* p)
{
    DWORD v;
    std::memcpy(&v, p, 4);
    return v;
}

WORD getWord(const BYTE* p)
{
    WORD v;
    std::memcpy(&v, p, 2);
    return v;
}

void appendSid(Bytes& out, const std::string& sid)
{
    auto bytes = sidFromString(sid);
    if (bytes)
        out.insert(out.end(), bytes->begin(), bytes->end());
}

bool tokenIsCreatorSid(const std::string& sid)
{
    return sid == WellKnown::CreatorOwner || sid == WellKnown::CreatorGroup;
}

}

namespace {

std::string acesToSddl(const std::vector<Ace>& aces)
{
    std::string text;
    for (auto& ace : aces) {
        text += std::string("(") + aceTypeName(ace.type) + ";";
        for (auto& f : flagNames)
            if (ace.flags & f.flag)
                text += f.name;
        text += ";" + rightsToSddl(ace.mask) + ";;;" + sidToSddl(ace.sid) + ")";
    }
    return text;
}

// The entries of a "D:" or "S:" part after its control flags.
bool acesFromSddl(const std::string& body, size_t i, bool audit, std::vector<Ace>& out)
{
    while (i < body.size()) {
        if (body[i] != '(')
            return false;
        size_t close = body.find(')', i);
        if (close == std::string::npos)
            return false;
        auto ace = aceFromSddl(body.substr(i + 1, close - i - 1), audit);
        if (!ace)
            return false;
        out.push_back(*ace);
        i = close + 1;
    }
    return true;
}

}

std::string SecurityDescriptor::toSddl() const
{
    std::string text;
    if (!owner.empty())
        text += "O:" + sidToSddl(owner);
    if (!group.empty())
        text += "G:" + sidToSddl(group);
    text += "D:" + (daclPresent ? acesToSddl(dacl) : std::string("NO_ACCESS_CONTROL"));
    if (saclPresent)
        text += "S:" + acesToSddl(sacl);
    return text;
}

std::optional<SecurityDescriptor> SecurityDescriptor::fromSddl(const std::string& text)
{
    SecurityDescriptor sd;
    size_t pos = 0;
    auto partEnd = [&](size_t from) {
        int depth = 0;
        for (size_t i = from; i < text.size(); ++i) {
            char c = text[i];
            if (c == '(')
                ++depth;
            else if (c == ')')
                --depth;
            else if (depth == 0 && i + 1 < text.size() && text[i + 1] == ':' && (c == 'O' || c == 'G' || c == 'D' || c == 'S'))
                return i;
        }
        return text.size();
    };
    bool sawDacl = false;
    while (pos < text.size()) {
        if (pos + 1 >= text.size() || text[pos + 1] != ':')
            return std::nullopt;
        char part = text[pos];
        size_t end = partEnd(pos + 2);
        std::string body = text.substr(pos + 2, end - pos - 2);
        pos = end;
        if (part == 'O' || part == 'G') {
            auto sid = sidFromSddl(body);
            if (!sid)
                return std::nullopt;
            (part == 'O' ? sd.owner : sd.group) = *sid;
        } else if (part == 'D') {
            sawDacl = true;
            // Control flags before the entries: P, AI, AR.
            size_t i = 0;
            while (i < body.size() && body[i] != '(') {
                if (body.compare(i, 17, "NO_ACCESS_CONTROL") == 0) {
                    i += 17;
                    continue;
                }
                if (body[i] == 'P') {
                    ++i;
                    continue;
                }
                if (body.compare(i, 2, "AI") == 0 || body.compare(i, 2, "AR") == 0) {
                    i += 2;
                    continue;
                }
                return std::nullopt;
            }
            sd.daclPresent = body.find("NO_ACCESS_CONTROL") == std::string::npos;
            if (!acesFromSddl(body, i, false, sd.dacl))
                return std::nullopt;
            if (!sd.daclPresent && !sd.dacl.empty())
                return std::nullopt;
        } else if (part == 'S') {
            sd.saclPresent = true;
            if (!acesFromSddl(body, 0, true, sd.sacl))
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    // A descriptor says what its DACL is, NO_ACCESS_CONTROL included: text
    // without one (an empty text) is never read as "no access control".
    if (!sawDacl)
        return std::nullopt;
    return sd;
}

Bytes aclBytes(const std::vector<Ace>& aces)
{
    Bytes out(sizeof(ACL));
    for (auto& ace : aces) {
        size_t at = out.size();
        out.resize(at + 8);
        appendSid(out, ace.sid);
        out[at] = ace.type;
        out[at + 1] = ace.flags;
        putWord(out, at + 2, static_cast<WORD>(out.size() - at));
        putDword(out, at + 4, ace.mask);
    }
    out[0] = ACL_REVISION;
    putWord(out, 2, static_cast<WORD>(out.size()));
    putWord(out, 4, static_cast<WORD>(aces.size()));
    return out;
}

std::optional<std::vector<Ace>> parseAcl(const BYTE* acl, bool audit)
{
    if (!acl)
        return std::nullopt;
    BYTE revision = acl[0];
    WORD size = getWord(acl + 2);
    WORD count = getWord(acl + 4);
    if (revision < ACL_REVISION || revision > 4 || size < sizeof(ACL))
        return std::nullopt;
    std::vector<Ace> aces;
    size_t at = sizeof(ACL);
    for (WORD i = 0; i < count; ++i) {
        if (at + 8 > size)
            return std::nullopt;
        WORD aceSize = getWord(acl + at + 2);
        if (aceSize < 8 || at + aceSize > size)
            return std::nullopt;
        Ace ace;
        ace.type = acl[at];
        ace.flags = acl[at + 1];
        ace.mask = getDword(acl + at + 4);
        bool known = audit ? ace.type == SYSTEM_AUDIT_ACE_TYPE
                           : ace.type == ACCESS_ALLOWED_ACE_TYPE || ace.type == ACCESS_DENIED_ACE_TYPE;
        if (!known)
            return std::nullopt;
        if (!isValidSid(acl + at + 8, aceSize - 8))
            return std::nullopt;
        ace.sid = sidToString(acl + at + 8);
        aces.push_back(ace);
        at += aceSize;
    }
    return aces;
}

Bytes SecurityDescriptor::toSelfRelative(SECURITY_INFORMATION info) const
{
    Bytes out(sizeof(SECURITY_DESCRIPTOR_RELATIVE), 0);
    out[0] = SECURITY_DESCRIPTOR_REVISION;
    WORD control = SE_SELF_RELATIVE;
    auto place = [&](size_t field, const Bytes& part) {
        putDword(out, field, static_cast<DWORD>(out.size()));
        out.insert(out.end(), part.begin(), part.end());
    };
    if ((info & OWNER_SECURITY_INFORMATION) && !owner.empty())
        place(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Owner), *sidFromString(owner));
    if ((info & GROUP_SECURITY_INFORMATION) && !group.empty())
        place(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Group), *sidFromString(group));
    if ((info & SACL_SECURITY_INFORMATION) && saclPresent) {
        control |= SE_SACL_PRESENT;
        place(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Sacl), aclBytes(sacl));
    }
    if (info & DACL_SECURITY_INFORMATION) {
        control |= SE_DACL_PRESENT;
        if (daclPresent)
            place(offsetof(SECURITY_DESCRIPTOR_RELATIVE, Dacl), aclBytes(dacl));
    }
    putWord(out, 2, control);
    return out;
}

LONG SecurityDescriptor::takeParts(const SecurityDescriptor& given, SECURITY_INFORMATION info, const Token& token)
{
    if (info & OWNER_SECURITY_INFORMATION) {
        if (given.owner.empty() || !token.holds(given.owner))
            return ERROR_INVALID_OWNER;
        owner = given.owner;
    }
    if (info & GROUP_SECURITY_INFORMATION)
        group = given.group;
    if (info & DACL_SECURITY_INFORMATION) {
        daclPresent = given.daclPresent;
        dacl = given.dacl;
    }
    return ERROR_SUCCESS;
}

std::optional<SecurityDescriptor> SecurityDescriptor::fromSelfRelative(const Bytes& bytes)
{
    size_t size = bytes.size();
    if (size < sizeof(SECURITY_DESCRIPTOR_RELATIVE) || !(getWord(bytes.data() + 2) & SE_SELF_RELATIVE))
        return std::nullopt;
    auto rel = reinterpret_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(bytes.data());
    for (DWORD sid : { rel->Owner, rel->Group })
        if (sid && (sid >= size || !isValidSid(bytes.data() + sid, size - sid)))
            return std::nullopt;
    if (rel->Dacl && (rel->Dacl > size - sizeof(ACL) || getWord(bytes.data() + rel->Dacl + 2) > size - rel->Dacl))
        return std::nullopt;
    return fromBinary(bytes.data());
}

std::optional<SecurityDescriptor> SecurityDescriptor::fromBinary(const void* descriptor)
{
    if (!descriptor)
        return std::nullopt;
    auto base = static_cast<const BYTE*>(descriptor);
    if (base[0] != SECURITY_DESCRIPTOR_REVISION)
        return std::nullopt;
    WORD control = getWord(base + 2);
    const BYTE* ownerSid = nullptr;
    const BYTE* groupSid = nullptr;
    const BYTE* daclPtr = nullptr;
    const BYTE* saclPtr = nullptr;
    if (control & SE_SELF_RELATIVE) {
        auto rel = static_cast<const SECURITY_DESCRIPTOR_RELATIVE*>(descriptor);
        ownerSid = rel->Owner ? base + rel->Owner : nullptr;
        groupSid = rel->Group ? base + rel->Group : nullptr;
        daclPtr = rel->Dacl ? base + rel->Dacl : nullptr;
        saclPtr = rel->Sacl ? base + rel->Sacl : nullptr;
    } else {
        auto abs = static_cast<const SECURITY_DESCRIPTOR*>(descriptor);
        ownerSid = static_cast<const BYTE*>(abs->Owner);
        groupSid = static_cast<const BYTE*>(abs->Group);
        daclPtr = reinterpret_cast<const BYTE*>(abs->Dacl);
        saclPtr = reinterpret_cast<const BYTE*>(abs->Sacl);
    }
    SecurityDescriptor sd;
    if (ownerSid) {
        if (!isValidSid(ownerSid))
            return std::nullopt;
        sd.owner = sidToString(ownerSid);
    }
    if (groupSid) {
        if (!isValidSid(groupSid))
            return std::nullopt;
        sd.group = sidToString(groupSid);
    }
    if ((control & SE_DACL_PRESENT) && daclPtr) {
        auto aces = parseAcl(daclPtr);
        if (!aces)
            return std::nullopt;
        sd.daclPresent = true;
        sd.dacl = *aces;
    }
    if ((control & SE_SACL_PRESENT) && saclPtr) {
        auto aces = parseAcl(saclPtr, true);
        if (!aces)
            return std::nullopt;
        sd.saclPresent = true;
        sd.sacl = *aces;
    }
    return sd;
}

namespace {

const GenericMapping keyMapping { KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS };

}

ACCESS_MASK mapGenericRights(ACCESS_MASK mask, const GenericMapping& mapping)
{
    ACCESS_MASK out = mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
    if (mask & GENERIC_READ)
        out |= mapping.read;
    if (mask & GENERIC_WRITE)
        out |= mapping.write;
    if (mask & GENERIC_EXECUTE)
        out |= mapping.execute;
    if (mask & GENERIC_ALL)
        out |= mapping.all;
    return out;
}

ACCESS_MASK mapGenericKeyRights(ACCESS_MASK mask)
{
    return mapGenericRights(mask, keyMapping);
}

AccessResult checkKeyAccess(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired)
{
    return checkAccess(sd, token, desired, keyMapping);
}

AccessResult checkAccess(const SecurityDescriptor& sd, const Token& token, ACCESS_MASK desired,
    const GenericMapping& mapping)
{
    // Nobody holds the auditing privilege enabled on our machines.
    if (desired & ACCESS_SYSTEM_SECURITY)
        return { ERROR_PRIVILEGE_NOT_HELD, 0 };
    bool maximum = desired & MAXIMUM_ALLOWED;
    desired = mapGenericRights(desired & ~MAXIMUM_ALLOWED, mapping);
    if (!sd.daclPresent)
        return { ERROR_SUCCESS, maximum ? ACCESS_MASK(desired | mapping.all) : desired };

    ACCESS_MASK granted = 0;
    ACCESS_MASK denied = 0;
    // The owner may always read and rewrite the DACL; no entry takes that away.
    if (!sd.owner.empty() && token.holds(sd.owner))
        granted |= READ_CONTROL | WRITE_DAC;
    for (auto& ace : sd.dacl) {
        if (!maximum && (desired & ~granted) == 0)
            break;
        if ((ace.flags & INHERIT_ONLY_ACE) || !token.holds(ace.sid))
            continue;
        ACCESS_MASK mask = mapGenericRights(ace.mask, mapping);
        if (ace.type == ACCESS_ALLOWED_ACE_TYPE)
            granted |= mask & ~denied;
        else if (ace.type == ACCESS_DENIED_ACE_TYPE)
            denied |= mask & ~granted;
    }
    if ((desired & ~granted) != 0)
        return { ERROR_ACCESS_DENIED, 0 };
    if (maximum) {
        if (granted == 0)
            return { ERROR_ACCESS_DENIED, 0 };
        return { ERROR_SUCCESS, granted };
    }
    return { ERROR_SUCCESS, desired };
}

std::string defaultOwner(const Token& token)
{
    return token.admin ? WellKnown::Administrators : token.user;
}

namespace {

// The entries a new key takes from its parent's inheritable ones.
std::vector<Ace> inheritedAces(const std::vector<Ace>& parent, const std::string& owner, const std::string& group)
{
    std::vector<Ace> out;
    for (auto& ace : parent) {
        bool container = ace.flags & CONTAINER_INHERIT_ACE;
        bool object = ace.flags & OBJECT_INHERIT_ACE;
        bool noPropagate = ace.flags & NO_PROPAGATE_INHERIT_ACE;
        BYTE audit = ace.flags & (SUCCESSFUL_ACCESS_ACE_FLAG | FAILED_ACCESS_ACE_FLAG);
        if (!container && !object)
            continue;
        if (!container) {
            // Only for objects below: passes through a key unused.
            if (!noPropagate)
                out.push_back({ ace.type, BYTE(OBJECT_INHERIT_ACE | INHERIT_ONLY_ACE | INHERITED_ACE | audit), ace.mask, ace.sid });
            continue;
        }
        BYTE propagate = noPropagate ? 0 : BYTE(ace.flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE));
        if (tokenIsCreatorSid(ace.sid)) {
            std::string who = ace.sid == WellKnown::CreatorOwner ? owner : group;
            out.push_back({ ace.type, BYTE(INHERITED_ACE | audit), mapGenericKeyRights(ace.mask), who });
            if (propagate)
                out.push_back({ ace.type, BYTE(propagate | INHERIT_ONLY_ACE | INHERITED_ACE | audit), ace.mask, ace.sid });
            continue;
        }
        out.push_back({ ace.type, BYTE(propagate | INHERITED_ACE | audit), mapGenericKeyRights(ace.mask), ace.sid });
    }
    return out;
}

}

SecurityDescriptor inheritedDescriptor(const SecurityDescriptor& parent, const Token& creator)
{
    SecurityDescriptor sd;
    sd.owner = defaultOwner(creator);
    sd.group = parent.group.empty() ? WellKnown::LocalSystem : parent.group;
    sd.daclPresent = true;
    if (parent.daclPresent)
        sd.dacl = inheritedAces(parent.dacl, sd.owner, sd.group);
    if (sd.dacl.empty() || !parent.daclPresent) {
        // Nothing to inherit: the creator's default DACL.
        sd.dacl = {
            { ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, sd.owner },
            { ACCESS_ALLOWED_ACE_TYPE, 0, KEY_ALL_ACCESS, WellKnown::LocalSystem },
        };
    }
    if (parent.saclPresent) {
        sd.sacl = inheritedAces(parent.sacl, sd.owner, sd.group);
        sd.saclPresent = !sd.sacl.empty();
    }
    return sd;
}

}
