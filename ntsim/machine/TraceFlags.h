// The symbolic names of a numeric argument, for the trace: "0x20019
// KEY_READ", "0x3 FILE_SHARE_READ|FILE_SHARE_WRITE", "3 OPEN_EXISTING".
#pragma once
#include "ApiTable.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ntsim {

// Nothing when the parameter is no flag set or enumeration the headers name.
std::optional<std::string> describeFlags(const ApiSignature& api, unsigned parameter, uint64_t value);

}
