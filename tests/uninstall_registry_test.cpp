// The uninstall's registry work: the fixed DACL, the deletion of a key
// tree, and the legacy traces of a removed service.
#include "uninstall/KeyAccess.h"
#include "uninstall/LegacyCleanup.h"

#include "support/DriverHarness.h"
#include "support/RegistryProbe.h"
#include "support/SetupRun.h"

#include <gtest/gtest.h>

using Lines = std::vector<std::string>;

using test::KeyExists;

using test::importRegistry;

namespace {

std::string Sddl(test::TestMachine& m, const std::string& key)
{
    auto r = m.tool({ "reg", "sddl", m.dir(), "HKEY_LOCAL_MACHINE\\" + key });
    return r.exitCode == 0 ? r.out : "<no key>";
}

std::string Bytes(const std::string& key, const char* value, DWORD* type = nullptr)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "<no key>";
    std::string data(4096, '\0');
    DWORD size = static_cast<DWORD>(data.size());
    LONG r = RegQueryValueExA(h, value, nullptr, type, reinterpret_cast<BYTE*>(&data[0]), &size);
    RegCloseKey(h);
    if (r != ERROR_SUCCESS)
        return "<no value>";
    data.resize(size);
    return data;
}

// A multi-string as regedit writes it.
std::string MultiSz(std::initializer_list<std::string> strings)
{
    std::string hex = "hex(7):";
    std::string bytes;
    for (auto& s : strings)
        bytes += s + '\0';
    bytes += '\0';
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, "%02x", static_cast<unsigned char>(bytes[i]));
        hex += (i ? "," : "") + std::string(b);
    }
    return hex;
}

const char tree[] = "SOFTWARE\\Tree";
const char fixedDacl[] = "D:(A;;KR;;;IU)(A;;KA;;;BA)";

}

TEST(KeyAccess, KillRemovesATwoLevelTreeGrantingAccessToEachKeyBeforeOpeningIt)
{
    test::DriverHarness h;
    // Every key readable only: the owner's implicit WRITE_DAC is the way in.
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree]\n;sddl=O:BAD:P(A;;KR;;;WD)\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\A]\n;sddl=O:BAD:P(A;;KR;;;WD)\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\A\\A1]\n;sddl=O:BAD:P(A;;KR;;;WD)\n\"v\"=\"1\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\B]\n;sddl=O:BAD:P(A;;KR;;;WD)\n\n");
    HKEY hSoftware;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE", 0, KEY_READ, &hSoftware), ERROR_SUCCESS);
    h.newLogLines();
    EXPECT_TRUE(KillThisKeyAndAllItsSubkeys(hSoftware, "Tree"));
    RegCloseKey(hSoftware);
    EXPECT_EQ(h.newLogLines(), (Lines {
                                   "KillThisKeyAndAllItsSubkeys requesting access to Tree",
                                   "AllowAccessToKey opening Tree for WRITE_DAC access",
                                   "KillThisKeyAndAllItsSubkeys opening Tree",
                                   "KillThisKeyAndAllItsSubkeys RegEnumKeyEx found A",
                                   "KillThisKeyAndAllItsSubkeys RegEnumKeyEx found B",
                                   "KillThisKeyAndAllItsSubkeys requesting access to A",
                                   "AllowAccessToKey opening A for WRITE_DAC access",
                                   "KillThisKeyAndAllItsSubkeys opening A",
                                   "KillThisKeyAndAllItsSubkeys RegEnumKeyEx found A1",
                                   "KillThisKeyAndAllItsSubkeys requesting access to A1",
                                   "AllowAccessToKey opening A1 for WRITE_DAC access",
                                   "KillThisKeyAndAllItsSubkeys opening A1",
                                   "KillThisKeyAndAllItsSubkeys deleting A1",
                                   "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                                   "KillThisKeyAndAllItsSubkeys deleting A",
                                   "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                                   "KillThisKeyAndAllItsSubkeys requesting access to B",
                                   "AllowAccessToKey opening B for WRITE_DAC access",
                                   "KillThisKeyAndAllItsSubkeys opening B",
                                   "KillThisKeyAndAllItsSubkeys deleting B",
                                   "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                                   "KillThisKeyAndAllItsSubkeys deleting Tree",
                                   "KillThisKeyAndAllItsSubkeys returned BOOLEAN 1",
                               }));
    EXPECT_FALSE(KeyExists(tree));
    EXPECT_TRUE(KeyExists("SOFTWARE\\Microsoft"));
}

TEST(KeyAccess, AMissingKeyOrOneThatCannotBeTakenOverIsLeftAlone)
{
    test::DriverHarness h;
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree]\n;sddl=O:BAD:P(A;;KR;;;WD)\n\n"
                        // Owned by the system, and no right to change its DACL: it stays.
                        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tree\\Locked]\n;sddl=O:SYD:P(A;;KR;;;WD)\n\n");
    h.newLogLines();
    EXPECT_FALSE(KillThisKeyAndAllItsSubkeys(HKEY_LOCAL_MACHINE, "SOFTWARE\\Nothing"));
    EXPECT_EQ(h.newLogLines(), (Lines { "KillThisKeyAndAllItsSubkeys requesting access to SOFTWARE\\Nothing",
                                   "AllowAccessToKey opening SOFTWARE\\Nothing for WRITE_DAC access",
                                   "AllowAccessToKey RegOpenKeyEx returned 2",
                                   "KillThisKeyAndAllItsSubkeys returned BOOLEAN 0" }));

    EXPECT_FALSE(KillThisKeyAndAllItsSubkeys(HKEY_LOCAL_MACHINE, tree));
    Lines lines = h.newLogLines();
    ASSERT_GE(lines.size(), 3u);
    // The child's failure, then the parent's refused deletion.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "AllowAccessToKey RegOpenKeyEx returned 5"), lines.end());
    EXPECT_EQ(lines[lines.size() - 3], "KillThisKeyAndAllItsSubkeys deleting SOFTWARE\\Tree");
    EXPECT_EQ(lines[lines.size() - 2].rfind("KillThisKeyAndAllItsSubkeys RegDeleteKey returned ", 0), 0u);
    EXPECT_EQ(lines.back(), "KillThisKeyAndAllItsSubkeys returned BOOLEAN 0");
    EXPECT_TRUE(KeyExists("SOFTWARE\\Tree\\Locked"));
    // The parent's DACL stays replaced: there is no roll-back.
    EXPECT_EQ(Sddl(h.machine(), tree), std::string("O:BA") + fixedDacl + "\n");
}

TEST(KeyAccess, AllowAccessWritesExactlyTheTwoEntriesAndKeepsTheOwner)
{
    test::DriverHarness h;
    const std::string before = Sddl(h.machine(), "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0");
    ASSERT_EQ(before.rfind("O:BAG:SY", 0), 0u) << before;
    EXPECT_TRUE(AllowAccessToKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0"));
    EXPECT_EQ(Sddl(h.machine(), "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0"), std::string("O:BAG:SY") + fixedDacl + "\n");
    // Written again over itself.
    EXPECT_TRUE(AllowAccessToKey(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0"));
    EXPECT_EQ(Sddl(h.machine(), "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0"), std::string("O:BAG:SY") + fixedDacl + "\n");
    EXPECT_EQ(h.newLogLines().size(), 2u);
}

TEST(LegacyCleanup, TheLegacyKeyIsUpperCasedAndTheEventLogKeyTakenAsSpelled)
{
    test::DriverHarness h;
    importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_MDMDRV\\0000]\n\"Service\"=\"MdmDrv\"\n\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\MdmDrv]\n"
                        "\"TypesSupported\"=dword:00000007\n\n");
    h.newLogLines();
    EXPECT_TRUE(RemoveEnumRootDriverKey("MdmDrv"));
    Lines lines = h.newLogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "RemoveEnumRootDriverKey Asking Permission to open SYSTEM\\CurrentControlSet\\Enum\\Root\\");
    EXPECT_EQ(lines[1], "AllowAccessToKey opening SYSTEM\\CurrentControlSet\\Enum\\Root\\ for WRITE_DAC access");
    EXPECT_EQ(lines[2], "RemoveEnumRootDriverKey Opening SYSTEM\\CurrentControlSet\\Enum\\Root\\");
    EXPECT_EQ(lines[3], "RemoveEnumRootDriverKey removing LEGACY_MDMDRV and all subkeys");
    EXPECT_EQ(lines.back(), "RemoveEnumRootDriverKey bRet 1");
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_MDMDRV"));
    EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Enum\\Root\\LEGACY_SERIAL\\0000"));
    EXPECT_EQ(Sddl(h.machine(), "SYSTEM\\CurrentControlSet\\Enum\\Root"), std::string("O:BAG:SY") + fixedDacl + "\n");

    EXPECT_TRUE(RemoveEventLogDriverKey("MdmDrv"));
    lines = h.newLogLines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[3], "RemoveEventLogDriverKey removing MdmDrv and all subkeys");
    EXPECT_EQ(lines.back(), "RemoveEventLogDriverKey bRet 1");
    EXPECT_FALSE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\MdmDrv"));
    EXPECT_TRUE(KeyExists("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\Serial"));

    // Gone already: the deletion fails at its own access step.
    EXPECT_FALSE(RemoveEventLogDriverKey("MdmDrv"));
    EXPECT_EQ(h.newLogLines().back(), "RemoveEventLogDriverKey bRet 0");

    // No service name: no registry access at all.
    EXPECT_FALSE(RemoveEnumRootDriverKey(nullptr));
    EXPECT_FALSE(RemoveEventLogDriverKey(nullptr));
    EXPECT_FALSE(RemoveEnumHtreeDriverString(nullptr));
    EXPECT_EQ(h.newLogLines(), (Lines { "RemoveEnumRootDriverKey bRet 0", "RemoveEventLogDriverKey bRet 0",
                                   "RemoveEnumHtreeDriverString returning BOOLEAN 0" }));
}

TEST(LegacyCleanup, AttachedComponentsLosesEveryEntryThatHoldsTheServiceName)
{
    test::DriverHarness h;
    const std::string htree = "SYSTEM\\CurrentControlSet\\Enum\\HTREE\\Root\\0";
    auto seed = [&](const std::string& data) {
        importRegistry(h.machine(), "[HKEY_LOCAL_MACHINE\\" + htree + "]\n\"AttachedComponents\"=" + data + "\n");
        h.newLogLines();
    };

    // The worked example: 49 bytes down to 25.
    seed(MultiSz({ "Root\\LEGACY_MDMDRV\\0000", "Root\\LEGACY_SERIAL\\0000" }));
    EXPECT_TRUE(RemoveEnumHtreeDriverString("MdmDrv"));
    EXPECT_EQ(h.newLogLines(), (Lines {
                                   "RemoveEnumHtreeDriverString Asking Permission to open " + htree,
                                   "AllowAccessToKey opening " + htree + " for WRITE_DAC access",
                                   "RemoveEnumHtreeDriverString Opening " + htree,
                                   "RemoveEnumHtreeDriverString Sizing AttachedComponents",
                                   "RemoveEnumHtreeDriverString Size is 49 bytes",
                                   "RemoveEnumHtreeDriverString Reading AttachedComponents",
                                   "RemoveEnumHtreeDriverString Writing AttachedComponents",
                                   "RemoveEnumHtreeDriverString returning BOOLEAN 1",
                               }));
    DWORD type = 0;
    EXPECT_EQ(Bytes(htree, "AttachedComponents", &type), std::string("Root\\LEGACY_SERIAL\\0000\0\0", 25));
    EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));

    // No entry of the service: the same strings, the same size.
    seed(MultiSz({ "Root\\LEGACY_SERIAL\\0000", "Root\\LEGACY_BEEP\\0000" }));
    std::string unchanged = Bytes(htree, "AttachedComponents");
    EXPECT_TRUE(RemoveEnumHtreeDriverString("MdmDrv"));
    EXPECT_EQ(Bytes(htree, "AttachedComponents"), unchanged);

    // Two entries, in either case, and a longer name holding the service's.
    seed(MultiSz({ "Root\\legacy_mdm\\0000", "Root\\LEGACY_SERIAL\\0000", "Root\\LEGACY_MDMX\\0000" }));
    EXPECT_TRUE(RemoveEnumHtreeDriverString("Mdm"));
    EXPECT_EQ(Bytes(htree, "AttachedComponents"), std::string("Root\\LEGACY_SERIAL\\0000\0\0", 25));

    // An empty list, and a value of no bytes at all. RegQueryValueEx hands
    // a multi-string out with both its terminators.
    seed("hex(7):00");
    EXPECT_TRUE(RemoveEnumHtreeDriverString("Mdm"));
    EXPECT_EQ(Bytes(htree, "AttachedComponents"), std::string(2, '\0'));
    seed("hex(7):");
    EXPECT_TRUE(RemoveEnumHtreeDriverString("Mdm"));
    EXPECT_EQ(Bytes(htree, "AttachedComponents"), "");

    // A list that is not terminated is left alone when nothing matches (and
    // read back with its terminators).
    seed("hex(7):41,42,43");
    EXPECT_TRUE(RemoveEnumHtreeDriverString("Mdm"));
    EXPECT_EQ(Bytes(htree, "AttachedComponents"), std::string("ABC\0\0", 5));
}
