#include "Watch.h"

#include "ChangeCounter.h"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace ntsim::registry {

namespace {

constexpr auto pollInterval = std::chrono::milliseconds(2);

struct WatchEntry {
    std::shared_ptr<ChangeCounter> log;
    HKEY handle;
    int64_t key;
    bool subtree;
    DWORD filter;
    uint64_t seen;
    std::function<void()> notify;

    bool wakesFor(const KeyChange& change) const
    {
        if (change.key != key || (!change.direct && !subtree))
            return false;
        return (change.filter & filter) || (change.direct && (change.filter & keyDeleted));
    }
};

// The process's watches and the thread that follows the log for them;
// made once and never freed, since the thread may outlive static objects.
class Watcher {
public:
    void add(WatchEntry watch)
    {
        watch.log->addWatcher();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watches.push_back(std::move(watch));
        if (!m_running) {
            m_running = true;
            std::thread([this] { follow(); }).detach();
        }
        m_wake.notify_one();
    }

    void end(HKEY handle)
    {
        std::vector<WatchEntry> ended;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            for (auto it = m_watches.begin(); it != m_watches.end();) {
                if (it->handle == handle) {
                    ended.push_back(std::move(*it));
                    it = m_watches.erase(it);
                } else {
                    ++it;
                }
            }
        }
        tell(ended);
    }

    // A child of fork has no thread and holds no handle of its parent.
    void forgetAfterFork()
    {
        new (&m_mutex) std::mutex();
        new (&m_wake) std::condition_variable();
        m_watches.clear();
        m_running = false;
    }

private:
    static void tell(std::vector<WatchEntry>& done)
    {
        for (auto& watch : done) {
            watch.log->removeWatcher();
            watch.notify();
        }
    }

    void follow()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            if (m_watches.empty())
                m_wake.wait(lock, [this] { return !m_watches.empty(); });
            m_wake.wait_for(lock, pollInterval);
            std::vector<WatchEntry> woken = takeWoken();
            lock.unlock();
            tell(woken);
            lock.lock();
        }
    }

    // The watches the log says changed; those the log lost track of too.
    std::vector<WatchEntry> takeWoken()
    {
        std::vector<WatchEntry> woken;
        for (auto it = m_watches.begin(); it != m_watches.end();) {
            bool wake = false;
            uint64_t last = it->seen;
            bool whole = it->log->changesSince(it->seen, last, [&](const KeyChange& change) {
                wake = wake || it->wakesFor(change);
            });
            it->seen = last;
            if (wake || !whole) {
                woken.push_back(std::move(*it));
                it = m_watches.erase(it);
            } else {
                ++it;
            }
        }
        return woken;
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::list<WatchEntry> m_watches;
    bool m_running { false };
};

Watcher& watcher()
{
    static Watcher* instance = [] {
        auto* w = new Watcher();
        pthread_atfork(nullptr, nullptr, [] { watcher().forgetAfterFork(); });
        return w;
    }();
    return *instance;
}

// Whether this process ever set a watch: a key's close costs nothing more
// in one that did not.
std::atomic<bool> watchedOnce { false };

}

void addWatch(std::shared_ptr<ChangeCounter> log, HKEY handle, int64_t key, bool subtree, DWORD filter, uint64_t since,
    std::function<void()> notify)
{
    watchedOnce = true;
    watcher().add(WatchEntry { std::move(log), handle, key, subtree, filter, since, std::move(notify) });
}

void endWatches(HKEY handle)
{
    if (watchedOnce)
        watcher().end(handle);
}

}
