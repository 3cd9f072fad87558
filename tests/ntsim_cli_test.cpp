// The ntsim tool's machine commands: new, set and run.
#include "support/TestMachine.h"

#include "machine/Machine.h"
#include "machine/FileLock.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

ntsim::MachineConfig ConfigOf(const test::TestMachine& m)
{
    ntsim::Machine machine;
    std::string error;
    EXPECT_TRUE(ntsim::Machine::open(m.dir(), machine, error)) << error;
    return machine.config();
}

}

TEST(NtsimCli, SetChangesTheMachineAndRefusesWhatItDoesNotKnow)
{
    test::TestMachine m;
    ntsim::MachineConfig fresh = ConfigOf(m);
    EXPECT_TRUE(fresh.mmx);
    EXPECT_TRUE(fresh.user.admin);
    EXPECT_EQ(fresh.locale, 0x0409);
    EXPECT_EQ(fresh.codePage, 1252u);
    EXPECT_EQ(fresh.oemCodePage, 437u);
    ASSERT_EQ(fresh.pci.size(), 1u);
    EXPECT_EQ(fresh.pci[0].kind, "softmodem");

    auto set = m.tool({ "set", m.dir(), "cpu.mmx=false", "user=guest", "locale=0411" });
    EXPECT_EQ(set.exitCode, 0) << set.out;
    ntsim::MachineConfig changed = ConfigOf(m);
    EXPECT_FALSE(changed.mmx);
    EXPECT_EQ(changed.user.name, "Guest");
    EXPECT_FALSE(changed.user.admin);
    EXPECT_EQ(changed.locale, 0x0411);
    EXPECT_EQ(changed.codePage, 932u) << "the locale brings its code page";

    for (const char* bad : { "cpu.mmx=maybe", "user=root", "locale=0419", "locale=xyz", "colour=blue", "nothing" }) {
        auto refused = m.tool({ "set", m.dir(), bad });
        EXPECT_EQ(refused.exitCode, 2) << bad;
        EXPECT_NE(refused.out.find("ntsim: "), std::string::npos) << refused.out;
    }
    EXPECT_EQ(ConfigOf(m).locale, 0x0411) << "a refused setting changes nothing";

    auto again = m.tool({ "new", m.dir() });
    EXPECT_EQ(again.exitCode, 2);
    EXPECT_NE(again.out.find("already"), std::string::npos) << again.out;
}

TEST(NtsimCli, RunNamesWhatItCannotStart)
{
    test::TestMachine m;
    // A program that cannot start says why in words, with a status of its own.
    auto missing = m.run({ "C:\\MODEM\\NOSUCH.EXE" });
    EXPECT_EQ(missing.exitCode, 127);
    EXPECT_EQ(missing.out, "ntsim: run: cannot start C:\\MODEM\\NOSUCH.EXE: The system cannot find the file specified\n");

    m.write("C:\\MODEM\\WINDOWS.EXE", std::string("MZ\x90\0\x03\0\0\0", 8));
    auto windowsImage = m.run({ "C:\\MODEM\\WINDOWS.EXE" });
    EXPECT_EQ(windowsImage.exitCode, 127);
    EXPECT_NE(windowsImage.out.find("cannot start C:\\MODEM\\WINDOWS.EXE: "), std::string::npos) << windowsImage.out;
    EXPECT_EQ(windowsImage.out.find("error 193"), std::string::npos) << windowsImage.out;

    // The program's own options without "--" before them.
    auto noDashes = m.tool({ "run", m.dir(), "C:\\MODEM\\SETUP.EXE", "-s" });
    EXPECT_EQ(noDashes.exitCode, 2);
    EXPECT_EQ(noDashes.out, "ntsim: run: -s after the program is taken for an option of run; put -- before the program "
                            "and its arguments: ntsim run " + m.dir() + " -- 'C:\\MODEM\\SETUP.EXE' -s\n");

    auto noProgram = m.tool({ "run", m.dir(), "--" });
    EXPECT_EQ(noProgram.exitCode, 2);
    auto badDirectory = m.run({ "C:\\MODEM\\SETUP.EXE" }, {}, "D:\\");
    EXPECT_EQ(badDirectory.exitCode, 2);
    EXPECT_NE(badDirectory.out.find("not a directory of drive C:"), std::string::npos) << badDirectory.out;
    auto missingDirectory = m.run({ "C:\\MODEM\\SETUP.EXE" }, {}, "C:\\NOWHERE");
    EXPECT_EQ(missingDirectory.exitCode, 2) << missingDirectory.out;
}

TEST(NtsimCli, CorruptMachineDescriptionIsRefusedNamingFileAndProblem)
{
    test::TestMachine m;
    std::string good;
    ASSERT_TRUE(ntsim::readWholeFile(m.dir() + "/machine.json", good));
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> cases[] = {
        { good.substr(0, good.size() / 2), "parse error" },
        { replaced("\"mmx\": true", "\"mmx\": \"yes\""), "cpu.mmx must be true or false" },
        { replaced("\"codepage\": 1252", "\"codepage\": -1"), "codepage must be a number" },
        { replaced("\"codepage\": 1252", "\"codepage\": 99999999999"), "codepage is out of range" },
        { replaced("\"locale\": \"0409\"", "\"locale\": \"100000409\""), "locale must be a locale id" },
        { replaced("\"locale\": \"0409\"", "\"locale\": \"0419\""), "locale is not a locale this machine has" },
        { replaced("\"codepage\": 1252", "\"codepage\": 99999"), "codepage is out of range" },
        { replaced("\"codepage\": 1252", "\"codepage\": 1251"), "codepage is not an ANSI code page this machine has" },
        { replaced("\"oemcodepage\": 437", "\"oemcodepage\": 1252"), "oemcodepage is not an OEM code page" },
        { replaced("\"groups\": [", "\"groups\": {\"a\":1}, \"x\": ["), "user.groups must be an array" },
        { replaced("\"vendor\": \"0x1A7E\"", "\"vendor\": \"0x11A7E\""), "pci[0].vendor is out of range" },
        { replaced("\"faults\": []", "\"faults\": [{\"api\": \"RegOpenKeyExA\", \"error\": 5, \"nth\": 0}]"),
            "faults[0].nth must be 1 or more" },
    };
    for (auto& [text, problem] : cases) {
        std::ofstream(m.dir() + "/machine.json", std::ios::trunc) << text;
        ntsim::Machine machine;
        std::string error;
        EXPECT_FALSE(ntsim::Machine::open(m.dir(), machine, error)) << problem;
        EXPECT_NE(error.find(m.dir() + "/machine.json: "), std::string::npos) << error;
        EXPECT_NE(error.find(problem), std::string::npos) << error;
        auto run = m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\Select" });
        EXPECT_NE(run.exitCode, 0) << problem;
        EXPECT_NE(run.out.find(problem), std::string::npos) << run.out;
    }
}

TEST(NtsimCli, EveryVerbHasHelpAndOneFormOfUsageError)
{
    test::TestMachine m;
    for (const char* verb : { "new", "set", "run", "reg", "sc", "fault", "window" }) {
        auto help = m.tool({ verb, "--help" });
        EXPECT_EQ(help.exitCode, 0) << verb;
        EXPECT_NE(help.out.find(std::string("Usage: ntsim ") + verb), std::string::npos) << help.out;
    }
    auto nested = m.tool({ "reg", "import", "--help" });
    EXPECT_EQ(nested.exitCode, 0);
    EXPECT_NE(nested.out.find("Usage: ntsim reg import"), std::string::npos) << nested.out;

    // Every refusal: status 2, one line "ntsim: VERB: ..." naming where help is.
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        { { "reg", "export", m.dir() }, "ntsim: reg export: KEY is required (see ntsim reg export --help)" },
        { { "reg", "copy", m.dir() }, "ntsim: reg: " },
        { { "sc", m.dir(), "restart", "Qzvmdm" }, "ntsim: sc: ACTION: restart not in {query,start,stop,qc,create,config,delete,getdisplayname,getkeyname}" },
        { { "fault", m.dir(), "StartServiceA", "5", "--nth", "99999999999999999999" },
            "ntsim: fault: --nth: Value 99999999999999999999 not in range 1 to 4294967295" },
        { { "fault", m.dir(), "StartServiceA", "5", "--nth", "0" }, "ntsim: fault: --nth: Value 0 not in range" },
        { { "fault", m.dir(), "StartServiceA", "5", "--nth", "-3" }, "ntsim: fault: --nth" },
        { { "fault", m.dir(), "StartServiceX", "5" }, "ntsim: fault: 'StartServiceX' is no call of the machine's libraries" },
        { { "fault", m.dir(), "startservicea", "5" }, "ntsim: fault: 'startservicea' is no call" },
        { { "window", m.dir() }, "ntsim: window: --title is required" },
        { { "new", m.dir(), "extra" }, "ntsim: new: " },
        { { "new", m.dir() }, "ntsim: new: " + m.dir() + ": a machine is there already" },
        { { "sc", m.dir() + "/nowhere", "query", "Qzvmdm" }, "ntsim: sc: " },
        { { "devcon", m.dir(), "frobnicate" }, "ntsim: devcon: unknown command 'frobnicate'; the commands are classes, "
            "driverfiles, drivernodes, find, hwids, stack, status, enable, disable, restart, rescan, install, remove" },
        { { "devcon", m.dir(), "find" }, "ntsim: devcon find: no device given: '*' for every device" },
        { { "frobnicate" }, "ntsim: no command 'frobnicate' (see ntsim --help)" },
    };
    for (auto& [args, message] : refused) {
        auto r = m.tool(args);
        EXPECT_EQ(r.exitCode, 2) << r.out;
        EXPECT_EQ(r.out.rfind(message, 0), 0u) << r.out;
        EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
    }
    EXPECT_TRUE(ConfigOf(m).faults.empty()) << "no refused fault was set";

    // A failure at the work names its verb too.
    auto noMachine = m.tool({ "reg", "export", m.dir() + "/nowhere", "HKLM" });
    EXPECT_EQ(noMachine.exitCode, 1);
    EXPECT_EQ(noMachine.out, "ntsim: reg: " + m.dir() + "/nowhere: no such machine directory\n");

    // new says what it made and how to go on.
    std::string second = m.dir() + "/second";
    auto made = m.tool({ "new", second });
    EXPECT_EQ(made.exitCode, 0) << made.out;
    EXPECT_EQ(made.out.rfind("Made an NT 4.0 machine in " + second + ": ", 0), 0u) << made.out;
    EXPECT_NE(made.out.find("ntsim run " + second + " -- 'C:\\MODEM\\SETUP.EXE' -l\n"), std::string::npos) << made.out;
    auto none = m.tool({});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.out.find("Usage: ntsim"), std::string::npos) << none.out;
}
