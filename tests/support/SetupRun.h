// What a whole run of the setup program leaves behind, for the scenario
// tests: its log, the things it showed, the registry it changed.
#pragma once
#include "DriverHarness.h"
#include "TestMachine.h"

#include "machine/Json.h"

#include <map>
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

// Each message box and prompt of a run, one line each, as a person meets
// it and with whom it belongs to: "box OWNER STYLE CAPTION: TEXT -> ANSWER"
// or "prompt KIND OWNER CAPTION: TEXT -> ANSWER". OWNER is "none",
// "sheet" (the wizard's window), "page N" (a page's own window) or
// "window" (any other); STYLE names the MB_ flags ("MB_OK|MB_ICONERROR").
Lines boxLines(const std::vector<ntsim::Json>& transcript);
std::string styleName(unsigned style);

// The first time a page of that template was shown, or null.
const ntsim::Json* pageOf(const std::vector<ntsim::Json>& transcript, int id);
// The items of a page's driver list box (control 9000).
Lines listItems(const ntsim::Json& page);
// The wizard buttons of a page: "back:off next:on finish:hidden cancel:on".
std::string buttonStates(const ntsim::Json& page);

// What the machine recorded of the run's calls: each record of that event
// ("process", "device-install").
std::vector<ntsim::Json> recordsOf(const RunResult& run, const char* event);

// Each process of the run ended holding none of the handles it opened,
// but for those named here: a program's NT path and its handles by kind
// ({ { "files", 1 } }). Fails the test when no process end was recorded.
using HandlesByKind = std::map<std::string, int>;
void expectHandlesAtExit(const RunResult& run, const std::map<std::string, HandlesByKind>& leftOpen = {});

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
