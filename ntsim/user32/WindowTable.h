// The machine's table of windows in the run store: every process's
// windows, newest first, so that processes can find, enumerate and address
// each other's windows. Handles are drawn from it, unique across the
// machine. The windows of a process that ended without taking them off
// (killed) go when a listing or a lookup meets them.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ntsim::user32 {

struct WindowEntry {
    uint64_t handle { 0 };
    uint64_t parent { 0 }; // 0 for a top-level window
    int pid { 0 };
    int tid { 0 };
    uint64_t processStart { 0 }; // tells a reused pid from the owner
    std::string title;           // ANSI text of the machine's code page
    std::string className;
};

class WindowTable {
public:
    static uint64_t newHandle();
    static void add(const WindowEntry& entry);
    static void remove(uint64_t handle);
    static void removeProcess(int pid);
    static void setTitle(uint64_t handle, const std::string& title);

    // Entries of living processes, newest first.
    static std::vector<WindowEntry> list();
    static std::optional<WindowEntry> find(uint64_t handle);
};

int currentThreadId();

}
