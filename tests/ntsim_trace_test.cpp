// The trace of a program's calls (ntsim run --trace, ntsim trace show) and
// the sweep that fails each traced call in turn (ntsim sweep).
#include "kernel32_child.h"
#include "support/TestMachine.h"

#include "machine/ApiTable.h"
#include "machine/FileLock.h"
#include "machine/TraceFlags.h"

#include <windows.h>

#include <setupapi.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

namespace {

std::vector<ntsim::Json> traceOf(const std::string& path)
{
    return test::readTranscript(path);
}

const ntsim::Json* findCall(const std::vector<ntsim::Json>& trace, const std::string& call, const std::string& argument,
    const std::string& containing)
{
    for (auto& line : trace)
        if (line["call"] == call && line["args"].contains(argument) && line["args"][argument].is_string()
            && line["args"][argument].get<std::string>().find(containing) != std::string::npos)
            return &line;
    return nullptr;
}

std::string flags(const char* call, unsigned parameter, uint64_t value)
{
    const ntsim::ApiSignature* api = ntsim::findApi(call);
    EXPECT_NE(api, nullptr) << call;
    return api ? ntsim::describeFlags(*api, parameter, value).value_or("(none)") : "";
}

}

TEST(Trace, ARunTracesTheProgramsOwnCallsNumberedAsFaultsCountThem)
{
    test::TestMachine m;
    std::string file = m.dir() + "/trace.jsonl";
    auto run = m.tool({ "run", m.dir(), "--trace", file, "--", "C:\\MODEM\\SETUP.EXE", "-s", "-h=us", "-l" });
    ASSERT_EQ(run.exitCode, 0) << run.out;
    auto trace = traceOf(file);
    ASSERT_FALSE(trace.empty());

    // Every line names its process, and a call's numbers run 1, 2, 3 ...
    std::map<std::string, int64_t> last;
    for (auto& line : trace) {
        EXPECT_EQ(line["image"], "SETUP.EXE");
        EXPECT_GT(line["pid"].get<int64_t>(), 0);
        int64_t n = line["n"].get<int64_t>();
        EXPECT_EQ(n, last[line["call"].get<std::string>()] + 1) << ntsim::dumpLine(line);
        last[line["call"].get<std::string>()] = n;
    }

    // Arguments by their parameters' names, flags by theirs.
    const ntsim::Json* open = findCall(trace, "RegOpenKeyExA", "lpSubKey", "Parameters\\Qzvmdm0");
    ASSERT_NE(open, nullptr);
    EXPECT_EQ((*open)["args"]["samDesired"], "0x20019 KEY_READ");
    EXPECT_EQ((*open)["result"], 0);
    EXPECT_EQ((*open)["failed"], false);

    // Handles say what they are and, for keys and files, what they stand for.
    const ntsim::Json* first = nullptr;
    const ntsim::Json* query = nullptr;
    const ntsim::Json* write = nullptr;
    for (auto& line : trace) {
        if (!first && line["call"] == "RegOpenKeyExA")
            first = &line;
        if (!query && line["call"] == "RegQueryValueExA" && line["args"]["hKey"].is_object())
            query = &line;
        if (!write && line["call"] == "WriteFile")
            write = &line;
    }
    ASSERT_TRUE(first && query && write);
    EXPECT_EQ((*first)["args"]["hKey"]["kind"], "key");
    EXPECT_EQ((*first)["args"]["hKey"]["name"], "HKEY_LOCAL_MACHINE") << ntsim::dumpLine(*first);
    EXPECT_EQ((*query)["args"]["hKey"]["kind"], "key");
    EXPECT_EQ((*query)["args"]["hKey"]["name"].get<std::string>().rfind("HKEY_LOCAL_MACHINE\\", 0), 0u)
        << ntsim::dumpLine(*query);
    EXPECT_EQ((*write)["args"]["hFile"]["kind"], "file");
    EXPECT_EQ((*write)["args"]["hFile"]["name"], "C:\\MODEM\\SETUP.TXT");

    // The log's first open finds no file: a failure, with its last error.
    const ntsim::Json* log = findCall(trace, "CreateFileA", "lpFileName", "SETUP.TXT");
    ASSERT_NE(log, nullptr);
    EXPECT_EQ((*log)["args"]["dwCreationDisposition"], "3 OPEN_EXISTING");
    EXPECT_EQ((*log)["failed"], true);
    EXPECT_EQ((*log)["error"], ERROR_FILE_NOT_FOUND);

    // The INF installer creates the service itself: the program never
    // calls CreateServiceA, and the installer's own calls are not its.
    EXPECT_GT(last["SetupInstallServicesFromInfSectionA"], 0);
    EXPECT_EQ(last.count("CreateServiceA"), 0u);
    EXPECT_EQ(findCall(trace, "RegCreateKeyExA", "lpSubKey", "Services\\Qzvmdm"), nullptr);

    // The trace's n is the n that ntsim fault --nth takes: that very call fails.
    int64_t nth = (*open)["n"].get<int64_t>();
    test::TestMachine again;
    auto fault = again.tool({ "fault", again.dir(), "RegOpenKeyExA", "ERROR_ACCESS_DENIED", "--nth", std::to_string(nth) });
    ASSERT_EQ(fault.exitCode, 0) << fault.out;
    std::string file2 = again.dir() + "/trace.jsonl";
    again.tool({ "run", again.dir(), "--trace", file2, "--", "C:\\MODEM\\SETUP.EXE", "-s", "-h=us", "-l" });
    auto trace2 = traceOf(file2);
    const ntsim::Json* failed = findCall(trace2, "RegOpenKeyExA", "lpSubKey", "Parameters\\Qzvmdm0");
    ASSERT_NE(failed, nullptr);
    EXPECT_EQ((*failed)["n"], nth);
    EXPECT_EQ((*failed)["result"], ERROR_ACCESS_DENIED);
    EXPECT_EQ((*failed)["failed"], true);
}

TEST(Trace, CallsTheProgramMakesFromItsCallbacksAreItsOwn)
{
    // The wizard's pages run inside PropertySheetA, the applet inside
    // rundll32's CPlApplet call: their calls are still the programs'.
    test::TestMachine m;
    std::string file = m.dir() + "/trace.jsonl";
    std::vector<std::string> script { "next", "next", "@\"Country Settings\" select united states",
        "@\"Country Settings\" finish", "finish" };
    auto wizard = m.run({ "C:\\MODEM\\SETUP.EXE", "-l" }, script);
    ASSERT_EQ(wizard.exitCode, 0) << wizard.out;
    m.set("trace=" + file);
    auto traced = m.run({ "C:\\MODEM\\SETUP.EXE", "-u", "-l" }, { "next", "finish", "@\"System Settings Change\" no" });
    ASSERT_EQ(traced.exitCode, 0) << traced.out;
    auto trace = traceOf(file);
    // The uninstall's work happens inside the pages' handlers.
    EXPECT_NE(findCall(trace, "OpenServiceA", "lpServiceName", "Qzvmdm"), nullptr);
    bool deleteProgram = false;
    for (auto& line : trace)
        deleteProgram = deleteProgram || (line["image"] == "ISDEL.EXE" && line["call"] == "DeleteFileA");
    EXPECT_TRUE(deleteProgram) << "ISDEL.EXE's calls are traced as its own";

    // Windows are named by their text, INF handles by their file.
    std::set<std::string> windows, infs;
    for (auto& line : trace)
        for (auto& [name, value] : line["args"].items())
            if (value.is_object() && value["kind"] == "window")
                windows.insert(value["name"].get<std::string>());
            else if (value.is_object() && value["kind"] == "INF")
                infs.insert(value["name"].get<std::string>());
    EXPECT_EQ(windows.count("Modem Board Uninstallation Wizard"), 1u);
    EXPECT_EQ(infs.count("C:\\MODEM\\DRV_MEQ.INF"), 1u) << infs.size();
    m.set("trace=");
}

TEST(Trace, FlagsReadAsTheHeadersNameThem)
{
    EXPECT_EQ(flags("RegOpenKeyExA", 3, KEY_READ), "0x20019 KEY_READ");
    EXPECT_EQ(flags("RegOpenKeyExA", 3, KEY_READ | KEY_SET_VALUE), "0x2001b KEY_READ|KEY_SET_VALUE");
    // A bit no name covers stays, in hex.
    EXPECT_EQ(flags("RegOpenKeyExA", 3, KEY_QUERY_VALUE | 0x400000), "0x400001 KEY_QUERY_VALUE|0x400000");
    EXPECT_EQ(flags("CreateFileA", 4, OPEN_ALWAYS), "4 OPEN_ALWAYS");
    EXPECT_EQ(flags("CreateFileA", 2, FILE_SHARE_READ | FILE_SHARE_WRITE), "0x3 FILE_SHARE_READ|FILE_SHARE_WRITE");
    // Buttons and icons are numbers, not bits: MB_ICONWARNING is one icon.
    EXPECT_EQ(flags("MessageBoxA", 3, MB_YESNO | MB_ICONWARNING), "0x34 MB_YESNO|MB_ICONWARNING");
    EXPECT_EQ(flags("MessageBoxA", 3, MB_OKCANCEL | MB_ICONERROR), "0x11 MB_OKCANCEL|MB_ICONERROR");
    // The same name means other rights in another call of the header.
    EXPECT_EQ(flags("OpenSCManagerA", 2, SC_MANAGER_CONNECT), "0x1 SC_MANAGER_CONNECT");
    EXPECT_EQ(flags("OpenServiceA", 2, SERVICE_START | SERVICE_STOP), "0x30 SERVICE_START|SERVICE_STOP");
    // A parameter of no flag set has no names.
    EXPECT_EQ(flags("RegOpenKeyExA", 2, 0), "(none)");

    const ntsim::ApiSignature* getLastError = ntsim::findApi("GetLastError");
    ASSERT_NE(getLastError, nullptr);
    EXPECT_FALSE(ntsim::resultFails(*getLastError, 0).has_value());
    EXPECT_EQ(ntsim::resultFails(*ntsim::findApi("GlobalFree"), 0), false);
    EXPECT_EQ(ntsim::resultFails(*ntsim::findApi("RegCloseKey"), ERROR_INVALID_HANDLE), true);
    EXPECT_EQ(ntsim::resultFails(*ntsim::findApi("CreateFileA"), ~uint64_t(0)), true);
}

TEST(Trace, ShowPrintsTheCallsAPersonAsksForAndRefusesWhatIsNoTrace)
{
    test::TestMachine m;
    std::string file = m.dir() + "/trace.jsonl";
    ASSERT_EQ(m.tool({ "run", m.dir(), "--trace", file, "--", "C:\\MODEM\\SETUP.EXE", "-s", "-h=us", "-l" }).exitCode, 0);

    auto failed = m.tool({ "trace", "show", file, "--failed" });
    ASSERT_EQ(failed.exitCode, 0) << failed.out;
    EXPECT_NE(failed.out.find("CreateFileA (1)"), std::string::npos) << failed.out;
    EXPECT_NE(failed.out.find("FAILED ERROR_FILE_NOT_FOUND lpFileName=\"C:\\MODEM\\SETUP.TXT\""), std::string::npos);
    EXPECT_EQ(failed.out.find("RegCloseKey"), std::string::npos) << "a call that did not fail";

    auto registry = m.tool({ "trace", "show", file, "--call", "RegOpen*" });
    EXPECT_NE(registry.out.find("RegOpenKeyExA (1)"), std::string::npos) << registry.out;
    EXPECT_EQ(registry.out.find("CreateFileA"), std::string::npos);

    m.write("C:\\bad.jsonl", "{\"pid\":1,\"call\":\"X\",\"args\":{}}\nnot json\n");
    auto bad = m.tool({ "trace", "show", m.host("C:\\bad.jsonl") });
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.out.find("line 2 is no trace line"), std::string::npos) << bad.out;
}

TEST(Sweep, EachCallSiteFailedInTurnFindsTheCrashTheHangAndTheLeak)
{
    test::TestMachine m;
    test::installChildProgram(m, "C:\\WINNT\\system32\\K32CHILD.EXE", test::ChildFile::Copy);
    std::string work = m.dir() + "-sweep";
    auto sweep = m.tool({ "sweep", m.dir(), "--timeout", "5", "--jobs", "2", "--work", work, "--", "K32CHILD.EXE",
        "careless", "-" });
    // A crash, a hang or a leak makes the sweep's status 1.
    EXPECT_EQ(sweep.exitCode, 1) << sweep.out;
    EXPECT_NE(sweep.out.find("sweep: "), std::string::npos);

    ntsim::Json report;
    std::string text, error;
    ASSERT_TRUE(ntsim::readWholeFile(work + "/sweep.json", text));
    ASSERT_TRUE(ntsim::parseJson(text, report, error)) << error;
    std::map<std::string, ntsim::Json> sites;
    for (auto& site : report["sites"])
        sites[site["site"].get<std::string>()] = site;

    // Only calls that can fail are sites; GetLastError cannot.
    EXPECT_EQ(sites.count("GetCommandLineA#1"), 0u);
    ASSERT_EQ(sites.count("GlobalAlloc#1"), 1u);
    EXPECT_NE(sites["GlobalAlloc#1"]["signal"], 0) << "a write through null";
    EXPECT_EQ(sites["GlobalAlloc#1"]["error"], ERROR_NOT_ENOUGH_MEMORY);
    ASSERT_EQ(sites.count("GlobalLock#1"), 1u);
    EXPECT_NE(sites["GlobalLock#1"]["signal"], 0) << "the same write, of what a failed lock gave";
    ASSERT_EQ(sites.count("SetEvent#1"), 1u);
    EXPECT_EQ(sites["SetEvent#1"]["hung"], true);
    ASSERT_EQ(sites.count("RegQueryValueExA#1"), 1u);
    EXPECT_EQ(sites["RegQueryValueExA#1"]["exit"], 8);
    EXPECT_EQ(sites["RegQueryValueExA#1"]["error"], ERROR_ACCESS_DENIED);
    EXPECT_EQ(sites["RegQueryValueExA#1"]["handlesLeft"], ntsim::Json::array({ "K32CHILD.EXE: registry keys 1" }));
    // A fault the program gets past changes nothing; closing a handle is no site.
    ASSERT_EQ(sites.count("CreateEventA#1"), 1u);
    EXPECT_EQ(sites["CreateEventA#1"]["exit"], 0);
    EXPECT_EQ(sites["CreateEventA#1"]["signal"], 0);
    EXPECT_EQ(sites.count("RegCloseKey#1"), 0u);

    auto& summary = report["summary"];
    EXPECT_EQ(summary["sites"], report["sites"].size());
    EXPECT_EQ(summary["crashes"], 2);
    EXPECT_EQ(summary["hangs"], 1);
    EXPECT_EQ(summary["leaks"], 1);
    std::string line = "sweep: " + std::to_string(report["sites"].size()) + " sites, 2 crashes, 1 hangs, 1 leaks";
    EXPECT_NE(sweep.out.find(line), std::string::npos) << sweep.out;
    // The machine the sweep started from is never touched.
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\K32CHILD.EXE.transcript"));
}

TEST(Sweep, ARecoveryIsComparedWithWhatItLeavesAfterTheCleanRun)
{
    test::TestMachine m;
    std::string work = m.dir() + "-sweep";
    m.write("C:\\uninstall.txt", "next\nfinish\n@\"System Settings Change\" no\n");
    // Every 40th site of the silent install, the wizard uninstall and the
    // package put back and installed again after each.
    auto sweep = m.tool({ "sweep", m.dir(), "--every", "40", "--work", work, "--log", "C:\\MODEM\\SETUP.TXT", "--recover",
        "run --script " + m.host("C:\\uninstall.txt") + " -- C:\\MODEM\\SETUP.EXE -u -l", "--recover", "put",
        "--recover", "put " + test::buildDir() + "/windows --to C:\\WINNT", "--recover",
        "run -- C:\\MODEM\\SETUP.EXE -s -h=us -l", "--", "C:\\MODEM\\SETUP.EXE", "-s", "-h=us", "-l" });
    EXPECT_EQ(sweep.exitCode, 0) << sweep.out;
    ntsim::Json report;
    std::string text, error;
    ASSERT_TRUE(ntsim::readWholeFile(work + "/sweep.json", text));
    ASSERT_TRUE(ntsim::parseJson(text, report, error)) << error;
    EXPECT_EQ(report["clean"]["exit"], 0);
    EXPECT_EQ(report["clean"]["lastLogLine"], "CInstDriverPage::InstallDrivers returning UINT 0");
    ASSERT_GE(report["sites"].size(), 3u);
    unsigned recovered = 0;
    for (auto& site : report["sites"]) {
        EXPECT_EQ(site["signal"], 0) << site["site"];
        EXPECT_EQ(site["hung"], false) << site["site"];
        recovered += site["recovered"].get<bool>();
    }
    EXPECT_GT(recovered, 0u);
    EXPECT_NE(sweep.out.find("clean run's recovery: "), std::string::npos) << sweep.out;
    EXPECT_NE(sweep.out.find(" not recovered in "), std::string::npos) << sweep.out;
}

TEST(Sweep, AProcessTheDeskEndedLeavesNoLeakBehind)
{
    // No script: the wizard's first page has no answer, so the desk ends
    // the program while its windows and keys are open. That is no leak of
    // the program's, and the sweep says why it ended instead.
    test::TestMachine m;
    std::string work = m.dir() + "-sweep";
    auto sweep = m.tool({ "sweep", m.dir(), "--every", "100000", "--work", work, "--", "C:\\MODEM\\SETUP.EXE", "-l" });
    ntsim::Json report;
    std::string text, error;
    ASSERT_TRUE(ntsim::readWholeFile(work + "/sweep.json", text)) << sweep.out;
    ASSERT_TRUE(ntsim::parseJson(text, report, error)) << error;
    EXPECT_EQ(report["clean"]["exit"], 3);
    ASSERT_EQ(report["clean"]["unanswered"].size(), 1u) << ntsim::dumpLine(report["clean"]);
    EXPECT_EQ(report["clean"]["unanswered"][0].get<std::string>().rfind("SETUP.EXE: no terminal to answer page 101", 0), 0u)
        << ntsim::dumpLine(report["clean"]);
    EXPECT_EQ(report["clean"]["handlesLeft"], ntsim::Json::array()) << ntsim::dumpLine(report["clean"]);
    EXPECT_EQ(report["summary"]["leaks"], 0);
}
