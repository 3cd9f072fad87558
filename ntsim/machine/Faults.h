// Fault injection: a machine can be told to make the n-th call of a named
// API fail with a chosen error, for error paths a healthy machine never takes.
#pragma once
#include <cstdint>
#include <optional>

namespace ntsim {

// Called by the public entry point of each API that can be made to fail,
// with its exported name ("StartServiceA"), and by nothing else: the
// platform's own work calls the internal functions behind the entry points,
// so only a program's calls are counted. Counts the call across the
// machine's processes and returns the error to fail with when this call is
// the chosen one.
std::optional<uint32_t> injectedFault(const char* api);

}
