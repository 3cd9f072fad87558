// The Windows desk's own formats: its script lines, the transcript's JSON
// strings and its PNG pictures, read back with zlib.
#include "tools/windesk/DeskFormat.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

namespace {

uint32_t big32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(WinDeskFormat, ChecksumsAgreeWithZlib)
{
    const char check[] = "123456789";
    EXPECT_EQ(windesk::crc32(reinterpret_cast<const uint8_t*>(check), 9), 0xCBF43926u);
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>((i * 7919) ^ (i >> 5));
    EXPECT_EQ(windesk::crc32(data.data(), data.size()), ::crc32(0, data.data(), static_cast<uInt>(data.size())));
    EXPECT_EQ(windesk::adler32(data.data(), data.size()), ::adler32(1, data.data(), static_cast<uInt>(data.size())));
}

TEST(WinDeskFormat, PngHoldsThePictureRowByRow)
{
    // Wide enough that the image data takes several stored blocks.
    const uint32_t width = 300, height = 90;
    std::vector<uint8_t> rgb(width * height * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<uint8_t>(i * 31 + (i >> 8));
    std::vector<uint8_t> png = windesk::encodePng(width, height, rgb);

    const uint8_t signature[] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    ASSERT_GT(png.size(), 8u);
    ASSERT_EQ(std::memcmp(png.data(), signature, 8), 0);

    std::vector<uint8_t> idat;
    std::vector<std::string> types;
    for (size_t at = 8; at + 12 <= png.size();) {
        uint32_t length = big32(png, at);
        ASSERT_LE(at + 12 + length, png.size());
        std::string type(png.begin() + at + 4, png.begin() + at + 8);
        types.push_back(type);
        EXPECT_EQ(big32(png, at + 8 + length), ::crc32(0, png.data() + at + 4, length + 4)) << type;
        if (type == "IHDR") {
            ASSERT_EQ(length, 13u);
            EXPECT_EQ(big32(png, at + 8), width);
            EXPECT_EQ(big32(png, at + 12), height);
            EXPECT_EQ(png[at + 16], 8);  // bits a sample
            EXPECT_EQ(png[at + 17], 2);  // RGB
        }
        if (type == "IDAT")
            idat.insert(idat.end(), png.begin() + at + 8, png.begin() + at + 8 + length);
        at += 12 + length;
    }
    EXPECT_EQ(types, (std::vector<std::string> { "IHDR", "IDAT", "IEND" }));

    std::vector<uint8_t> raw((width * 3 + 1) * height + 1);
    uLongf rawSize = raw.size();
    ASSERT_EQ(uncompress(raw.data(), &rawSize, idat.data(), idat.size()), Z_OK);
    ASSERT_EQ(rawSize, (width * 3 + 1) * height);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + y * (width * 3 + 1);
        ASSERT_EQ(row[0], 0) << "row " << y;
        ASSERT_EQ(std::memcmp(row + 1, rgb.data() + y * width * 3, width * 3), 0) << "row " << y;
    }
}

TEST(WinDeskFormat, ScriptLinesAsTheSimulatorsDeskReadsThem)
{
    windesk::ScriptLine line;
    std::string error;
    EXPECT_FALSE(windesk::parseScriptLine("   ", 1, line, error));
    EXPECT_TRUE(error.empty());
    EXPECT_FALSE(windesk::parseScriptLine("# a comment", 2, line, error));
    EXPECT_TRUE(error.empty());

    ASSERT_TRUE(windesk::parseScriptLine("  Next\r", 3, line, error));
    EXPECT_FALSE(line.addressed);
    EXPECT_EQ(line.answer, "next");
    EXPECT_EQ(line.number, 3);

    ASSERT_TRUE(windesk::parseScriptLine("@\"Country Settings\" Select   United States ", 4, line, error)) << error;
    EXPECT_TRUE(line.addressed);
    EXPECT_EQ(line.title, "country settings");
    EXPECT_EQ(line.answer, "select united states");

    ASSERT_TRUE(windesk::parseScriptLine("@\"Say \"\"Hi\"\"\" ok", 5, line, error)) << error;
    EXPECT_EQ(line.title, "say \"hi\"");
    ASSERT_TRUE(windesk::parseScriptLine("@Setup yes", 6, line, error)) << error;
    EXPECT_EQ(line.title, "setup");
    EXPECT_EQ(line.answer, "yes");

    EXPECT_FALSE(windesk::parseScriptLine("@\"Open ok", 7, line, error));
    EXPECT_EQ(error, "line 7: the title has no closing quote");
    EXPECT_FALSE(windesk::parseScriptLine("press the big one", 8, line, error));
    EXPECT_EQ(error, "line 8: \"press the big one\" is not an answer");
    EXPECT_FALSE(windesk::parseScriptLine("select", 9, line, error));
    EXPECT_FALSE(error.empty());
}

TEST(WinDeskFormat, JsonStringsEscapeWhatJsonMust)
{
    EXPECT_EQ(windesk::jsonString("Copy the file.\r\nThen \"retry\" \\ now\t\x01"),
        "\"Copy the file.\\r\\nThen \\\"retry\\\" \\\\ now\\t\\u0001\"");
    EXPECT_EQ(windesk::jsonString("Gr\xc3\xbc\xc3\x9f" "e"), "\"Gr\xc3\xbc\xc3\x9f" "e\"");
}

}
