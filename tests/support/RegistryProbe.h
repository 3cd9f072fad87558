// Looks at the registry of the machine the test process is attached to.
#pragma once
#include <string>

namespace test {

// Whether a key below HKEY_LOCAL_MACHINE can be opened for reading.
bool KeyExists(const std::string& key);

}
