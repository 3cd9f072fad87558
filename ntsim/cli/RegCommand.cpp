// ntsim reg: the registry of a machine as REGEDIT4 text and SDDL.
#include "Commands.h"

#include "advapi32/RegistryStore.h"
#include "advapi32/RegistryText.h"
#include "machine/FileLock.h"
#include "machine/Machine.h"
#include "machine/NtPath.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

namespace ntsim {

namespace {

using registry::Key;
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

bool openRegistry(const std::string& dir, std::string& registryDir)
{
    Machine machine;
    std::string error;
    if (!Machine::open(dir, machine, error)) {
        usageError(error);
        return false;
    }
    registryDir = machine.registryDir();
    return true;
}

int exportKey(const std::string& dir, const std::string& keyPath, bool sddlOnly)
{
    std::string registryDir;
    if (!openRegistry(dir, registryDir))
        return 1;
    Store store(registryDir);
    std::string text;
    LONG result = store.read([&]() -> LONG {
        auto key = store.find(fullKeyPath(keyPath));
        if (!key)
            return ERROR_FILE_NOT_FOUND;
        text = sddlOnly ? key->security.toSddl() + "\n" : "REGEDIT4\n\n" + registry::formatSubtree(*key);
        return ERROR_SUCCESS;
    });
    if (result == ERROR_FILE_NOT_FOUND) {
        std::fprintf(stderr, "ntsim: no key %s\n", keyPath.c_str());
        return 1;
    }
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr, "ntsim: cannot read the registry of %s\n", dir.c_str());
        return 1;
    }
    std::fputs(text.c_str(), stdout);
    return 0;
}

void deleteTree(Store& store, Key& key)
{
    while (!key.subkeys().empty()) {
        auto sub = key.subkeys().front();
        deleteTree(store, *sub);
    }
    store.deleteKey(key);
}

int importFile(const std::string& dir, const std::string& file)
{
    std::string registryDir;
    if (!openRegistry(dir, registryDir))
        return 1;
    std::string text, error;
    registry::RegText parsed;
    if (!readWholeFile(file, text)) {
        std::fprintf(stderr, "ntsim: cannot read %s\n", file.c_str());
        return 1;
    }
    if (!registry::parseRegText(text, parsed, error)) {
        std::fprintf(stderr, "ntsim: %s: %s\n", file.c_str(), error.c_str());
        return 1;
    }
    Store store(registryDir);
    Token system = Token::system();
    LONG result = store.write([&]() -> LONG {
        for (auto& textKey : parsed.keys) {
            std::string path = fullKeyPath(textKey.path);
            auto names = registry::splitKeyPath(path);
            if (names.empty() || !store.root(names[0])) {
                error = "no root key in " + textKey.path;
                return ERROR_BAD_PATHNAME;
            }
            auto key = store.root(names[0]);
            if (textKey.remove) {
                auto existing = store.find(path);
                if (existing && store.inHive(*existing) && !store.isHiveRoot(*existing))
                    deleteTree(store, *existing);
                continue;
            }
            for (size_t i = 1; i < names.size(); ++i) {
                auto next = key->subkey(names[i]);
                if (!next) {
                    if (!store.inHive(*key)) {
                        error = textKey.path + " is not in a hive of the machine";
                        return ERROR_ACCESS_DENIED;
                    }
                    next = store.createKey(*key, names[i], security::inheritedDescriptor(key->security, system), "");
                }
                key = next;
            }
            if (!store.inHive(*key)) {
                error = textKey.path + " is not in a hive of the machine";
                return ERROR_ACCESS_DENIED;
            }
            if (textKey.sddl) {
                auto sd = security::SecurityDescriptor::fromSddl(*textKey.sddl);
                if (!sd) {
                    error = textKey.path + ": bad descriptor " + *textKey.sddl;
                    return ERROR_INVALID_SECURITY_DESCR;
                }
                store.setSecurity(*key, *sd);
            }
            for (auto& v : textKey.values) {
                if (v.remove) {
                    if (key->value(v.name))
                        store.deleteValue(*key, v.name);
                } else {
                    store.setValue(*key, v.name, v.type, v.data);
                }
            }
        }
        return ERROR_SUCCESS;
    });
    if (result != ERROR_SUCCESS) {
        std::fprintf(stderr, "ntsim: %s: %s\n", file.c_str(), error.empty() ? "cannot write the registry" : error.c_str());
        return 1;
    }
    return 0;
}

}

Runner defineReg(CLI::App& verb)
{
    verb.require_subcommand(1);
    auto dir = std::make_shared<std::string>();
    auto argument = std::make_shared<std::string>();
    CLI::App* exportVerb = verb.add_subcommand("export", "Print a key and its subtree as REGEDIT4 text, with each key's SDDL");
    CLI::App* sddlVerb = verb.add_subcommand("sddl", "Print a key's security descriptor as SDDL");
    CLI::App* importVerb = verb.add_subcommand("import", "Load a REGEDIT4 file (as reg export writes it) into the registry");
    for (CLI::App* sub : { exportVerb, sddlVerb }) {
        sub->add_option("DIR", *dir, "The machine")->required();
        sub->add_option("KEY", *argument, "The key: HKLM\\..., HKU\\..., HKCR\\... or the long root names")->required();
    }
    importVerb->add_option("DIR", *dir, "The machine")->required();
    importVerb->add_option("FILE", *argument, "The REGEDIT4 file")->required();
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
