#include "Machine.h"

#include "NtPath.h"
#include "Sid.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_map>

namespace ntsim {

namespace {

std::unique_ptr<Machine>& processMachine()
{
    static std::unique_ptr<Machine> machine;
    return machine;
}

std::string hex(unsigned value, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*X", digits, value);
    return buf;
}

bool readFile(const std::string& path, std::string& out)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

}

std::optional<UserAccount> knownUser(const std::string& name)
{
    // One machine domain; the relative ids are NT's well-known ones.
    const std::string domain = "S-1-5-21-1004336348-1177238915-682003330";
    if (equalsNoCase(name, "administrator") || equalsNoCase(name, "admin"))
        return UserAccount { "Administrator", domain + "-500",
            { "S-1-1-0", "S-1-5-32-544", "S-1-5-32-545", "S-1-5-4", "S-1-5-11" }, true };
    if (equalsNoCase(name, "guest"))
        return UserAccount { "Guest", domain + "-501", { "S-1-1-0", "S-1-5-32-546", "S-1-5-4" }, false };
    return std::nullopt;
}

namespace {

struct LocaleCodePages {
    uint16_t locale;
    unsigned ansi;
    unsigned oem;
};

const LocaleCodePages localeCodePages[] = {
    { 0x0409, 1252, 437 },
    { 0x0406, 1252, 850 }, { 0x0407, 1252, 850 }, { 0x040A, 1252, 850 }, { 0x0C0A, 1252, 850 },
    { 0x040B, 1252, 850 }, { 0x040C, 1252, 850 }, { 0x0410, 1252, 850 }, { 0x0413, 1252, 850 },
    { 0x0414, 1252, 850 }, { 0x041D, 1252, 850 }, { 0x0416, 1252, 850 },
    { 0x0411, 932, 932 },
    { 0x0404, 950, 950 },
    { 0x0804, 936, 936 },
};

}

std::optional<std::pair<unsigned, unsigned>> codePagesOfLocale(uint16_t locale)
{
    for (auto& l : localeCodePages)
        if (l.locale == locale)
            return std::make_pair(l.ansi, l.oem);
    return std::nullopt;
}

bool machineCodePage(unsigned codePage, bool oem)
{
    for (auto& l : localeCodePages)
        if ((oem ? l.oem : l.ansi) == codePage)
            return true;
    return false;
}

Json MachineConfig::toJson() const
{
    Json j = Json::object();
    j["ntsim"] = 1;
    j["os"] = "Windows NT 4.0";
    j["cpu"] = { { "cpuid", cpuid }, { "mmx", mmx } };
    char loc[8];
    std::snprintf(loc, sizeof loc, "%04X", locale);
    j["locale"] = loc;
    j["codepage"] = codePage;
    j["oemcodepage"] = oemCodePage;
    j["user"] = { { "name", user.name }, { "sid", user.sid }, { "groups", user.groups }, { "admin", user.admin } };
    Json devices = Json::array();
    for (auto& d : pci) {
        devices.push_back({ { "bus", d.bus }, { "slot", d.slot }, { "vendor", hex(d.vendorId, 4) },
            { "device", hex(d.deviceId, 4) }, { "subsystem", hex(d.subsystemId, 4) },
            { "subsystemVendor", hex(d.subsystemVendorId, 4) }, { "revision", hex(d.revision, 2) },
            { "kind", d.kind } });
    }
    j["pci"] = devices;
    Json faultList = Json::array();
    for (auto& f : faults)
        faultList.push_back({ { "api", f.api }, { "error", f.error }, { "nth", f.nth } });
    j["faults"] = faultList;
    if (!trace.empty())
        j["trace"] = trace;
    return j;
}

namespace {

// Reads machine.json strictly: a member of the wrong type or out of range is
// an error naming it, never a default in its place.
class ConfigReader {
public:
    const std::string& error() const { return m_error; }

    // The member, or null when it is missing; an error if j is no object.
    const Json& at(const Json& j, const std::string& where, const char* key)
    {
        static const Json null;
        if (!j.is_object()) {
            fail(where, "must be an object");
            return null;
        }
        auto it = j.find(key);
        return it == j.end() ? null : *it;
    }

    bool boolean(const Json& j, const std::string& name, bool fallback, bool& out)
    {
        if (j.is_null()) {
            out = fallback;
            return true;
        }
        if (!j.is_boolean())
            return fail(name, "must be true or false");
        out = j.get<bool>();
        return true;
    }

    bool string(const Json& j, const std::string& name, std::string& out)
    {
        if (!j.is_string())
            return fail(name, "must be a string");
        out = j.get<std::string>();
        return true;
    }

    // A number, or a string of one ("0x8086").
    bool number(const Json& j, const std::string& name, uint64_t max, unsigned& out)
    {
        uint64_t v = 0;
        if (j.is_number_unsigned()) {
            v = j.get<uint64_t>();
        } else if (j.is_string() && !j.get_ref<const std::string&>().empty()) {
            const std::string& text = j.get_ref<const std::string&>();
            char* end = nullptr;
            errno = 0;
            unsigned long long parsed = std::strtoull(text.c_str(), &end, 0);
            if (*end != 0 || errno == ERANGE || text[0] == '-')
                return fail(name, "must be a number");
            v = parsed;
        } else {
            return fail(name, "must be a number");
        }
        if (v > max)
            return fail(name, "is out of range");
        out = static_cast<unsigned>(v);
        return true;
    }

    template <typename Each>
    bool array(const Json& j, const std::string& name, Each each)
    {
        if (j.is_null())
            return true;
        if (!j.is_array())
            return fail(name, "must be an array");
        for (size_t i = 0; i < j.size(); ++i)
            if (!each(j[i], name + "[" + std::to_string(i) + "]"))
                return false;
        return true;
    }

    bool fail(const std::string& name, const char* problem)
    {
        if (m_error.empty())
            m_error = name + " " + problem;
        return false;
    }

private:
    std::string m_error;
};

}

bool MachineConfig::fromJson(const Json& j, MachineConfig& out, std::string& error)
{
    if (!j.is_object() || member(j, "ntsim") != 1) {
        error = "not an ntsim machine description";
        return false;
    }
    ConfigReader r;
    MachineConfig c;
    const Json& cpu = member(j, "cpu");
    unsigned loc = 0;
    std::string locale;
    bool ok = r.boolean(cpu.is_null() ? cpu : r.at(cpu, "cpu", "cpuid"), "cpu.cpuid", true, c.cpuid)
        && r.boolean(cpu.is_null() ? cpu : r.at(cpu, "cpu", "mmx"), "cpu.mmx", true, c.mmx)
        && r.string(member(j, "locale"), "locale", locale);
    if (ok) {
        char* end = nullptr;
        unsigned long id = std::strtoul(locale.c_str(), &end, 16);
        if (locale.empty() || *end != 0 || id == 0 || id > 0xFFFF)
            ok = r.fail("locale", "must be a locale id of four hex digits");
        loc = static_cast<unsigned>(id);
    }
    ok = ok && r.number(member(j, "codepage"), "codepage", 0xFFFF, c.codePage)
        && r.number(member(j, "oemcodepage"), "oemcodepage", 0xFFFF, c.oemCodePage);
    c.locale = static_cast<uint16_t>(loc);
    if (ok && !codePagesOfLocale(c.locale))
        ok = r.fail("locale", "is not a locale this machine has");
    if (ok && !machineCodePage(c.codePage, false))
        ok = r.fail("codepage", "is not an ANSI code page this machine has");
    if (ok && !machineCodePage(c.oemCodePage, true))
        ok = r.fail("oemcodepage", "is not an OEM code page this machine has");

    const Json& u = member(j, "user");
    ok = ok && r.string(r.at(u, "user", "name"), "user.name", c.user.name)
        && r.string(r.at(u, "user", "sid"), "user.sid", c.user.sid)
        && r.boolean(r.at(u, "user", "admin"), "user.admin", false, c.user.admin)
        && r.array(r.at(u, "user", "groups"), "user.groups", [&](const Json& g, const std::string& name) {
               std::string sid;
               if (!r.string(g, name, sid))
                   return false;
               if (!security::sidFromString(sid))
                   return r.fail(name, "is not a SID (S-1-...)");
               c.user.groups.push_back(sid);
               return true;
           });
    if (ok && (c.user.name.empty() || c.user.sid.empty()))
        ok = r.fail("user", "has no name or SID");
    if (ok && !security::sidFromString(c.user.sid))
        ok = r.fail("user.sid", "is not a SID (S-1-...)");

    ok = ok && r.array(member(j, "pci"), "pci", [&](const Json& d, const std::string& name) {
        PciDevice dev;
        unsigned v = 0, dv = 0, s = 0, sv = 0, rev = 0;
        if (!r.number(r.at(d, name, "bus"), name + ".bus", 0xFF, dev.bus)
            || !r.number(r.at(d, name, "slot"), name + ".slot", 0x1F, dev.slot)
            || !r.number(r.at(d, name, "vendor"), name + ".vendor", 0xFFFF, v)
            || !r.number(r.at(d, name, "device"), name + ".device", 0xFFFF, dv)
            || !r.number(r.at(d, name, "subsystem"), name + ".subsystem", 0xFFFF, s)
            || !r.number(r.at(d, name, "subsystemVendor"), name + ".subsystemVendor", 0xFFFF, sv)
            || !r.number(r.at(d, name, "revision"), name + ".revision", 0xFF, rev)
            || !r.string(r.at(d, name, "kind"), name + ".kind", dev.kind))
            return false;
        dev.vendorId = static_cast<uint16_t>(v);
        dev.deviceId = static_cast<uint16_t>(dv);
        dev.subsystemId = static_cast<uint16_t>(s);
        dev.subsystemVendorId = static_cast<uint16_t>(sv);
        dev.revision = static_cast<uint8_t>(rev);
        c.pci.push_back(dev);
        return true;
    });

    ok = ok && r.array(member(j, "faults"), "faults", [&](const Json& f, const std::string& name) {
        FaultSpec spec;
        const Json& nth = r.at(f, name, "nth");
        if (!r.string(r.at(f, name, "api"), name + ".api", spec.api)
            || !r.number(r.at(f, name, "error"), name + ".error", 0xFFFFFFFF, spec.error)
            || (!nth.is_null() && !r.number(nth, name + ".nth", 0xFFFFFFFF, spec.nth)))
            return false;
        if (spec.nth == 0)
            return r.fail(name + ".nth", "must be 1 or more");
        c.faults.push_back(spec);
        return true;
    });
    const Json& trace = member(j, "trace");
    ok = ok && (trace.is_null() || r.string(trace, "trace", c.trace));
    if (ok && !c.trace.empty() && c.trace[0] != '/')
        ok = r.fail("trace", "must be an absolute host path");
    if (!ok) {
        error = r.error();
        return false;
    }
    out = c;
    return true;
}

bool Machine::open(const std::string& root, Machine& out, std::string& error)
{
    char resolved[PATH_MAX];
    if (!realpath(root.c_str(), resolved)) {
        error = root + ": no such machine directory";
        return false;
    }
    Machine m;
    m.m_root = resolved;
    if (!m.reloadConfig(error))
        return false;
    out = m;
    return true;
}

bool Machine::reloadConfig(std::string& error)
{
    std::string text;
    if (!readFile(configPath(), text)) {
        error = m_root + ": not a machine (no machine.json)";
        return false;
    }
    Json j;
    if (!parseJson(text, j, error) || !MachineConfig::fromJson(j, m_config, error)) {
        error = configPath() + ": " + error;
        return false;
    }
    return true;
}

bool Machine::saveConfig(std::string& error) const
{
    std::string tmp = configPath() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << dumpPretty(m_config.toJson());
        if (!out) {
            error = "cannot write " + tmp;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), configPath().c_str()) != 0) {
        error = "cannot replace " + configPath();
        return false;
    }
    return true;
}

void Machine::attach(const std::string& root)
{
    auto m = std::make_unique<Machine>();
    std::string error;
    if (!open(root, *m, error)) {
        std::fprintf(stderr, "ntsim: %s\n", error.c_str());
        std::exit(70);
    }
    processMachine() = std::move(m);
}

bool Machine::attached()
{
    return processMachine() != nullptr;
}

Machine& Machine::current()
{
    auto& m = processMachine();
    if (m)
        return *m;
    if (const char* env = std::getenv("NTSIM_MACHINE"); env && *env) {
        attach(env);
        return *m;
    }
    char exe[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = 0;
        std::string dir = exe;
        while (dir.size() > 1) {
            dir = dir.substr(0, dir.find_last_of('/'));
            if (dir.empty())
                break;
            struct stat st;
            if (stat((dir + "/machine.json").c_str(), &st) == 0) {
                attach(dir);
                return *m;
            }
        }
    }
    std::fprintf(stderr, "ntsim: this program runs inside a simulated machine (set NTSIM_MACHINE or use 'ntsim run')\n");
    std::exit(70);
}

std::string Machine::hostPath(const std::string& ntFullPath) const
{
    PathProblem problem;
    return hostPath(ntFullPath, problem);
}

namespace {

// The names of host directories as this process last listed them, for the
// lookup without regard to case: a listing serves while the directory's
// change time is the one it was made at, and the process's own creations
// and deletions keep it up to date, so that filling a directory of n files
// reads it once rather than n times.
class DirectoryListings {
public:
    // The name in dir that matches name without regard to case, or nothing.
    std::optional<std::string> find(const std::string& dir, const std::string& name)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        struct stat st;
        if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
            return std::nullopt;
        if (m_listings.size() >= maxListings && !m_listings.count(dir))
            m_listings.clear();
        Listing& listing = m_listings[dir];
        if (!listing.listed || !sameTime(listing.changed, st.st_mtim)) {
            if (!list(dir, listing))
                return std::nullopt;
            listing.changed = st.st_mtim;
        }
        auto it = listing.names.find(upperAscii(name));
        if (it == listing.names.end())
            return std::nullopt;
        return it->second;
    }

    // After this process made or removed path: its directory's listing
    // takes the change and the directory's new time.
    void changed(const std::string& path)
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        size_t slash = path.find_last_of('/');
        auto it = m_listings.find(path.substr(0, slash));
        if (it == m_listings.end())
            return;
        Listing& listing = it->second;
        std::string name = path.substr(slash + 1);
        struct stat st;
        if (lstat(path.c_str(), &st) == 0)
            listing.names[upperAscii(name)] = name;
        else if (listing.names.count(upperAscii(name)) && listing.names[upperAscii(name)] == name)
            listing.names.erase(upperAscii(name));
        if (stat(it->first.c_str(), &st) == 0)
            listing.changed = st.st_mtim;
        else
            m_listings.erase(it);
    }

private:
    struct Listing {
        bool listed { false };
        struct timespec changed { };
        std::unordered_map<std::string, std::string> names; // by upper-cased name
    };

    static constexpr size_t maxListings = 256;

    static bool sameTime(const struct timespec& a, const struct timespec& b)
    {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    }

    static bool list(const std::string& dir, Listing& listing)
    {
        listing.names.clear();
        listing.listed = false;
        DIR* d = opendir(dir.c_str());
        if (!d)
            return false;
        while (dirent* e = readdir(d))
            listing.names.emplace(upperAscii(e->d_name), e->d_name);
        closedir(d);
        listing.listed = true;
        return true;
    }

    std::mutex m_mutex;
    std::unordered_map<std::string, Listing> m_listings;
};

DirectoryListings& listings()
{
    static DirectoryListings cache;
    return cache;
}

}

void noteHostChange(const std::string& hostPath)
{
    listings().changed(hostPath);
}

std::string Machine::hostPath(const std::string& ntFullPath, PathProblem& problem) const
{
    problem = PathProblem::NotOnDriveC;
    if (ntFullPath.size() < 2 || ntFullPath[1] != ':' || (ntFullPath[0] != 'C' && ntFullPath[0] != 'c'))
        return {};
    std::string host = driveC();
    auto isLink = [](const struct stat& st) { return S_ISLNK(st.st_mode); };
    struct stat st;
    problem = PathProblem::HostLink;
    if (lstat(host.c_str(), &st) == 0 && isLink(st))
        return {};
    bool exists = true;
    for (auto& part : ntComponents(ntFullPath)) {
        if (!exists) {
            host += "/" + part;
            continue;
        }
        // The name as given, else the one that matches it without regard to case.
        std::string exact = host + "/" + part;
        if (lstat(exact.c_str(), &st) == 0) {
            host = exact;
        } else if (auto match = listings().find(host, part)) {
            host += "/" + *match;
            exists = lstat(host.c_str(), &st) == 0;
        } else {
            host = exact;
            exists = false;
        }
        if (exists && isLink(st))
            return {};
    }
    problem = PathProblem::None;
    return host;
}

std::string Machine::ntPath(const std::string& hostPath) const
{
    std::string base = driveC();
    if (hostPath.compare(0, base.size(), base) != 0)
        return {};
    std::string rest = hostPath.substr(base.size());
    if (!rest.empty() && rest[0] != '/')
        return {};
    std::string nt = "C:";
    for (char c : rest)
        nt += c == '/' ? '\\' : c;
    if (nt == "C:")
        nt = "C:\\";
    return nt;
}

}
