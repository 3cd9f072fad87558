// The watches RegNotifyChangeKeyValue sets in this process. A thread of
// the process follows the machine's change log (ChangeCounter.h) while it
// has watches, and tells each watch once, when its key changes as its
// filter says, when the key is deleted or when the handle it was set on is
// closed. Another process's change reaches it within a few milliseconds.
#pragma once
#include <windows.h>

#include <cstdint>
#include <functional>
#include <memory>

namespace ntsim::registry {

class ChangeCounter;

void addWatch(std::shared_ptr<ChangeCounter> log, HKEY handle, int64_t key, bool subtree, DWORD filter, uint64_t since,
    std::function<void()> notify);
// The handle is closed: its watches are told and end.
void endWatches(HKEY handle);

}
