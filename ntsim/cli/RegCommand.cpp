// ntsim reg: the registry of a machine as REGEDIT4 text and SDDL.
#include "Commands.h"

#include "registry/Text.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace ntsim {

namespace {

using registry::Store;

// Full root names for the short ones people type.
std::string fullKeyPath(const std::string& path)
{
    static const std::pair<const char*, const char*> roots[] = {
        { "HKLM", "HKEY_LOCAL_MACHINE" },
        { "HKU", "HKEY_USERS" },
        { "HKCR", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes" },
        { "HKEY_CLASSES_ROOT", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes" },
    };
    size_t slash = path.find('\\');
    std::string first = path.substr(0, slash);
    for (auto& [shortName, longName] : roots)
        if (equalsNoCase(first, shortName))
            return longName + (slash == std::string::npos ? std::string() : path.substr(slash));
    return path;
}

// A registry file larger than this is refused rather than read whole.
constexpr size_t maxImportSize = 64 * 1024 * 1024;

std::unique_ptr<Store> openRegistry(const std::string& dir, unsigned& ansiCodePage, std::string& error)
{
    Machine machine;
    if (!Machine::open(dir, machine, error))
        return nullptr;
    ansiCodePage = machine.config().codePage;
    return Store::open(machine.registryDir(), ansiCodePage, error);
}

// The export of a key handed to out a part at a time, or only its
// descriptor; false with the error told.
bool exportTo(const std::string& dir, const std::string& keyPath, bool sddlOnly,
    const std::function<void(const std::string&)>& out, std::string& error)
{
    unsigned ansiCodePage = 0;
    auto store = openRegistry(dir, ansiCodePage, error);
    if (!store)
        return false;
    bool found = false;
    LONG result = store->read([&]() -> LONG {
        auto key = store->find(fullKeyPath(keyPath));
        if (!key)
            return ERROR_SUCCESS;
        found = true;
        if (sddlOnly) {
            out(key->security->toSddl() + "\n");
            return ERROR_SUCCESS;
        }
        out("REGEDIT4\n\n");
        registry::exportSubtree(*store, *key, out);
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS)
        error = "cannot read the registry " + store->file() + " (error " + std::to_string(result) + ")";
    else if (!found)
        error = "no key " + keyPath;
    return result == ERROR_SUCCESS && found;
}

int exportKey(const std::string& dir, const std::string& keyPath, bool sddlOnly)
{
    std::string error;
    bool written = exportTo(dir, keyPath, sddlOnly, [](const std::string& part) { std::fputs(part.c_str(), stdout); }, error);
    if (!written)
        return failure(error);
    return std::fflush(stdout) == 0 ? 0 : failure("cannot write the export");
}

// Reads at most limit bytes; more is an error, so that an endless input
// (a device, a pipe that never ends) is refused early.
bool readBounded(const std::string& file, size_t limit, std::string& text, std::string& error)
{
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    text.clear();
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = "cannot read " + file + ": " + std::strerror(errno);
            break;
        }
        if (n == 0)
            break;
        if (text.size() + static_cast<size_t>(n) > limit) {
            error = file + ": larger than " + std::to_string(limit / (1024 * 1024)) + " MB, the most reg import loads";
            break;
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return error.empty();
}

int importFile(const std::string& dir, const std::string& file)
{
    std::string error;
    unsigned ansiCodePage = 0;
    auto store = openRegistry(dir, ansiCodePage, error);
    if (!store)
        return failure(error);
    std::string text;
    registry::RegText parsed;
    if (!readBounded(file, maxImportSize, text, error))
        return failure(error);
    if (!registry::parseRegText(text, ansiCodePage, parsed, error))
        return failure(file + ": " + error);
    text.clear();
    LONG result = store->write([&]() -> LONG {
        return registry::importText(*store, parsed, registry::ImportAs::Administrator, error);
    });
    if (result != ERROR_SUCCESS)
        return failure(file + ": " + (error.empty() ? "cannot write the registry (error " + std::to_string(result) + ")" : error));
    return 0;
}

}

bool exportRegistryText(const std::string& dir, const std::string& keyPath, bool sddlOnly, std::string& text,
    std::string& error)
{
    text.clear();
    return exportTo(dir, keyPath, sddlOnly, [&](const std::string& part) { text += part; }, error);
}

Runner defineReg(CLI::App& verb)
{
    verb.require_subcommand(1);
    auto dir = std::make_shared<std::string>();
    auto argument = std::make_shared<std::string>();
    CLI::App* exportVerb = verb.add_subcommand("export", "Print a key and its subtree as REGEDIT4 text, with each key's SDDL");
    CLI::App* sddlVerb = verb.add_subcommand("sddl", "Print a key's security descriptor as SDDL");
    CLI::App* importVerb = verb.add_subcommand("import",
        "Load a REGEDIT4 file (as reg export writes it) into the registry, as the machine's system account");
    for (CLI::App* sub : { exportVerb, sddlVerb }) {
        sub->add_option("DIR", *dir, "The machine")->required();
        sub->add_option("KEY", *argument, "The key: HKLM\\..., HKU\\..., HKCR\\... or the long root names")->required();
    }
    importVerb->add_option("DIR", *dir, "The machine")->required();
    importVerb->add_option("FILE", *argument, "The REGEDIT4 file, at most 64 MB")->required();
    importVerb->footer("The import acts as an administrator loading a hive: as the machine's system account, offline,\n"
                       "past the access checks, whatever user the machine has at the keyboard. It may create and\n"
                       "delete keys inside the hives (not new hives), set values and replace descriptors (;sddl=).\n"
                       "It is one transaction: a file with an error changes nothing.");
    verb.footer("Keys are named as in regedit: HKLM\\SYSTEM\\CurrentControlSet\\Services, HKU\\.DEFAULT, ...");
    return [=] {
        if (exportVerb->parsed())
            return exportKey(*dir, *argument, false);
        if (sddlVerb->parsed())
            return exportKey(*dir, *argument, true);
        return importFile(*dir, *argument);
    };
}

}
