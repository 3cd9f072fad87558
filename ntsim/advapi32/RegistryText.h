// REGEDIT4 text: the form of the hive files, of `ntsim reg export` and of
// the files `ntsim reg import` loads. A key's descriptor rides along as a
// ";sddl=" comment line right after the key's header.
#pragma once
#include "RegistryTree.h"

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
    std::vector<std::pair<std::string, std::string>> header; // ";ntsim-hive name=value ..."
    std::vector<TextKey> keys;
};

bool parseRegText(const std::string& text, RegText& out, std::string& error);

// One key: its header, its ";sddl=" line and its values.
std::string formatKey(const Key& key);
// The key and everything below it, parents before children.
std::string formatSubtree(const Key& key);

}
