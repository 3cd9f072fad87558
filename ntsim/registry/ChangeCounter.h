// The machine's count of registry write transactions, begun and ended, and
// while some process watches keys (RegNotifyChangeKeyValue) a log of what
// the writes changed: a small file beside the database (registry.db-writes)
// that every process of the machine maps.
//
// A reader that sees the counts equal and unchanged since its last look
// knows that nothing was written in between, so it may answer from what it
// read before (ReadCache.h). Writers take the file's lock around their
// transaction, which also makes them one at a time before SQLite's own
// lock; counts a killed writer left unequal are mended by the next writer,
// which holds the lock and so knows that nobody else is between its two
// counts. The log is a ring of the last changes, each stamped with its
// number; a watcher that fell further behind than the ring holds can only
// tell that it missed something.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace ntsim::registry {

// One change of a key, as RegNotifyChangeKeyValue's filter names them
// (REG_NOTIFY_CHANGE_*, or keyDeleted); direct when it happened to the key
// itself, not below it.
struct KeyChange {
    int64_t key { 0 };
    uint32_t filter { 0 };
    bool direct { true };
};

constexpr uint32_t keyDeleted = 0x80000000;

class ChangeCounter {
public:
    // Maps the file, creating or growing it; null with the error told.
    static std::shared_ptr<ChangeCounter> open(const std::string& path, std::string& error);
    ~ChangeCounter();
    ChangeCounter(const ChangeCounter&) = delete;
    ChangeCounter& operator=(const ChangeCounter&) = delete;

    uint64_t begun() const;
    uint64_t ended() const;

    // Takes the writers' lock, waiting at most timeoutMs, and counts the
    // write as begun.
    bool beginWrite(int timeoutMs);
    // Counts it as ended and lets the lock go.
    void endWrite();

    // Whether some process of the machine watches keys: only then do
    // writers log their changes.
    bool watched() const;
    void addWatcher();
    void removeWatcher();

    // The number of the last change logged.
    uint64_t head() const;
    // Logs changes; only between beginWrite and endWrite.
    void log(const std::vector<KeyChange>& changes);
    // Hands each change after since to seen, in order, and returns the
    // number of the last; false when the ring no longer holds them all.
    bool changesSince(uint64_t since, uint64_t& last, const std::function<void(const KeyChange&)>& seen) const;

private:
    struct Layout;

    ChangeCounter(int fd, Layout* layout);

    int m_fd;
    Layout* m_layout;
};

}
