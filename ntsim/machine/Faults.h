// Fault injection: a machine can be told to make the n-th call of a named
// API fail with a chosen error, for error paths a healthy machine never takes.
// The gate every exported call passes (ApiCall.h) asks here.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace ntsim {

class RunStore;

// Whether the machine names the call in its faults.
bool faultsName(const char* api);

// Counts a program's call across the machine's processes; its number.
unsigned countCall(const char* api);
// How many calls of api the machine has counted, and counting afresh.
unsigned countedCalls(RunStore& store, const std::string& api);
void resetCallCount(RunStore& store, const std::string& api);

// The error the n-th call of api fails with, if the machine chose it.
std::optional<uint32_t> faultFor(const char* api, unsigned n);

}
