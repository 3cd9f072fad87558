// REGEDIT4 text: the form of the default machine's hives in the
// repository, of `ntsim reg export` and of the files `ntsim reg import`
// loads. A key's descriptor rides along as a ";sddl=" comment line right
// after the key's header, its class as ";class=".
//
// The text is UTF-8, so that every name and string the registry keeps in
// UTF-16 comes through: string data is written as text, quoted or, for the
// other string types, as its UTF-8 bytes in hex. String data UTF-8 cannot
// carry (an odd byte, a lone surrogate) is written after a ";stored" line
// as the bytes the registry keeps. A file that is not UTF-8 is read in the
// machine's ANSI code page, as regedit's REGEDIT4 files are.
#pragma once
#include "Store.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::registry {

struct TextValue {
    std::string name;
    bool remove { false }; // "name"=-
    DWORD type { REG_NONE };
    std::vector<BYTE> data;
};

struct TextKey {
    std::string path;
    bool remove { false }; // [-path]
    std::optional<std::string> sddl;
    std::string className;
    std::vector<TextValue> values;
};

struct RegText {
    std::vector<TextKey> keys;
};

// Names in UTF-8 and string data in UTF-16LE, as the store keeps them.
bool parseRegText(const std::string& text, unsigned ansiCodePage, RegText& out, std::string& error);

// The key and everything below it, parents before children, each key its
// header, descriptor, class and values, handed to out a key at a time.
// A name REGEDIT4 cannot carry (one with a control character) is written
// as a comment saying so, with nothing below it: it is never written as
// text that reads back as another key.
void exportSubtree(Store& store, const KeyRecord& key, const std::function<void(const std::string&)>& out);
std::string exportSubtree(Store& store, const KeyRecord& key);

// How a text's keys become keys of the store.
enum class ImportAs {
    // `ntsim reg import`: the machine's system account, offline, past the
    // access checks; only inside the hives there are.
    Administrator,
    // `ntsim new`: the text makes the hives; a key without a descriptor
    // takes its parent's inheritable entries and owner.
    DefaultMachine,
};

// Loads the text inside the store's open write transaction.
LONG importText(Store& store, const RegText& text, ImportAs as, std::string& error);

}
