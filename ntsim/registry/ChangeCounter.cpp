#include "ChangeCounter.h"

#include "machine/FileLock.h"

#include <sys/file.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace ntsim::registry {

namespace {

constexpr size_t ringSize = 1024;

struct Entry {
    uint64_t number;
    int64_t key;
    uint32_t filter;
    uint32_t direct;
};

uint64_t load(const uint64_t& value)
{
    return __atomic_load_n(&value, __ATOMIC_ACQUIRE);
}

void store(uint64_t& value, uint64_t to)
{
    __atomic_store_n(&value, to, __ATOMIC_RELEASE);
}

}

// The file as every process maps it; the first two counts are where the
// first version of the file had them.
struct ChangeCounter::Layout {
    uint64_t begun;
    uint64_t ended;
    uint64_t watchers;
    uint64_t head;
    Entry ring[ringSize];
};

std::shared_ptr<ChangeCounter> ChangeCounter::open(const std::string& path, std::string& error)
{
    int fd = -1;
    void* map = mapSharedFile(path, sizeof(Layout), "file of write counts", fd, error);
    if (!map)
        return nullptr;
    return std::shared_ptr<ChangeCounter>(new ChangeCounter(fd, static_cast<Layout*>(map)));
}

ChangeCounter::ChangeCounter(int fd, Layout* layout)
    : m_fd(fd)
    , m_layout(layout)
{
}

ChangeCounter::~ChangeCounter()
{
    munmap(m_layout, sizeof(Layout));
    ::close(m_fd);
}

uint64_t ChangeCounter::begun() const
{
    return load(m_layout->begun);
}

uint64_t ChangeCounter::ended() const
{
    return load(m_layout->ended);
}

bool ChangeCounter::beginWrite(int timeoutMs)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (ended() != begun())
        store(m_layout->ended, begun());
    __atomic_add_fetch(&m_layout->begun, 1, __ATOMIC_ACQ_REL);
    return true;
}

void ChangeCounter::endWrite()
{
    __atomic_add_fetch(&m_layout->ended, 1, __ATOMIC_ACQ_REL);
    flock(m_fd, LOCK_UN);
}

bool ChangeCounter::watched() const
{
    return load(m_layout->watchers) != 0;
}

void ChangeCounter::addWatcher()
{
    __atomic_add_fetch(&m_layout->watchers, 1, __ATOMIC_ACQ_REL);
}

void ChangeCounter::removeWatcher()
{
    uint64_t count = load(m_layout->watchers);
    while (count && !__atomic_compare_exchange_n(&m_layout->watchers, &count, count - 1, false, __ATOMIC_ACQ_REL,
               __ATOMIC_ACQUIRE)) {
    }
}

uint64_t ChangeCounter::head() const
{
    return load(m_layout->head);
}

void ChangeCounter::log(const std::vector<KeyChange>& changes)
{
    uint64_t number = head();
    for (const KeyChange& change : changes) {
        Entry& entry = m_layout->ring[++number % ringSize];
        store(entry.number, 0);
        entry.key = change.key;
        entry.filter = change.filter;
        entry.direct = change.direct;
        store(entry.number, number);
    }
    store(m_layout->head, number);
}

bool ChangeCounter::changesSince(uint64_t since, uint64_t& last, const std::function<void(const KeyChange&)>& seen) const
{
    last = head();
    if (last - since > ringSize)
        return false;
    for (uint64_t number = since + 1; number <= last; ++number) {
        const Entry& entry = m_layout->ring[number % ringSize];
        if (load(entry.number) != number)
            return false;
        KeyChange change { entry.key, entry.filter, entry.direct != 0 };
        // A writer that came round the ring meanwhile overwrote it.
        if (load(entry.number) != number)
            return false;
        seen(change);
    }
    return true;
}

}
