// What the code under test told the test, line by line, in the order heard:
// pages and window procedures append to it, the test reads it back.
#pragma once
#include <string>
#include <vector>

namespace test {

inline std::vector<std::string>& heard()
{
    static std::vector<std::string> log;
    return log;
}

}
