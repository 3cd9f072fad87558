#include "Faults.h"

#include "Machine.h"
#include "RunStore.h"

namespace ntsim {

bool faultsName(const char* api)
{
    for (auto& f : Machine::current().config().faults)
        if (f.api == api)
            return true;
    return false;
}

unsigned countCall(const char* api)
{
    RunStore::Transaction transaction;
    RunStore::Query count(transaction, "INSERT INTO call_count (api, calls) VALUES (?1, 1) "
                                       "ON CONFLICT (api) DO UPDATE SET calls = calls + 1 RETURNING calls");
    count.bind(api);
    return count.next() ? static_cast<unsigned>(count.integer(0)) : 0;
}

unsigned countedCalls(RunStore& store, const std::string& api)
{
    RunStore::Transaction transaction(store);
    RunStore::Query count(transaction, "SELECT calls FROM call_count WHERE api = ?1");
    count.bind(api);
    return count.next() ? static_cast<unsigned>(count.integer(0)) : 0;
}

void resetCallCount(RunStore& store, const std::string& api)
{
    RunStore::Transaction transaction(store);
    RunStore::Query(transaction, "DELETE FROM call_count WHERE api = ?1").bind(api).run();
}

std::optional<uint32_t> faultFor(const char* api, unsigned n)
{
    for (auto& f : Machine::current().config().faults)
        if (f.api == api && f.nth == n)
            return f.error;
    return std::nullopt;
}

}
