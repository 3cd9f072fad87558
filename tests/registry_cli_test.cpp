#include "support/TestMachine.h"

#include "machine/FileLock.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(RegistryCli, ExportPrintsRegedit4WithDescriptors)
{
    test::TestMachine m;
    auto r = m.tool({ "reg", "export", m.dir(), "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM" });
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out,
        "REGEDIT4\n\n"
        "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
        ";sddl=O:BAG:SYD:(A;CIID;KA;;;BA)(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n"
        "\"\\\\Device\\\\Serial0\"=\"COM1\"\n"
        "\"\\\\Device\\\\Serial1\"=\"COM2\"\n\n");

    r = m.tool({ "reg", "sddl", m.dir(), "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0" });
    ASSERT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(r.out, "O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n");

    r = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE\\NoSuchKey" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("no key"), std::string::npos);
}

TEST(RegistryCli, ImportChangesKeysAndValuesAndExportRoundTrips)
{
    test::TestMachine m;
    std::string file = m.dir() + "/../import.reg";
    {
        std::ofstream out(file);
        out << "REGEDIT4\n\n"
               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Deep]\n"
               ";sddl=O:BAG:SYD:(A;;KA;;;BA)(D;;KW;;;WD)\n"
               "\"Text\"=\"say \\\"hi\\\" C:\\\\x\"\n"
               "\"Number\"=dword:0000002a\n"
               "\"Bytes\"=hex:01,02,\\\n"
               "  ff\n"
               "\"List\"=hex(7):61,00,62,00,00\n"
               "@=\"default\"\n\n"
               "[-HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP]\n\n"
               "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\n"
               "\"\\\\Device\\\\Serial1\"=-\n";
    }
    auto r = m.tool({ "reg", "import", m.dir(), file });
    ASSERT_EQ(r.exitCode, 0) << r.out;

    r = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE\\Imported\\Deep" });
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const std::string expected = "REGEDIT4\n\n"
                                 "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Deep]\n"
                                 ";sddl=O:BAG:SYD:(A;;KA;;;BA)(D;;KW;;;WD)\n"
                                 "\"Text\"=\"say \\\"hi\\\" C:\\\\x\"\n"
                                 "\"Number\"=dword:0000002a\n"
                                 "\"Bytes\"=hex:01,02,ff\n"
                                 "\"List\"=hex(7):61,00,62,00,00\n"
                                 "@=\"default\"\n\n";
    EXPECT_EQ(r.out, expected);
    r = m.tool({ "reg", "export", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_BEEP" });
    EXPECT_EQ(r.exitCode, 1) << "the [-key] line deleted the subtree";
    r = m.tool({ "reg", "export", m.dir(), "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM" });
    EXPECT_EQ(r.out.find("Serial1"), std::string::npos);
    EXPECT_NE(r.out.find("Serial0"), std::string::npos);

    // The export of a whole hive loads into another machine as the same text.
    auto exported = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE" });
    ASSERT_EQ(exported.exitCode, 0);
    test::TestMachine other;
    std::string copy = other.dir() + "/../software.reg";
    {
        std::ofstream out(copy);
        out << exported.out;
    }
    ASSERT_EQ(other.tool({ "reg", "import", other.dir(), copy }).exitCode, 0);
    EXPECT_EQ(other.tool({ "reg", "export", other.dir(), "HKLM\\SOFTWARE" }).out, exported.out);

    std::ofstream(file) << "not a registry file\n";
    r = m.tool({ "reg", "import", m.dir(), file });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.out.find("REGEDIT4"), std::string::npos);
}
