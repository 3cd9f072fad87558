// Program code of the driver model run in-process against a fresh machine,
// with the diagnostic log on and read back line by line.
#pragma once
#include "TestMachine.h"

#include "app/SetupLog.h"

#include <string>
#include <vector>

namespace test {

struct Fault {
    std::string api;
    std::string error;
    unsigned nth { 1 };
};

class DriverHarness {
public:
    // Faults are set before the machine becomes the test's own, as a person
    // would set them before a run.
    explicit DriverHarness(std::initializer_list<Fault> faults = {});

    TestMachine& machine() { return m_machine; }
    static const char* infPath() { return "C:\\MODEM\\DRV_MEQ.INF"; }

    // The log's lines since the last call, without their CR LF.
    std::vector<std::string> newLogLines();

private:
    TestMachine m_machine;
    size_t m_seen { 0 };
};

}
