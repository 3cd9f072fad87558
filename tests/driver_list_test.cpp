#include "driver/DriverList.h"

#include "support/DriverHarness.h"

#include <gtest/gtest.h>

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
