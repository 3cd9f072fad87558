#include "Machine.h"

#include "NtPath.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

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

bool parseNumber(const Json& j, unsigned& out)
{
    if (j.isNumber()) {
        out = static_cast<unsigned>(j.asInt());
        return true;
    }
    if (j.isString()) {
        char* end = nullptr;
        unsigned long v = std::strtoul(j.asString().c_str(), &end, 0);
        if (end && *end == 0 && !j.asString().empty()) {
            out = static_cast<unsigned>(v);
            return true;
        }
    }
    return false;
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

std::optional<std::pair<unsigned, unsigned>> codePagesOfLocale(uint16_t locale)
{
    switch (locale) {
    case 0x0409: return std::make_pair(1252u, 437u);
    case 0x0406: case 0x0407: case 0x040A: case 0x0C0A: case 0x040B:
    case 0x040C: case 0x0410: case 0x0413: case 0x0414: case 0x041D:
    case 0x0416:
        return std::make_pair(1252u, 850u);
    case 0x0411: return std::make_pair(932u, 932u);
    case 0x0404: return std::make_pair(950u, 950u);
    case 0x0804: return std::make_pair(936u, 936u);
    default: return std::nullopt;
    }
}

Json MachineConfig::toJson() const
{
    Json j = Json::object();
    j.set("ntsim", 1);
    j.set("os", "Windows NT 4.0");
    Json cpu = Json::object();
    cpu.set("cpuid", cpuid);
    cpu.set("mmx", mmx);
    j.set("cpu", cpu);
    char loc[8];
    std::snprintf(loc, sizeof loc, "%04X", locale);
    j.set("locale", std::string(loc));
    j.set("codepage", codePage);
    j.set("oemcodepage", oemCodePage);
    Json u = Json::object();
    u.set("name", user.name);
    u.set("sid", user.sid);
    Json groups = Json::array();
    for (auto& g : user.groups)
        groups.push(g);
    u.set("groups", groups);
    u.set("admin", user.admin);
    j.set("user", u);
    Json devices = Json::array();
    for (auto& d : pci) {
        Json dev = Json::object();
        dev.set("bus", d.bus);
        dev.set("slot", d.slot);
        dev.set("vendor", hex(d.vendorId, 4));
        dev.set("device", hex(d.deviceId, 4));
        dev.set("subsystem", hex(d.subsystemId, 4));
        dev.set("subsystemVendor", hex(d.subsystemVendorId, 4));
        dev.set("revision", hex(d.revision, 2));
        dev.set("kind", d.kind);
        devices.push(dev);
    }
    j.set("pci", devices);
    Json faultList = Json::array();
    for (auto& f : faults) {
        Json fj = Json::object();
        fj.set("api", f.api);
        fj.set("error", f.error);
        fj.set("nth", f.nth);
        faultList.push(fj);
    }
    j.set("faults", faultList);
    return j;
}

bool MachineConfig::fromJson(const Json& j, MachineConfig& out, std::string& error)
{
    if (!j.isObject() || j["ntsim"].asInt() != 1) {
        error = "not an ntsim machine description";
        return false;
    }
    MachineConfig c;
    c.cpuid = j["cpu"]["cpuid"].asBool(true);
    c.mmx = j["cpu"]["mmx"].asBool(true);
    unsigned loc = 0;
    if (!j["locale"].isString() || (loc = static_cast<unsigned>(std::strtoul(j["locale"].asString().c_str(), nullptr, 16))) == 0) {
        error = "machine.json: bad locale";
        return false;
    }
    c.locale = static_cast<uint16_t>(loc);
    if (!parseNumber(j["codepage"], c.codePage) || !parseNumber(j["oemcodepage"], c.oemCodePage)) {
        error = "machine.json: bad code page";
        return false;
    }
    const Json& u = j["user"];
    c.user.name = u["name"].asString();
    c.user.sid = u["sid"].asString();
    c.user.admin = u["admin"].asBool(false);
    for (auto& g : u["groups"].items())
        c.user.groups.push_back(g.asString());
    if (c.user.name.empty() || c.user.sid.empty()) {
        error = "machine.json: no user";
        return false;
    }
    for (auto& d : j["pci"].items()) {
        PciDevice dev;
        unsigned v = 0, dv = 0, s = 0, sv = 0, r = 0;
        if (!parseNumber(d["vendor"], v) || !parseNumber(d["device"], dv) || !parseNumber(d["subsystem"], s)
            || !parseNumber(d["subsystemVendor"], sv) || !parseNumber(d["revision"], r)) {
            error = "machine.json: bad PCI device";
            return false;
        }
        dev.bus = static_cast<unsigned>(d["bus"].asInt());
        dev.slot = static_cast<unsigned>(d["slot"].asInt());
        dev.vendorId = static_cast<uint16_t>(v);
        dev.deviceId = static_cast<uint16_t>(dv);
        dev.subsystemId = static_cast<uint16_t>(s);
        dev.subsystemVendorId = static_cast<uint16_t>(sv);
        dev.revision = static_cast<uint8_t>(r);
        dev.kind = d["kind"].asString();
        c.pci.push_back(dev);
    }
    for (auto& f : j["faults"].items()) {
        FaultSpec spec;
        spec.api = f["api"].asString();
        unsigned e = 0, n = 1;
        parseNumber(f["error"], e);
        if (f.has("nth"))
            parseNumber(f["nth"], n);
        spec.error = e;
        spec.nth = n ? n : 1;
        c.faults.push_back(spec);
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
    if (!Json::parse(text, j, error)) {
        error = configPath() + ": " + error;
        return false;
    }
    return MachineConfig::fromJson(j, m_config, error);
}

bool Machine::saveConfig(std::string& error) const
{
    std::string tmp = configPath() + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        out << m_config.toJson().pretty();
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
    if (ntFullPath.size() < 2 || ntFullPath[1] != ':' || (ntFullPath[0] != 'C' && ntFullPath[0] != 'c'))
        return {};
    std::string host = driveC();
    bool exists = true;
    for (auto& part : ntComponents(ntFullPath)) {
        std::string match = part;
        if (exists) {
            exists = false;
            if (DIR* d = opendir(host.c_str())) {
                while (dirent* e = readdir(d)) {
                    if (equalsNoCase(e->d_name, part)) {
                        match = e->d_name;
                        exists = true;
                        break;
                    }
                }
                closedir(d);
            }
        }
        host += "/" + match;
    }
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
