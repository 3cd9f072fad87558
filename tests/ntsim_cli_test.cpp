// The ntsim tool's machine commands: new, set and run.
#include "support/TestMachine.h"

#include "machine/Machine.h"

#include <gtest/gtest.h>

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
    auto missing = m.run({ "C:\\MODEM\\NOSUCH.EXE" });
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.out.find("cannot start C:\\MODEM\\NOSUCH.EXE (error 2)"), std::string::npos) << missing.out;

    m.write("C:\\MODEM\\WINDOWS.EXE", std::string("MZ\x90\0\x03\0\0\0", 8));
    auto windowsImage = m.run({ "C:\\MODEM\\WINDOWS.EXE" });
    EXPECT_EQ(windowsImage.exitCode, 2);
    EXPECT_NE(windowsImage.out.find("(error 193)"), std::string::npos) << windowsImage.out;

    auto noProgram = m.tool({ "run", m.dir(), "--" });
    EXPECT_EQ(noProgram.exitCode, 2);
    auto badDirectory = m.run({ "C:\\MODEM\\SETUP.EXE" }, {}, "D:\\");
    EXPECT_EQ(badDirectory.exitCode, 2);
    EXPECT_NE(badDirectory.out.find("not a directory of drive C:"), std::string::npos) << badDirectory.out;
    auto missingDirectory = m.run({ "C:\\MODEM\\SETUP.EXE" }, {}, "C:\\NOWHERE");
    EXPECT_EQ(missingDirectory.exitCode, 2) << missingDirectory.out;
}
