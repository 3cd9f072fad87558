// Program code of the driver model run in-process against a fresh machine,
// with the diagnostic log on and read back line by line. The setup INF is
// the harness's own: the driver's sections and nothing else, so that the
// tests do not follow what the package's INF installs besides.
#pragma once
#include "TestMachine.h"

#include "app/SetupLog.h"
#include "driver/Driver.h"

#include <windows.h>

#include <string>
#include <vector>

namespace test {

struct Fault {
    std::string api;
    std::string error;
    unsigned nth { 1 };
};

using Lines = std::vector<std::string>;

class DriverHarness {
public:
    // Faults are set before the machine becomes the test's own, as a person
    // would set them before a run.
    explicit DriverHarness(std::initializer_list<Fault> faults = {});

    TestMachine& machine() { return m_machine; }
    static const char* infPath() { return "C:\\MODEM\\DRV_MEQ.INF"; }
    static const char* driverFile() { return "C:\\WINNT\\system32\\drivers\\QZVMDM.SYS"; }
    static const char* serviceKey() { return "SYSTEM\\CurrentControlSet\\Services\\Qzvmdm"; }

    // The harness's setup INF, and the same with one text replaced.
    static std::string setupInf();
    static std::string setupInfWith(const std::string& text, const std::string& replacement);
    void writeInf(const std::string& text) { m_machine.write(infPath(), text); }

    // The log's lines since the last call, without their CR LF.
    Lines newLogLines();

private:
    TestMachine m_machine;
    size_t m_seen { 0 };
};

// The driver of the harness's INF, as the driver list would make it.
CDriver harnessDriver(const char* pnpEnumId = "ID");
// The current state of the harness's driver service, 0 when it does not exist.
DWORD harnessServiceState();

Lines join(std::initializer_list<Lines> parts);
// GetDriverServiceName reading the name from the INF, and serving it from memory.
Lines nameReadLines();
Lines nameKnownLines();
// GetInfo with the name known, the service opened and found in a state.
Lines infoLines(const std::string& stateLine);
// GetInfo finding no service, after its GetDriverServiceName lines.
Lines noServiceLines(const Lines& nameLines);

// Sets the DACL of a key below HKEY_LOCAL_MACHINE from an SDDL text.
LONG setKeyDacl(const std::string& key, const std::string& sddl);

// The bytes the process holds allocated right now.
size_t allocatedBytes();

}
