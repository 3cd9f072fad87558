// ntsim snapshot DIR FILE and ntsim diff DIR --since FILE: what a run
// changed, as people read it. The registry side is `reg export`'s text,
// compared key by key and value by value; files, services and devices
// are compared by name.
//
// A snapshot file is text: the line "NTSIM SNAPSHOT 1", then one record a
// line, its fields separated by tabs:
//   reg    <a line of the registry export>
//   file   <size or "dir">  <content hash>  <NT path>
//   service <name>  <state>  <type>  <start type>
//   device <instance id>  <class>  <state>  <description>
#include "Commands.h"
#include "Devcon.h"

#include "registry/Key.h"
#include "advapi32/ScmRunState.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"
#include "machine/Process.h"

#include <CLI/CLI.hpp>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace ntsim {

namespace {

constexpr char Header[] = "NTSIM SNAPSHOT 1";

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
    if (!writeFileAtomically(file, out.str())) {
        error = "cannot write " + file;
        return false;
    }
    return true;
}

bool readSnapshot(const std::string& file, Snapshot& s, std::string& error)
{
    std::string text;
    if (!readWholeFile(file, text)) {
        error = "cannot read " + file;
        return false;
    }
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != Header) {
        error = file + " is not a snapshot of ntsim (it does not begin with \"" + Header + "\")";
        return false;
    }
    unsigned number = 1;
    while (std::getline(in, line)) {
        ++number;
        std::string kind = line.substr(0, line.find('\t'));
        if (kind == "reg" && line.size() >= 4) {
            s.registry.push_back(line.substr(4));
        } else if (kind == "file") {
            auto f = split(line, 4);
            if (f.size() == 4)
                s.files[upperAscii(f[3])] = { f[3], f[1], f[2] };
        } else if (kind == "service") {
            auto f = split(line, 5);
            if (f.size() == 5)
                s.services[upperAscii(f[1])] = { f[1], f[2], f[3], f[4] };
        } else if (kind == "device") {
            auto f = split(line, 5);
            if (f.size() == 5)
                s.devices[upperAscii(f[1])] = { f[1], f[2], f[3], f[4] };
        } else {
            error = file + ":" + std::to_string(number) + ": not a snapshot record";
            return false;
        }
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

std::string registryChanges(const Snapshot& before, const Snapshot& after)
{
    auto old = parseExport(before.registry);
    auto now = parseExport(after.registry);
    std::map<std::string, bool, PathOrder> paths;
    for (auto& [path, key] : old)
        paths[path] = true;
    for (auto& [path, key] : now)
        paths[path] = true;
    std::string out, removedTop;
    for (auto& [path, unused] : paths) {
        auto o = old.find(path);
        auto n = now.find(path);
        if (n == now.end()) {
            if (!below(path, removedTop)) {
                out += "[-" + o->second.path + "]\n\n";
                removedTop = path;
            }
            continue;
        }
        const RegKey& key = n->second;
        std::string body;
        if (o == old.end()) {
            for (auto& v : key.values)
                body += v.text + "\n";
            out += "[" + key.path + "]\n" + body + "\n";
            continue;
        }
        if (o->second.meta != key.meta) {
            for (auto& m : o->second.meta)
                body += "; was " + m + "\n";
            for (auto& m : key.meta)
                body += m + "\n";
        }
        for (auto& v : key.values) {
            const RegValue* was = findValue(o->second, v.name);
            if (was && was->text == v.text)
                continue;
            if (was)
                body += "; was " + was->text + "\n";
            body += v.text + "\n";
        }
        for (auto& v : o->second.values)
            if (!findValue(key, v.name))
                body += v.name + "=-\n";
        if (!body.empty())
            out += "[" + key.path + "]\n" + body + "\n";
    }
    return out;
}

// --- files, services, devices ---------------------------------------------

template<typename T, typename Describe, typename Changed>
std::string namedChanges(const ByName<T>& before, const ByName<T>& after, Describe describe, Changed changed)
{
    std::string out;
    for (auto& [name, entry] : after) {
        auto was = before.find(name);
        if (was == before.end())
            out += "  + " + describe(entry) + "\n";
        else if (std::string change = changed(was->second, entry); !change.empty())
            out += "  ~ " + change + "\n";
    }
    for (auto& [name, entry] : before)
        if (!after.count(name))
            out += "  - " + describe(entry) + "\n";
    return out;
}

std::string fileChanges(const Snapshot& before, const Snapshot& after)
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

std::string serviceChanges(const Snapshot& before, const Snapshot& after)
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

std::string deviceChanges(const Snapshot& before, const Snapshot& after)
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
        if (!takeSnapshot(*dir, snapshot, error) || !writeSnapshot(*file, snapshot, error))
            return failure(error);
        std::printf("snapshot of %s: %zu registry lines, %zu files, %zu services, %zu devices\n", dir->c_str(),
            snapshot.registry.size(), snapshot.files.size(), snapshot.services.size(), snapshot.devices.size());
        return 0;
    };
}

Runner defineDiff(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto since = std::make_shared<std::string>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("--since", *since, "A snapshot of ntsim snapshot")->required();
    verb.footer("Registry keys and values come as REGEDIT4 lines: an added or changed key with its new values,\n"
                "\"; was\" and the old line before a changed value, \"name\"=- for a removed value and [-key] for a\n"
                "removed key and all below it. Files under C:\\, services and devices follow, each line + added,\n"
                "- removed or ~ changed.");
    return [=] {
        Snapshot before, after;
        std::string error;
        if (!readSnapshot(*since, before, error) || !takeSnapshot(*dir, after, error))
            return failure(error);
        const std::pair<const char*, std::string> sections[] = {
            { "Registry:\nREGEDIT4\n\n", registryChanges(before, after) },
            { "Files:\n", fileChanges(before, after) },
            { "Services:\n", serviceChanges(before, after) },
            { "Devices:\n", deviceChanges(before, after) },
        };
        bool any = false;
        for (auto& [title, body] : sections) {
            if (body.empty())
                continue;
            std::printf("%s%s%s", any ? "\n" : "", title, body.c_str());
            any = true;
        }
        if (!any)
            std::printf("No changes since %s.\n", since->c_str());
        return 0;
    };
}

}
