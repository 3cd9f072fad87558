#include "support/TestMachine.h"

#include <gtest/gtest.h>

namespace {

const char* const RundllInf = "[Version]\r\n"
                              "Signature = \"$Windows NT$\"\r\n"
                              "[DestinationDirs]\r\n"
                              "DefaultDestDir = 12\r\n"
                              "[Drv]\r\n"
                              "CopyFiles = Drv.Copy\r\n"
                              "[Drv.Copy]\r\n"
                              "brim.sys\r\n"
                              "[Drv.Services]\r\n"
                              "AddService = Brim, 0, Brim.Svc\r\n"
                              "[Brim.Svc]\r\n"
                              "ServiceType = 1\r\n"
                              "StartType = 3\r\n"
                              "ErrorControl = 1\r\n"
                              "ServiceBinary = %12%\\brim.sys\r\n";

test::RunResult runHinf(const test::TestMachine& m, const std::string& section, const std::vector<std::string>& script)
{
    return m.run({ "C:\\WINNT\\system32\\rundll32.exe", "setupapi.dll,InstallHinfSection", section, "128",
                     "C:\\MODEM\\R.INF" },
        script);
}

}

TEST(SetupapiRundll, InstallsSectionAndServices)
{
    test::TestMachine m;
    m.write("C:\\MODEM\\R.INF", RundllInf);
    m.write("C:\\MODEM\\brim.sys", "image");
    test::RunResult r = runHinf(m, "Drv", {});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_TRUE(r.transcript.empty()) << r.out;
    EXPECT_EQ(m.read("C:\\WINNT\\system32\\drivers\\brim.sys"), "image");
    test::RunResult sc = m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Brim" });
    EXPECT_NE(sc.out.find("\"Start\"=dword:00000003"), std::string::npos) << sc.out;
}

TEST(SetupapiRundll, MissingSourceCancelledAtThePrompt)
{
    test::TestMachine m;
    m.write("C:\\MODEM\\R.INF", RundllInf);
    test::RunResult r = runHinf(m, "Drv", { "cancel" });
    EXPECT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.transcript.size(), 1u) << r.out;
    const ntsim::Json& prompt = r.transcript[0];
    EXPECT_EQ(ntsim::stringMember(prompt, "event"), "prompt");
    EXPECT_EQ(ntsim::stringMember(prompt, "kind"), "files-needed");
    EXPECT_EQ(ntsim::stringMember(prompt, "file"), "brim.sys");
    EXPECT_EQ(ntsim::stringMember(prompt, "path"), "C:\\MODEM");
    EXPECT_EQ(ntsim::stringMember(prompt, "answer"), "cancel");
    EXPECT_FALSE(m.exists("C:\\WINNT\\system32\\drivers\\brim.sys"));
    // The install stopped before the services.
    test::RunResult sc = m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Brim" });
    EXPECT_EQ(sc.out.find("\"Start\"="), std::string::npos) << sc.out;
}

TEST(SetupapiRundll, MissingSectionIsReported)
{
    test::TestMachine m;
    m.write("C:\\MODEM\\R.INF", RundllInf);
    test::RunResult r = runHinf(m, "NoSuch", { "ok" });
    EXPECT_EQ(r.exitCode, 0) << r.out;
    ASSERT_EQ(r.transcript.size(), 1u) << r.out;
    EXPECT_EQ(ntsim::stringMember(r.transcript[0], "answer"), "ok");
    EXPECT_NE(ntsim::dumpLine(r.transcript[0]).find("Installation failed"), std::string::npos) << ntsim::dumpLine(r.transcript[0]);
}
