// What a test machine's run store holds, read as another process would.
#pragma once
#include "support/TestMachine.h"

#include <cstdint>

namespace test {

// The first column of the first row of a query (a literal) on the
// machine's run store, with pid as its parameter ?1 when it has one; -1
// when the store cannot be opened (the test fails then).
int64_t runStateNumber(const TestMachine& machine, const char* sql, int64_t parameter = 0);

}
