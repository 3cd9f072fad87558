#include "driver/DriverList.h"

#include "support/DriverHarness.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

std::string Inf(const std::string& models)
{
    return "[Version]\r\nSignature=\"$Windows NT$\"\r\n\r\n[Models]\r\n" + models;
}

std::vector<std::string> NamesOf(CDriverList& list)
{
    std::vector<std::string> names;
    POSITION position;
    if (!list.Rewind(position))
        return names;
    while (list.Next(position)) {
        char szName[256] = "";
        list.GetName(position, szName, sizeof szName);
        names.push_back(szName);
    }
    return names;
}

std::string PnPEnumIDOf(CDriverList& list)
{
    POSITION position;
    EXPECT_TRUE(list.Rewind(position));
    EXPECT_TRUE(list.Next(position));
    char szID[256] = "";
    list.GetPnPEnumID(position, szID, sizeof szID);
    return szID;
}

const char inf[] = "C:\\MODEM\\DRV_MEQ.INF";

}

TEST(DriverList, ReadsEveryLineUntilOneLacksAField)
{
    test::DriverHarness h;
    h.machine().write(inf, Inf("One = SECT1, ROOT\\ONE\r\nTwo = SECT2, ROOT\\TWO\r\nThree = SECT3\r\nFour = SECT4, X\r\n"));
    CDriverList list(inf, "Models");
    EXPECT_EQ(NamesOf(list), (std::vector<std::string> { "One", "Two" }));
    EXPECT_EQ(list.GetCount(), 2);
}

TEST(DriverList, AFieldLongerThanItsBufferEndsTheReading)
{
    test::DriverHarness h;
    std::string key127(127, 'k');
    std::string key128(128, 'k');
    std::string field79(79, 's');
    std::string field80(80, 's');

    h.machine().write(inf, Inf(key127 + " = " + field79 + ", " + field79 + "\r\n"));
    CDriverList fits(inf, "Models");
    EXPECT_EQ(NamesOf(fits), (std::vector<std::string> { key127 }));

    h.machine().write(inf, Inf(key128 + " = S, ID\r\n"));
    CDriverList longKey(inf, "Models");
    POSITION position;
    EXPECT_FALSE(longKey.Rewind(position));
    EXPECT_EQ(position, nullptr);

    h.machine().write(inf, Inf("A = S, ID\r\nB = " + field80 + ", ID\r\nC = S, ID\r\n"));
    CDriverList longSection(inf, "Models");
    EXPECT_EQ(NamesOf(longSection), (std::vector<std::string> { "A" }));

    h.machine().write(inf, Inf("A = S, " + field80 + "\r\n"));
    CDriverList longID(inf, "Models");
    EXPECT_EQ(longID.GetCount(), 0);
}

TEST(DriverList, BackslashesOfTheEnumeratorIdBecomeAmpersands)
{
    test::DriverHarness h;
    h.machine().write(inf, Inf("A = S, PLAIN_ID\r\n"));
    CDriverList plain(inf, "Models");
    EXPECT_EQ(PnPEnumIDOf(plain), "PLAIN_ID");

    h.machine().write(inf, Inf("A = S, PCI\\VEN_1\\DEV_2\r\n"));
    CDriverList two(inf, "Models");
    EXPECT_EQ(PnPEnumIDOf(two), "PCI&VEN_1&DEV_2");
    auto lines = h.newLogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "GetPnPEnumID exit with PCI&VEN_1&DEV_2");
}

TEST(DriverList, WalkingRewindAndNext)
{
    test::DriverHarness h;
    h.machine().write(inf, Inf("Only = S, ID\r\n"));
    CDriverList list(inf, "Models");
    POSITION position = reinterpret_cast<POSITION>(&list);
    ASSERT_TRUE(list.Rewind(position));
    EXPECT_EQ(position, nullptr) << "rewound to before the first driver";
    ASSERT_TRUE(list.Next(position));
    POSITION first = position;
    EXPECT_NE(first, nullptr);
    EXPECT_FALSE(list.Next(position));
    EXPECT_EQ(position, first) << "a failed Next leaves the position where it was";

    for (const char* text : { "", "[Version]\r\nSignature=\"$Windows NT$\"\r\n[Other]\r\nA = S, ID\r\n" }) {
        h.machine().write(inf, text);
        CDriverList empty(inf, "Models");
        EXPECT_FALSE(empty.Rewind(position));
        EXPECT_EQ(position, nullptr);
    }
    h.machine().remove(inf);
    CDriverList missing(inf, "Models");
    EXPECT_FALSE(missing.Rewind(position));
}

TEST(DriverList, AnInfPathTooLongForADriverIsRefused)
{
    test::DriverHarness h;
    std::string deep = "C:\\MODEM\\" + std::string(250, 'd') + "\\DRV_MEQ.INF";
    CDriverList list(deep.c_str(), "Models");
    POSITION position;
    EXPECT_FALSE(list.Rewind(position));
}

TEST(DriverList, InstallAndStartStopsAtAFailedInstall)
{
    test::DriverHarness h;
    h.writeInf(test::DriverHarness::setupInfWith("AddService = Qzvmdm", "XddService = Qzvmdm"));
    CDriverList list(inf, "Models");
    POSITION position;
    ASSERT_TRUE(list.Rewind(position) && list.Next(position));
    h.newLogLines();
    EXPECT_EQ(list.InstallAndStart(position, nullptr), ST_INF_NO_ADDSERVICE_KEY);
    EXPECT_EQ(h.newLogLines(), (test::Lines {
        "GetDriverServiceName calling SetupOpenInfFile for C:\\MODEM\\DRV_MEQ.INF",
        "GetDriverServiceName looking for TAVRELIN_DATAFAX_QZV.Services",
        "GetDriverServiceName 9 (ST_INF_NO_ADDSERVICE_KEY)",
        "GetDriverServiceName exit with uRet 9",
        "GetInfo exit with uRet 9",
        "Install exit with uRet 9",
    })) << "no Start after a failed Install";

    // A Start that fails after a good Install gives its own status.
    h.writeInf(test::DriverHarness::setupInf());
    h.machine().write("C:\\MODEM\\QZVMDM.SYS", "NTSIM DRIVER IMAGE\r\nBehaviour: fail-start\r\n");
    CDriverList good(inf, "Models");
    ASSERT_TRUE(good.Rewind(position) && good.Next(position));
    EXPECT_EQ(good.InstallAndStart(position, nullptr), ST_SCM_CANT_START_SERVICE_REASON_UNKNOWN);
    EXPECT_EQ(h.newLogLines(), test::join({ test::noServiceLines(test::nameReadLines()), {
        "Install exit with uRet 0",
        "GetDriverServiceName got Qzvmdm",
        "GetDriverServiceName exit with uRet 0",
        "open_service exit with uRet 0",
        "Start 27 (ST_SCM_CANT_START_SERVICE_REASON_UNKNOWN)",
        "Start exit with uRet 27",
    } }));
}

TEST(DriverList, StopAndUninstallStopsAtAFailedStop)
{
    test::DriverHarness h;
    h.machine().write("C:\\MODEM\\QZVMDM.SYS", "NTSIM DRIVER IMAGE\r\nBehaviour: refuse-stop\r\n");
    CDriverList list(inf, "Models");
    POSITION position;
    ASSERT_TRUE(list.Rewind(position) && list.Next(position));
    ASSERT_EQ(list.InstallAndStart(position, nullptr), ST_SUCCESS);
    h.newLogLines();

    EXPECT_EQ(list.StopAndUninstall(position, nullptr), ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL);
    EXPECT_EQ(h.newLogLines(), test::join({ test::infoLines("GetInfo state 2 (DRV_S_STARTED)"), {
        "open_service exit with uRet 0",
        "Stop 1052 (ST_SCM_CANT_STOP_SERVICE_INVALID_SERVICE_CONTROL)",
        "Stop exit with uRet 31",
    } })) << "no Uninstall after a failed Stop";
    EXPECT_TRUE(h.machine().exists(test::DriverHarness::driverFile()));
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, test::DriverHarness::serviceKey(), 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST(DriverList, NamesAndIdsAreReplacedAndReadBackWhereTheyFit)
{
    test::DriverHarness h;
    h.machine().write(inf, Inf("Ten_chars_ = S, PCI\\VEN_1\r\n"));
    CDriverList list(inf, "Models");
    POSITION position;
    ASSERT_TRUE(list.Rewind(position) && list.Next(position));
    h.newLogLines();

    char buffer[32] = "unchanged";
    list.GetName(position, buffer, 10);
    EXPECT_STREQ(buffer, "unchanged") << "ten characters do not fit in ten";
    list.GetName(position, buffer, 11);
    EXPECT_STREQ(buffer, "Ten_chars_");
    EXPECT_EQ(h.newLogLines(), (test::Lines { "GetName exit with unchanged", "GetName exit with Ten_chars_" }));

    list.SetName(position, "Brimlow Modem 56K");
    list.SetPnPEnumID(position, "PCI\\VEN_1A7E&DEV_5C21");
    EXPECT_EQ(h.newLogLines(),
        (test::Lines { "SetName exit with Brimlow Modem 56K", "SetPnPEnumID exit with PCI\\VEN_1A7E&DEV_5C21" }));
    list.GetName(position, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "Brimlow Modem 56K");
    list.GetPnPEnumID(position, buffer, sizeof buffer);
    EXPECT_STREQ(buffer, "PCI\\VEN_1A7E&DEV_5C21") << "a set id keeps its backslashes";
    std::strcpy(buffer, "kept");
    list.GetPnPEnumID(position, buffer, 21);
    EXPECT_STREQ(buffer, "kept");
    EXPECT_EQ(h.newLogLines(), (test::Lines { "GetName exit with Brimlow Modem 56K",
                                   "GetPnPEnumID exit with PCI\\VEN_1A7E&DEV_5C21", "GetPnPEnumID exit with kept" }));
}

TEST(DriverList, DestroyingTheListGivesBackEveryDriver)
{
    test::DriverHarness h;
    h.machine().write(inf, Inf("One = S1, ID1\r\nTwo = S2, ID2\r\nThree = S3, ID3\r\n"));
    // The machine's caches fill over the first opens (a listing learns of
    // files the first run made, when its directory's time says so): the
    // lists are made until two in a row leave the same bytes behind.
    size_t settled = 0;
    for (int i = 0, still = 0; i < 20 && still < 2; ++i) {
        { CDriverList warmUp(inf, "Models"); }
        size_t now = test::allocatedBytes();
        still = now == settled ? still + 1 : 0;
        settled = now;
    }

    size_t before = test::allocatedBytes();
    size_t alive = 0;
    {
        CDriverList list(inf, "Models");
        ASSERT_EQ(list.GetCount(), 3);
        alive = test::allocatedBytes();
    }
    size_t after = test::allocatedBytes();
    EXPECT_GE(alive - before, 3 * sizeof(CDriver)) << "the three drivers were measured";
    EXPECT_EQ(after, before) << "all three drivers and the list's nodes were deleted";
}
