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

TEST(RegistryCli, ImportRefusesWhatItCannotReadWithoutChangingAnything)
{
    test::TestMachine m;
    m.set("user=guest");
    auto before = m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE" });
    ASSERT_EQ(before.exitCode, 0);
    std::string file = m.dir() + "/../bad.reg";
    const std::string good = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"Fine\"=dword:00000001\n\n";
    const std::pair<std::string, std::string> cases[] = {
        { good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"Bad\"=dword:-1\n", "line 7: cannot read the value's data" },
        { good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"Bad\"=dword:123456789\n", "line 7: cannot read the value's data" },
        { good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported]\n\"Bad\"=hex(-7):00\n", "line 7: cannot read the value's data" },
        { good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Open]\n;sddl=\n",
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Open: bad descriptor '' (it needs an owner and a DACL)" },
        { good + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Imported\\Open]\n;sddl=O:BA\n", "bad descriptor 'O:BA'" },
        { good + "[HKEY_LOCAL_MACHINE\\NEWHIVE]\n", "HKEY_LOCAL_MACHINE\\NEWHIVE is not in a hive of the machine" },
        { good + "[HKEY_CLASSES_ROOT\\x]\n", "HKEY_CLASSES_ROOT\\x: not below HKEY_LOCAL_MACHINE or HKEY_USERS" },
    };
    for (auto& [text, problem] : cases) {
        std::ofstream(file, std::ios::trunc) << text;
        auto r = m.tool({ "reg", "import", m.dir(), file });
        EXPECT_EQ(r.exitCode, 1) << text;
        EXPECT_NE(r.out.find(problem), std::string::npos) << r.out;
        // One transaction: the good key before the error is not there either.
        EXPECT_EQ(m.tool({ "reg", "export", m.dir(), "HKLM\\SOFTWARE" }).out, before.out) << text;
    }

    // An endless input is refused once it passes the stated size.
    auto endless = m.tool({ "reg", "import", m.dir(), "/dev/zero" });
    EXPECT_EQ(endless.exitCode, 1);
    EXPECT_NE(endless.out.find("/dev/zero: larger than 64 MB, the most reg import loads"), std::string::npos) << endless.out;

    // The import writes as the system, whoever is at the keyboard: the
    // guest could not have written these.
    std::ofstream(file, std::ios::trunc) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_QZVMDM\\0000]\n"
                                            "\"Service\"=\"Qzvmdm\"\n\n"
                                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Locked]\n;sddl=O:SYD:(A;;KR;;;WD)\n";
    auto imported = m.tool({ "reg", "import", m.dir(), file });
    ASSERT_EQ(imported.exitCode, 0) << imported.out;
    EXPECT_EQ(m.tool({ "reg", "sddl", m.dir(), "HKLM\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_QZVMDM\\0000" }).out,
        "O:BAG:SYD:(A;CIID;KA;;;SY)(A;CIID;KR;;;WD)\n");
    EXPECT_EQ(m.tool({ "reg", "sddl", m.dir(), "HKLM\\SOFTWARE\\Locked" }).out, "O:SYD:(A;;KR;;;WD)\n");
    auto help = m.tool({ "reg", "import", "--help" });
    EXPECT_NE(help.out.find("as the machine's system account, offline"), std::string::npos) << help.out;
    EXPECT_NE(help.out.find("at most 64 MB"), std::string::npos) << help.out;
}
