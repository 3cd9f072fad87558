// A program for the process tests: the test binary itself, linked into a
// machine as C:\WINNT\system32\K32CHILD.EXE, does what its command line
// asks when it starts as that program.
#pragma once
#include "support/TestMachine.h"

namespace test {

// Puts K32CHILD.EXE into the machine's system32.
void installChildProgram(const TestMachine& machine);

}
