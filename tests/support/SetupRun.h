// What a whole run of the setup program leaves behind, for the scenario
// tests: its log, the things it showed, the registry it changed.
#pragma once
#include "DriverHarness.h"
#include "TestMachine.h"

#include "machine/Json.h"

#include <string>
#include <vector>

namespace test {

constexpr char setupProgram[] = "C:\\MODEM\\SETUP.EXE";
constexpr char modemHardwareId[] = "VEN_1A7E&DEV_5C21&SUBSYS_04101A7E&REV_02";
constexpr char modemDescription[] = "Brimlow 56K PCI Data Fax Modem";
constexpr char modemClassKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E96D-E325-11CE-BFC1-08002BE10318}";

// The whole log, without the lines' CR LF; a line without one fails the test.
Lines logLines(const TestMachine& m);

// Each shown thing as "page 101 next" or "messagebox <text> ok", to check
// a run's path.
Lines shownPath(const std::vector<ntsim::Json>& transcript);

// The text of a page's control, by id; empty when the page has none.
std::string controlText(const ntsim::Json& page, int id);
// Whether a wizard button of a page is shown and enabled.
bool buttonEnabled(const ntsim::Json& page, const char* button);

// A value's bytes below HKEY_LOCAL_MACHINE, read in a child process so that
// the test process stays unattached; empty when it cannot be read.
std::string registryValue(const TestMachine& m, const std::string& key, const std::string& name);
bool registryKeyExists(const TestMachine& m, const std::string& key);

// Loads REGEDIT4 text (without its header line) as the machine's system
// account, past the access checks, as the machine's own components would
// have written it; fails the test when the import fails.
void importRegistry(const TestMachine& m, const std::string& body);

// The state `ntsim sc query` reports for a service ("RUNNING", "STOPPED"),
// or empty when the service does not exist.
std::string serviceState(const TestMachine& m, const std::string& service);

}
