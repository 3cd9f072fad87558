// The names of the calls a machine's programs can make.
#pragma once
#include <string>

namespace ntsim {

// Whether name is a call the machine's libraries export ("StartServiceA").
bool isApiName(const std::string& name);

}
