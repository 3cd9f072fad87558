// The simulator's floors (docs/architecture.md): a folder includes only
// its own floor or a lower one, so calls run down and never in a circle.
#include "support/TestMachine.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <map>
#include <regex>

namespace {

// Low to high; folders of one floor do not include each other.
const std::map<std::string, int> floors = {
    { "machine", 0 },
    { "desk", 1 },
    { "registry", 1 },
    { "kernel32", 2 },
    { "advapi32", 3 },
    { "user32", 4 },
    { "setupapi", 5 },
    { "comctl32", 5 },
    { "shell32", 6 },
    { "crt", 7 },
    { "programs", 7 },
    { "cli", 7 },
};

std::vector<std::string> sourcesOf(const std::string& dir)
{
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 2 && (name.substr(name.size() - 2) == ".h" || name.substr(name.size() - 4) == ".cpp"))
                out.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return out;
}

}

TEST(Floors, NoFolderOfTheSimulatorIncludesAHigherFloorOrAPeer)
{
    const std::regex include(R"re(^\s*#\s*include\s+"(\.\./)?([a-z0-9]+)/[^"]+")re");
    size_t checked = 0;
    for (auto& [folder, floor] : floors) {
        auto files = sourcesOf(test::sourceDir() + "/ntsim/" + folder);
        EXPECT_FALSE(files.empty()) << folder;
        for (auto& file : files) {
            std::ifstream in(file);
            std::string line;
            while (std::getline(in, line)) {
                std::smatch m;
                if (!std::regex_search(line, m, include))
                    continue;
                std::string target = m[2];
                auto it = floors.find(target);
                if (it == floors.end() || target == folder)
                    continue;
                ++checked;
                EXPECT_LT(it->second, floor) << file << " includes " << target << ": " << line;
            }
        }
    }
    EXPECT_GT(checked, 50u);
}
