// A program for the process tests: the test binary itself, linked into a
// machine as K32CHILD.EXE (or as a stand-in ISDEL.EXE), does what its
// command line asks when it starts as that program.
#pragma once
#include "support/TestMachine.h"

#include <string>

namespace test {

// A hard link shares its file with every other link of the test binary: a
// running one makes them all running images. A copy is a file of its own.
enum class ChildFile { Link, Copy };

// Puts the test binary into the machine at ntPath.
void installChildProgram(const TestMachine& machine, const std::string& ntPath = "C:\\WINNT\\system32\\K32CHILD.EXE",
    ChildFile kind = ChildFile::Link);

}
