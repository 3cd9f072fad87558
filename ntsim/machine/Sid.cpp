#include "Sid.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ntsim::security {

namespace {

struct Alias {
    const char* name;
    const char* sid;
};

const Alias aliases[] = {
    { "WD", "S-1-1-0" },
    { "CO", "S-1-3-0" },
    { "CG", "S-1-3-1" },
    { "NU", "S-1-5-2" },
    { "IU", "S-1-5-4" },
    { "SU", "S-1-5-6" },
    { "AU", "S-1-5-11" },
    { "SY", "S-1-5-18" },
    { "BA", "S-1-5-32-544" },
    { "BU", "S-1-5-32-545" },
    { "BG", "S-1-5-32-546" },
    { "PU", "S-1-5-32-547" },
};

uint64_t authorityOf(const BYTE* sid)
{
    uint64_t value = 0;
    for (int i = 0; i < 6; ++i)
        value = (value << 8) | sid[2 + i];
    return value;
}

DWORD subAuthority(const BYTE* sid, unsigned i)
{
    DWORD v;
    std::memcpy(&v, sid + 8 + 4 * i, 4);
    return v;
}

}

bool isValidSid(const BYTE* sid, size_t available)
{
    if (!sid || available < 8)
        return false;
    if (sid[0] != SID_REVISION || sid[1] > SID_MAX_SUB_AUTHORITIES)
        return false;
    return available >= sidLengthFor(sid[1]);
}

size_t sidLength(const BYTE* sid) { return sidLengthFor(sid[1]); }

std::string sidToString(const BYTE* sid)
{
    std::string text = "S-" + std::to_string(sid[0]) + "-";
    uint64_t authority = authorityOf(sid);
    if (authority >= (uint64_t(1) << 32)) {
        char hex[20];
        std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(authority));
        text += hex;
    } else {
        text += std::to_string(authority);
    }
    for (unsigned i = 0; i < sid[1]; ++i)
        text += "-" + std::to_string(subAuthority(sid, i));
    return text;
}

std::optional<Bytes> sidFromString(const std::string& text)
{
    if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text[1] != '-')
        return std::nullopt;
    std::vector<uint64_t> parts;
    size_t pos = 2;
    while (pos <= text.size()) {
        size_t dash = text.find('-', pos);
        std::string part = text.substr(pos, dash == std::string::npos ? std::string::npos : dash - pos);
        if (part.empty())
            return std::nullopt;
        char* end = nullptr;
        unsigned long long v = std::strtoull(part.c_str(), &end, 0);
        if (!end || *end || part[0] == '-' || part[0] == '+')
            return std::nullopt;
        parts.push_back(v);
        if (dash == std::string::npos)
            break;
        pos = dash + 1;
    }
    if (parts.size() < 2 || parts[0] != SID_REVISION || parts.size() - 2 > SID_MAX_SUB_AUTHORITIES)
        return std::nullopt;
    if (parts[1] >= (uint64_t(1) << 48))
        return std::nullopt;
    unsigned count = static_cast<unsigned>(parts.size() - 2);
    Bytes sid(sidLengthFor(count));
    sid[0] = SID_REVISION;
    sid[1] = static_cast<BYTE>(count);
    for (int i = 0; i < 6; ++i)
        sid[2 + i] = static_cast<BYTE>(parts[1] >> (8 * (5 - i)));
    for (unsigned i = 0; i < count; ++i) {
        if (parts[2 + i] > 0xFFFFFFFFull)
            return std::nullopt;
        DWORD v = static_cast<DWORD>(parts[2 + i]);
        std::memcpy(sid.data() + 8 + 4 * i, &v, 4);
    }
    return sid;
}

std::string sidToSddl(const std::string& sid)
{
    for (auto& a : aliases)
        if (sid == a.sid)
            return a.name;
    return sid;
}

std::optional<std::string> sidFromSddl(const std::string& token)
{
    for (auto& a : aliases)
        if (token == a.name)
            return std::string(a.sid);
    auto bytes = sidFromString(token);
    if (!bytes)
        return std::nullopt;
    return sidToString(bytes->data());
}

}
