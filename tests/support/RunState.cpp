#include "support/RunState.h"

#include "machine/RunStore.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

namespace test {

int64_t runStateNumber(const TestMachine& machine, const char* sql, int64_t parameter)
{
    std::string error;
    auto store = ntsim::RunStore::open(machine.dir() + "/run", error);
    EXPECT_TRUE(store) << error;
    if (!store)
        return -1;
    ntsim::RunStore::Transaction transaction(*store);
    ntsim::RunStore::Query query(transaction, sql);
    if (std::string(sql).find("?1") != std::string::npos)
        query.bind(parameter);
    return query.next() ? query.integer(0) : 0;
}

}
