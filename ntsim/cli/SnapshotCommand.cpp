// ntsim snapshot DIR FILE and ntsim diff DIR --since FILE: what a run
// changed, as people read it. The registry side is `reg export`'s text,
// compared key by key and value by value; files, services and devices
// are compared by name.
//
// A snapshot file is text: the line "NTSIM SNAPSHOT 2", then one record a
// line, its fields separated by tabs, and last "end <number of records>",
// so that a snapshot cut short is told from a whole one:
//   reg    <a line of the registry export>
//   file   <size or "dir">  <content hash>  <NT path>
//   service <name>  <state>  <type>  <start type>
//   device <instance id>  <class>  <state>  <description>
//   end    <records>
#include "Commands.h"
#include "Devcon.h"

#include "advapi32/ScmRunState.h"
#include "machine/CodePage.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"
#include "registry/Key.h"
#include "registry/Text.h"
#include "setupapi/DeviceRegistry.h"

#include <CLI/CLI.hpp>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace ntsim {

namespace {

constexpr char Header[] = "NTSIM SNAPSHOT 2";
// A snapshot of a machine with a million keys stays below this.
constexpr size_t snapshotLimit = size_t(1) << 30;

struct FileEntry {
    std::string path;
    std::string size; // "dir" for a directory
    std::string hash;
};

struct ServiceEntry {
    std::string name;
    std::string state;
    std::string type;
    std::string start;
};

struct DeviceEntryText {
    std::string id;
    std::string className;
    std::string state;
    std::string description;
};

// How the summary names each.
const std::string& nameOf(const FileEntry& f) { return f.path; }
const std::string& nameOf(const ServiceEntry& s) { return s.name; }
const std::string& nameOf(const DeviceEntryText& d) { return d.id; }

// Ordered by upper-cased name, as NT compares names.
template<typename T>
using ByName = std::map<std::string, T>;

struct Snapshot {
    std::vector<std::string> registry;
    ByName<FileEntry> files;
    ByName<ServiceEntry> services;
    ByName<DeviceEntryText> devices;
};

std::vector<std::string> split(const std::string& line, size_t fields)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (out.size() + 1 < fields) {
        size_t tab = line.find('\t', pos);
        if (tab == std::string::npos)
            break;
        out.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
    out.push_back(line.substr(pos));
    return out;
}

std::string contentHash(const std::string& hostPath)
{
    std::string data;
    if (!readWholeFile(hostPath, data))
        return "unreadable";
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : data) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

// Every file and directory below drive C:; links are listed, never followed.
void walkFiles(const std::string& host, const std::string& nt, ByName<FileEntry>& out)
{
    DIR* dir = opendir(host.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(dir);
    for (auto& name : names) {
        std::string hostPath = host + "/" + name;
        std::string ntPath = ntJoin(nt, name);
        struct stat st;
        if (lstat(hostPath.c_str(), &st) != 0)
            continue;
        FileEntry entry { ntPath, "", "" };
        if (S_ISDIR(st.st_mode)) {
            entry.size = "dir";
            walkFiles(hostPath, ntPath, out);
        } else if (S_ISREG(st.st_mode)) {
            entry.size = std::to_string(st.st_size);
            entry.hash = contentHash(hostPath);
        } else {
            entry.size = "link";
        }
        out[upperAscii(ntPath)] = entry;
    }
}

std::string typeName(DWORD type)
{
    switch (type & ~DWORD(SERVICE_INTERACTIVE_PROCESS)) {
    case SERVICE_KERNEL_DRIVER: return "kernel driver";
    case SERVICE_FILE_SYSTEM_DRIVER: return "file system driver";
    case SERVICE_WIN32_OWN_PROCESS: return "own process";
    case SERVICE_WIN32_SHARE_PROCESS: return "shared process";
    default: return "type " + std::to_string(type);
    }
}

std::string startName(DWORD start)
{
    static const char* names[] = { "boot start", "system start", "auto start", "demand start", "disabled" };
    return start < 5 ? names[start] : "start " + std::to_string(start);
}

void readServices(ByName<ServiceEntry>& out)
{
    registry::SystemKey services;
    if (services.open("SYSTEM\\CurrentControlSet\\Services") != ERROR_SUCCESS)
        return;
    scm::RunStates states;
    for (auto& name : services.subkeys()) {
        registry::SystemKey key;
        if (key.open("SYSTEM\\CurrentControlSet\\Services\\" + name) != ERROR_SUCCESS)
            continue;
        // A key without a type is no service (EventLog's sources, say).
        auto type = key.dword("Type");
        if (!type)
            continue;
        const scm::RunState* state = states.find(name);
        out[upperAscii(name)] = { name, serviceStateName(state ? state->state : SERVICE_STOPPED), typeName(*type),
            startName(key.dword("Start").value_or(SERVICE_DEMAND_START)) };
    }
}

void readDevices(ByName<DeviceEntryText>& out)
{
    devcon::DeviceList list;
    for (auto& device : list.select({})) {
        out[upperAscii(device.instanceId)]
            = { device.instanceId, device.className, devcon::deviceState(device), device.description };
    }
}

bool takeSnapshot(const std::string& dir, Snapshot& snapshot, std::string& error)
{
    for (const char* root : { "HKEY_LOCAL_MACHINE", "HKEY_USERS" }) {
        std::string text;
        if (!exportRegistryText(dir, root, false, text, error))
            return false;
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line))
            if (line != "REGEDIT4")
                snapshot.registry.push_back(line);
    }
    if (!attachMachine(dir, error))
        return false;
    currentProcess().currentDirectory = "C:\\";
    walkFiles(Machine::current().driveC(), "C:\\", snapshot.files);
    readServices(snapshot.services);
    readDevices(snapshot.devices);
    return true;
}

// Whether a host path lies inside the machine's directory, where writing
// a snapshot would change (or break) the machine it records.
bool insideMachine(const std::string& dir, const std::string& file)
{
    char machine[PATH_MAX], parent[PATH_MAX];
    std::string folder = file.find('/') == std::string::npos ? "." : file.substr(0, file.find_last_of('/') + 1);
    if (!realpath(dir.c_str(), machine) || !realpath(folder.c_str(), parent))
        return false;
    std::string m = machine, p = std::string(parent) + "/";
    return p.compare(0, m.size() + 1, m + "/") == 0;
}

bool writeSnapshot(const std::string& file, const Snapshot& s, std::string& error)
{
    std::ostringstream out;
    out << Header << "\n";
    for (auto& line : s.registry)
        out << "reg\t" << line << "\n";
    for (auto& [key, f] : s.files)
        out << "file\t" << f.size << "\t" << f.hash << "\t" << f.path << "\n";
    for (auto& [key, v] : s.services)
        out << "service\t" << v.name << "\t" << v.state << "\t" << v.type << "\t" << v.start << "\n";
    for (auto& [key, d] : s.devices)
        out << "device\t" << d.id << "\t" << d.className << "\t" << d.state << "\t" << d.description << "\n";
    out << "end\t" << s.registry.size() + s.files.size() + s.services.size() + s.devices.size() << "\n";
    if (!writeFileAtomically(file, out.str())) {
        error = "cannot write " + file + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool readSnapshot(const std::string& file, Snapshot& s, std::string& error)
{
    // The header first: a file that is no snapshot (/dev/zero) is told
    // before anything else of it is read.
    std::ifstream probe(file, std::ios::binary);
    char head[sizeof Header] = {};
    probe.read(head, sizeof Header - 1);
    std::string text;
    if (probe && std::string(head) == Header) {
        probe.close();
        if (!readFileUpTo(file, snapshotLimit, text, error))
            return false;
    } else if (!probe.is_open()) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != Header) {
        error = file + " is not a snapshot of this ntsim (it does not begin with \"" + Header
            + "\"; take the snapshot again)";
        return false;
    }
    unsigned number = 1;
    size_t records = 0;
    bool ended = false;
    auto bad = [&](const char* what) {
        error = file + ":" + std::to_string(number) + ": " + what;
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        if (ended)
            return bad("a record after the end");
        std::string kind = line.substr(0, line.find('\t'));
        if (kind == "reg" && line.size() >= 4) {
            s.registry.push_back(line.substr(4));
        } else if (kind == "file") {
            auto f = split(line, 4);
            if (f.size() != 4)
                return bad("a file record without its four fields");
            s.files[upperAscii(f[3])] = { f[3], f[1], f[2] };
        } else if (kind == "service" || kind == "device") {
            auto f = split(line, 5);
            if (f.size() != 5)
                return bad("a service or device record without its five fields");
            if (kind == "service")
                s.services[upperAscii(f[1])] = { f[1], f[2], f[3], f[4] };
            else
                s.devices[upperAscii(f[1])] = { f[1], f[2], f[3], f[4] };
        } else if (kind == "end") {
            ended = true;
            if (line.substr(4) != std::to_string(records))
                return bad("the end record counts another number of records");
            continue;
        } else {
            return bad("not a snapshot record");
        }
        ++records;
    }
    if (!ended) {
        error = file + " is cut short: it has no end record";
        return false;
    }
    return true;
}

// --- the registry, key by key -------------------------------------------

struct RegValue {
    std::string name; // as the export spells it, quotes and all
    std::string text; // its whole entry, continuation lines included
};

struct RegKey {
    std::string path;
    std::vector<std::string> meta; // ";sddl=" and ";class=" lines
    std::vector<RegValue> values;
};

// The name part of a value entry ("@" or a quoted name); case does not count.
std::string valueName(const std::string& entry)
{
    if (entry.empty() || entry[0] == '@')
        return "@";
    size_t pos = 1;
    while (pos < entry.size() && entry[pos] != '"')
        pos += entry[pos] == '\\' ? 2 : 1;
    return entry.substr(0, pos + 1);
}

// Ordered so that a key comes before its subkeys and siblings by name.
struct PathOrder {
    bool operator()(const std::string& a, const std::string& b) const
    {
        std::string x = upperAscii(a), y = upperAscii(b);
        std::replace(x.begin(), x.end(), '\\', '\x01');
        std::replace(y.begin(), y.end(), '\\', '\x01');
        return x < y;
    }
};

std::map<std::string, RegKey, PathOrder> parseExport(const std::vector<std::string>& lines)
{
    std::map<std::string, RegKey, PathOrder> keys;
    RegKey* current = nullptr;
    bool continued = false;
    for (auto& line : lines) {
        if (continued && current && !current->values.empty()) {
            current->values.back().text += "\n" + line;
            continued = !line.empty() && line.back() == '\\';
            continue;
        }
        continued = false;
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            std::string path = line.substr(1, line.size() - 2);
            current = &keys[path];
            current->path = path;
        } else if (current && !line.empty() && line[0] == ';') {
            current->meta.push_back(line);
        } else if (current && !line.empty() && (line[0] == '"' || line[0] == '@')) {
            current->values.push_back({ valueName(line), line });
            continued = line.back() == '\\';
        }
    }
    return keys;
}

const RegValue* findValue(const RegKey& key, const std::string& name)
{
    for (auto& v : key.values)
        if (equalsNoCase(v.name, name))
            return &v;
    return nullptr;
}

// Whether a key lies below one already reported as removed.
bool below(const std::string& path, const std::string& parent)
{
    return !parent.empty() && path.size() > parent.size() && path[parent.size()] == '\\'
        && equalsNoCase(path.substr(0, parent.size()), parent);
}

struct KeyChange {
    enum class Kind { Added, Changed, Removed } kind;
    const RegKey* before; // null for an added key
    const RegKey* after;  // null for a removed key
    bool topOfRemoved { false }; // the first of a removed subtree, which REGEDIT4 names alone
    const std::string& path() const { return after ? after->path : before->path; }
};

bool sameKey(const RegKey& a, const RegKey& b)
{
    if (a.meta != b.meta || a.values.size() != b.values.size())
        return false;
    for (auto& v : a.values) {
        const RegValue* other = findValue(b, v.name);
        if (!other || other->text != v.text)
            return false;
    }
    return true;
}

// Every key that differs, in the order of their paths.
std::vector<KeyChange> keyChanges(const std::map<std::string, RegKey, PathOrder>& old,
    const std::map<std::string, RegKey, PathOrder>& now)
{
    std::map<std::string, bool, PathOrder> paths;
    for (auto& [path, key] : old)
        paths[path] = true;
    for (auto& [path, key] : now)
        paths[path] = true;
    std::vector<KeyChange> out;
    std::string removedTop;
    for (auto& [path, unused] : paths) {
        auto o = old.find(path);
        auto n = now.find(path);
        if (n == now.end()) {
            bool top = !below(path, removedTop);
            if (top)
                removedTop = path;
            out.push_back({ KeyChange::Kind::Removed, &o->second, nullptr, top });
        } else if (o == old.end()) {
            out.push_back({ KeyChange::Kind::Added, nullptr, &n->second });
        } else if (!sameKey(o->second, n->second)) {
            out.push_back({ KeyChange::Kind::Changed, &o->second, &n->second });
        }
    }
    return out;
}

// The changes as REGEDIT4 text, as reg import would take them.
std::string registryText(const std::vector<KeyChange>& changes)
{
    std::string out;
    for (auto& change : changes) {
        if (change.kind == KeyChange::Kind::Removed) {
            if (change.topOfRemoved)
                out += "[-" + change.before->path + "]\n\n";
            continue;
        }
        const RegKey& key = *change.after;
        std::string body;
        if (change.kind == KeyChange::Kind::Added) {
            for (auto& v : key.values)
                body += v.text + "\n";
            out += "[" + key.path + "]\n" + body + "\n";
            continue;
        }
        if (change.before->meta != key.meta) {
            for (auto& m : change.before->meta)
                body += "; was " + m + "\n";
            for (auto& m : key.meta)
                body += m + "\n";
        }
        for (auto& v : key.values) {
            const RegValue* was = findValue(*change.before, v.name);
            if (was && was->text == v.text)
                continue;
            if (was)
                body += "; was " + was->text + "\n";
            body += v.text + "\n";
        }
        for (auto& v : change.before->values)
            if (!findValue(key, v.name))
                body += v.name + "=-\n";
        if (!body.empty())
            out += "[" + key.path + "]\n" + body + "\n";
    }
    return out;
}

// HKEY_LOCAL_MACHINE\X as people write it: HKLM\X.
std::string shortPath(const std::string& path)
{
    for (auto [root, abbreviation] : { std::pair { "HKEY_LOCAL_MACHINE", "HKLM" }, std::pair { "HKEY_USERS", "HKU" } }) {
        std::string r = root;
        if (path.compare(0, r.size(), r) == 0 && (path.size() == r.size() || path[r.size()] == '\\'))
            return abbreviation + path.substr(r.size());
    }
    return path;
}

// A value's data as text: strings as they read, REG_EXPAND_SZ unexpanded,
// REG_MULTI_SZ's strings quoted one after the other, numbers in both bases.
std::string valueText(const RegValue& value, std::string& typeName, std::string* name = nullptr)
{
    registry::RegText parsed;
    std::string error;
    typeName = "?";
    // Names come in UTF-8, string data as the registry keeps it (UTF-16LE).
    auto text = [&](std::string s) {
        while (!s.empty() && s.back() == '\0')
            s.pop_back();
        return s;
    };
    if (!registry::parseRegText("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\X]\n" + value.text + "\n", ansiCodePage(), parsed, error)
        || parsed.keys.empty() || parsed.keys[0].values.empty()) {
        if (name)
            *name = value.name;
        return value.text.substr(value.name.size() + 1);
    }
    const registry::TextValue& v = parsed.keys[0].values[0];
    if (name)
        *name = v.name.empty() ? "(default)" : text(v.name);
    std::string bytes = registry::isStringType(v.type) ? registry::utf8FromStored(v.data) : std::string(v.data.begin(), v.data.end());
    char number[40];
    switch (v.type) {
    case REG_SZ:
        typeName = "REG_SZ";
        return "\"" + text(bytes) + "\"";
    case REG_EXPAND_SZ:
        typeName = "REG_EXPAND_SZ";
        return "\"" + text(bytes) + "\"";
    case REG_MULTI_SZ: {
        typeName = "REG_MULTI_SZ";
        std::string out;
        for (auto& item : setupapi::devreg::splitMultiString(bytes))
            out += (out.empty() ? "\"" : ", \"") + text(item) + "\"";
        return out.empty() ? "(no strings)" : out;
    }
    case REG_DWORD:
        if (v.data.size() == 4) {
            typeName = "REG_DWORD";
            uint32_t d = v.data[0] | v.data[1] << 8 | v.data[2] << 16 | static_cast<uint32_t>(v.data[3]) << 24;
            std::snprintf(number, sizeof number, "0x%08x (%u)", d, d);
            return number;
        }
        break;
    case REG_BINARY:
        typeName = "REG_BINARY";
        break;
    default:
        std::snprintf(number, sizeof number, "type %lu", static_cast<unsigned long>(v.type));
        typeName = number;
        break;
    }
    std::string out;
    for (BYTE b : v.data) {
        std::snprintf(number, sizeof number, "%s%02x", out.empty() ? "" : " ", b);
        out += number;
    }
    return out.empty() ? "(empty)" : out;
}

std::string valueLine(const RegValue& value, const char* indent)
{
    std::string type, name;
    std::string data = valueText(value, type, &name);
    return indent + name + " = " + data + "  [" + type + "]\n";
}

// The changes for a person: each key with its values' data as text.
std::string registryDetails(const std::vector<KeyChange>& changes)
{
    std::string out;
    for (auto& change : changes) {
        switch (change.kind) {
        case KeyChange::Kind::Removed:
            if (change.topOfRemoved)
                out += "  - " + shortPath(change.before->path) + " (with all below it)\n";
            continue;
        case KeyChange::Kind::Added:
            out += "  + " + shortPath(change.after->path) + "\n";
            for (auto& v : change.after->values)
                out += valueLine(v, "      ");
            continue;
        case KeyChange::Kind::Changed:
            out += "  ~ " + shortPath(change.after->path) + "\n";
            if (change.before->meta != change.after->meta)
                out += "      (its security descriptor or class changed)\n";
            for (auto& v : change.after->values) {
                const RegValue* was = findValue(*change.before, v.name);
                if (was && was->text == v.text)
                    continue;
                out += valueLine(v, was ? "    ~ " : "    + ");
                if (was) {
                    std::string type;
                    out += "        was " + valueText(*was, type) + "\n";
                }
            }
            for (auto& v : change.before->values)
                if (!findValue(*change.after, v.name))
                    out += valueLine(v, "    - ");
            continue;
        }
    }
    return out;
}

// The part of the registry a key belongs to, for the summary: its first
// four names (HKLM\SYSTEM\CurrentControlSet\Services).
std::string areaOf(const std::string& path)
{
    size_t at = 0;
    for (int names = 0; names < 4; ++names) {
        at = path.find('\\', at + 1);
        if (at == std::string::npos)
            return shortPath(path);
    }
    return shortPath(path.substr(0, at));
}

struct Counts {
    size_t added { 0 }, changed { 0 }, removed { 0 };
    bool any() const { return added || changed || removed; }
};

std::string countsText(const Counts& c, const char* noun)
{
    std::string out;
    auto part = [&](size_t n, const char* what) {
        if (n)
            out += (out.empty() ? std::to_string(n) + noun : ", " + std::to_string(n)) + " " + what;
    };
    part(c.added, "added");
    part(c.changed, "changed");
    part(c.removed, "removed");
    return out;
}

std::string registrySummary(const std::vector<KeyChange>& changes)
{
    Counts all;
    std::map<std::string, Counts, PathOrder> areas;
    for (auto& change : changes) {
        Counts& area = areas[areaOf(change.path())];
        size_t Counts::*field = change.kind == KeyChange::Kind::Added ? &Counts::added
            : change.kind == KeyChange::Kind::Changed                 ? &Counts::changed
                                                                      : &Counts::removed;
        ++(area.*field);
        ++(all.*field);
    }
    if (!all.any())
        return {};
    std::string out = "  Registry: " + countsText(all, " keys") + "\n";
    for (auto& [area, counts] : areas)
        out += "    " + area + ": " + countsText(counts, "") + "\n";
    return out;
}

// --- files, services, devices ---------------------------------------------

// What changed of one kind of named things: a line each, and their counts.
struct NamedChanges {
    std::string lines;
    Counts counts;
    std::vector<std::string> names; // "+Qzvmdm", "~Serial", "-ROOT\\MODEM\\0000"
};

template<typename T, typename Describe, typename Changed>
NamedChanges namedChanges(const ByName<T>& before, const ByName<T>& after, Describe describe, Changed changed)
{
    NamedChanges out;
    for (auto& [name, entry] : after) {
        auto was = before.find(name);
        if (was == before.end()) {
            out.lines += "  + " + describe(entry) + "\n";
            ++out.counts.added;
            out.names.push_back("+" + nameOf(entry));
        } else if (std::string change = changed(was->second, entry); !change.empty()) {
            out.lines += "  ~ " + change + "\n";
            ++out.counts.changed;
            out.names.push_back("~" + nameOf(entry));
        }
    }
    for (auto& [name, entry] : before) {
        if (!after.count(name)) {
            out.lines += "  - " + describe(entry) + "\n";
            ++out.counts.removed;
            out.names.push_back("-" + nameOf(entry));
        }
    }
    return out;
}

// "Services: 3 added (+Qzvfax +Qzvmdm +Qzvtapi)" for the summary; names only
// while they are few enough to read.
std::string namedSummary(const char* title, const NamedChanges& changes, bool withNames)
{
    if (!changes.counts.any())
        return {};
    std::string out = std::string("  ") + title + ": " + countsText(changes.counts, "");
    if (withNames && changes.names.size() <= 8) {
        std::string names;
        for (auto& n : changes.names)
            names += (names.empty() ? "" : " ") + n;
        out += " (" + names + ")";
    }
    return out + "\n";
}

NamedChanges fileChanges(const Snapshot& before, const Snapshot& after)
{
    return namedChanges(before.files, after.files,
        [](const FileEntry& f) {
            if (f.size == "dir")
                return f.path + "\\ (directory)";
            if (f.size == "link")
                return f.path + " (link)";
            return f.path + " (" + f.size + " bytes)";
        },
        [](const FileEntry& was, const FileEntry& now) -> std::string {
            if (was.size == now.size && was.hash == now.hash)
                return {};
            if (was.size == now.size)
                return now.path + " (" + now.size + " bytes, new contents)";
            return now.path + " (" + was.size + " -> " + now.size + " bytes)";
        });
}

NamedChanges serviceChanges(const Snapshot& before, const Snapshot& after)
{
    return namedChanges(before.services, after.services,
        [](const ServiceEntry& s) { return s.name + " (" + s.type + ", " + s.start + "): " + s.state; },
        [](const ServiceEntry& was, const ServiceEntry& now) -> std::string {
            std::string change;
            if (was.state != now.state)
                change += ": " + was.state + " -> " + now.state;
            if (was.type != now.type || was.start != now.start)
                change += " (" + was.type + ", " + was.start + " -> " + now.type + ", " + now.start + ")";
            return change.empty() ? change : now.name + change;
        });
}

NamedChanges deviceChanges(const Snapshot& before, const Snapshot& after)
{
    return namedChanges(before.devices, after.devices,
        [](const DeviceEntryText& d) { return d.id + " (" + d.className + ": " + d.description + "): " + d.state; },
        [](const DeviceEntryText& was, const DeviceEntryText& now) -> std::string {
            std::string change;
            if (was.description != now.description)
                change += ": \"" + was.description + "\" -> \"" + now.description + "\"";
            if (was.state != now.state)
                change += ": " + was.state + " -> " + now.state;
            return change.empty() ? change : now.id + change;
        });
}

}

Runner defineSnapshot(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto file = std::make_shared<std::string>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("FILE", *file, "Where the snapshot goes (a host path)")->required();
    verb.footer("Records the machine's registry, files, services and devices for ntsim diff DIR --since FILE.");
    return [=] {
        Snapshot snapshot;
        std::string error;
        if (insideMachine(*dir, *file))
            return usageError("snapshot: " + *file + " lies inside the machine it would record");
        if (!takeSnapshot(*dir, snapshot, error) || !writeSnapshot(*file, snapshot, error))
            return failure(error);
        std::printf("snapshot of %s: %zu registry lines, %zu files, %zu services, %zu devices\n", dir->c_str(),
            snapshot.registry.size(), snapshot.files.size(), snapshot.services.size(), snapshot.devices.size());
        return 0;
    };
}

Runner defineDiff(CLI::App& verb)
{
    struct Request {
        std::string dir, since;
        bool summary { false }, details { false }, reg { false };
    };
    auto request = std::make_shared<Request>();
    verb.add_option("DIR", request->dir, "The machine")->required();
    verb.add_option("--since", request->since, "A snapshot of ntsim snapshot")->required();
    verb.add_flag("--summary", request->summary, "Only the counts: registry keys per area, files, services, devices");
    verb.add_flag("--details", request->details,
        "Every change, registry values as text (REG_EXPAND_SZ and REG_MULTI_SZ as their strings)");
    verb.add_flag("--reg", request->reg, "The registry's changes as raw REGEDIT4, as reg import takes them");
    verb.footer("Without an option: the summary, then the details. Each line of the details is + added,\n"
                "- removed or ~ changed; a changed value's old data follows it after \"was\". With --reg the\n"
                "registry comes as REGEDIT4 lines: an added or changed key with its new values, \"; was\" and the\n"
                "old line before a changed value, \"name\"=- for a removed value and [-key] for a removed key and\n"
                "all below it; files, services and devices follow as in the details.");
    return [=] {
        const Request& r = *request;
        Snapshot before, after;
        std::string error;
        if (!readSnapshot(r.since, before, error) || !takeSnapshot(r.dir, after, error))
            return failure(error);
        // The changes point into both exports' keys, which live as long.
        auto oldKeys = parseExport(before.registry);
        auto newKeys = parseExport(after.registry);
        std::vector<KeyChange> keys = keyChanges(oldKeys, newKeys);
        NamedChanges files = fileChanges(before, after);
        NamedChanges services = serviceChanges(before, after);
        NamedChanges devices = deviceChanges(before, after);
        if (keys.empty() && !files.counts.any() && !services.counts.any() && !devices.counts.any()) {
            std::printf("No changes since %s.\n", r.since.c_str());
            return 0;
        }
        bool summary = r.summary || (!r.details && !r.reg);
        bool details = r.details || (!r.summary && !r.reg);
        std::vector<std::pair<std::string, std::string>> sections;
        if (summary)
            sections.emplace_back("Summary of the changes since " + r.since + ":\n",
                registrySummary(keys) + namedSummary("Files", files, false) + namedSummary("Services", services, true)
                    + namedSummary("Devices", devices, true));
        if (details)
            sections.emplace_back("Registry:\n", registryDetails(keys));
        if (r.reg)
            sections.emplace_back("Registry:\nREGEDIT4\n\n", registryText(keys));
        if (details || r.reg) {
            sections.emplace_back("Files:\n", files.lines);
            sections.emplace_back("Services:\n", services.lines);
            sections.emplace_back("Devices:\n", devices.lines);
        }
        bool any = false;
        for (auto& [title, body] : sections) {
            if (body.empty())
                continue;
            std::printf("%s%s%s", any ? "\n" : "", title.c_str(), body.c_str());
            any = true;
        }
        return 0;
    };
}

}
