#include "HandleTable.h"

namespace ntsim {

namespace {

struct Counters {
    std::mutex mutex;
    unsigned next { 1 };
    std::map<unsigned, HandleCounter> counters;
};

Counters& counters()
{
    static auto* instance = new Counters; // counted at exit, after static destructors
    return *instance;
}

}

unsigned addHandleCounter(HandleCounter counter)
{
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    unsigned token = c.next++;
    c.counters.emplace(token, std::move(counter));
    return token;
}

void removeHandleCounter(unsigned token)
{
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    c.counters.erase(token);
}

HandleCounts countOpenHandles()
{
    HandleCounts counts;
    Counters& c = counters();
    std::lock_guard lock(c.mutex);
    for (auto& [token, counter] : c.counters)
        counter(counts);
    for (auto it = counts.begin(); it != counts.end();) {
        if (it->second == 0)
            it = counts.erase(it);
        else
            ++it;
    }
    return counts;
}

}
