#include "resources_helpers.h"
#include "support/Bytes.h"
#include "support/TestMachine.h"

#include "kernel32/ModuleList.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace restest;
using test::le32;

namespace {

WORD le16(const std::string& b, size_t o) { return static_cast<WORD>(static_cast<BYTE>(b[o]) | static_cast<BYTE>(b[o + 1]) << 8); }

void expectItem(const DialogTemplate& d, WORD id, DWORD style, short x, short y, short cx, short cy, const std::string& where)
{
    const DialogItem* item = d.item(id);
    ASSERT_NE(item, nullptr) << where << " control " << id;
    EXPECT_EQ(item->style, style) << where << " control " << id;
    EXPECT_EQ(item->x, x) << where << " control " << id;
    EXPECT_EQ(item->y, y) << where << " control " << id;
    EXPECT_EQ(item->cx, cx) << where << " control " << id;
    EXPECT_EQ(item->cy, cy) << where << " control " << id;
    EXPECT_EQ(item->classAtom, 0x0082) << where << " control " << id;
}

// The layout every template shares, and each page's own controls and texts.
void expectPages(HMODULE module, WORD language, const std::string& what)
{
    auto strings = stringsOf(module, language);
    struct Page {
        WORD id;
        UINT top, bottom;
        int middle; // string id, 0 for the sunken frame, -1 for none
    };
    const Page pages[] = {
        { 101, 111, 113, 112 }, { 102, 114, 116, 0 }, { 103, 117, 119, -1 },
        { 104, 120, 121, -1 }, { 105, 122, 124, 0 }, { 106, 125, 127, -1 },
    };
    for (auto& page : pages) {
        std::string where = what + " template " + std::to_string(page.id) + " language " + std::to_string(language);
        std::string bytes = resourceBytes(module, RT_DIALOG, page.id, language);
        ASSERT_FALSE(bytes.empty()) << where;
        DialogTemplate d = parseDialog(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
        ASSERT_TRUE(d.valid) << where;
        EXPECT_EQ(d.style, 0x400000C0u) << where;
        EXPECT_EQ(d.cx, 304) << where;
        EXPECT_EQ(d.cy, 172) << where;
        EXPECT_TRUE(d.caption.empty()) << where;
        EXPECT_EQ(d.pointSize, 8) << where;
        EXPECT_EQ(d.font, u"MS Sans Serif") << where;

        expectItem(d, 0xFFFF, 0x5000000E, 0, 0, 105, 171, where);
        if (auto* picture = d.item(0xFFFF)) {
            EXPECT_EQ(picture->titleOrdinal, 110) << where;
        }
        if (page.id == 102)
            expectItem(d, 1000, 0x50020000, 112, 6, 175, 32, where);
        else
            expectItem(d, 1000, 0x50020000, 118, 4, 175, 32, where);
        expectItem(d, 1001, 0x50020000, 118, 134, 175, 32, where);
        ASSERT_NE(d.item(1000), nullptr);
        ASSERT_NE(d.item(1001), nullptr);
        EXPECT_EQ(d.item(1000)->title, strings[page.top]) << where;
        EXPECT_EQ(d.item(1001)->title, strings[page.bottom]) << where;
        if (page.middle > 0) {
            expectItem(d, 1002, 0x50020000, 118, 50, 175, 80, where);
            if (auto* middle = d.item(1002)) {
                EXPECT_EQ(middle->title, strings[page.middle]) << where;
            }
        } else if (page.middle == 0) {
            expectItem(d, 1002, 0x50821000, 118, 50, 175, 80, where);
        } else {
            EXPECT_EQ(d.item(1002), nullptr) << where;
        }
        if (page.id == 102) {
            const DialogItem* check = d.item(1003);
            ASSERT_NE(check, nullptr) << where;
            EXPECT_EQ(check->style, 0x50010003u) << where;
            EXPECT_EQ(check->classAtom, 0x0080) << where;
            EXPECT_EQ(check->title, u"Check1") << where;
            EXPECT_EQ(std::vector<short>({ check->x, check->y, check->cx, check->cy }), std::vector<short>({ 143, 12, 41, 10 }));
        } else {
            EXPECT_EQ(d.item(1003), nullptr) << where;
        }
        bool needs1006 = page.id == 102 || page.id == 103 || page.id == 105 || page.id == 106;
        EXPECT_EQ(d.item(1006) != nullptr, needs1006) << where;
    }
}

void expectWizardBitmap(HMODULE module, const std::string& what)
{
    HRSRC info = FindResourceA(module, MAKEINTRESOURCEA(110), RT_BITMAP);
    ASSERT_NE(info, nullptr) << what;
    const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module, info)));
    ASSERT_NE(data, nullptr);
    std::string bytes(reinterpret_cast<const char*>(data), SizeofResource(module, info));
    ASSERT_GE(bytes.size(), 40u + 64u);
    EXPECT_EQ(le32(bytes, 0), 40u) << what;
    EXPECT_EQ(le32(bytes, 4), 158u) << what;
    EXPECT_EQ(le32(bytes, 8), 278u) << what;
    EXPECT_EQ(le16(bytes, 12), 1) << what;
    EXPECT_EQ(le16(bytes, 14), 4) << what;
    EXPECT_EQ(bytes.size(), 40u + 16 * 4 + 80u * 278) << what;
    // A picture, not a blank: it uses many of its sixteen colours.
    std::vector<bool> used(16);
    for (size_t i = 40 + 64; i < bytes.size(); ++i) {
        used[static_cast<BYTE>(bytes[i]) >> 4] = true;
        used[static_cast<BYTE>(bytes[i]) & 15] = true;
    }
    EXPECT_GE(std::count(used.begin(), used.end(), true), 10) << what;
}

}

TEST(ResourcesLibrary, SetupresIsA32BitResourceDll)
{
    test::TestMachine m;
    std::string dll = readHostFile(m.host("C:\\MODEM\\setupres.dll"));
    ASSERT_GE(dll.size(), 0x200u);
    EXPECT_EQ(dll.substr(0, 2), "MZ");
    size_t pe = le32(dll, 0x3C);
    ASSERT_LT(pe + 24 + 96, dll.size());
    EXPECT_EQ(dll.substr(pe, 4), std::string("PE\0\0", 4));
    EXPECT_EQ(le16(dll, pe + 4), 0x014C);                   // i386
    EXPECT_TRUE(le16(dll, pe + 4 + 18) & 0x2000);           // a DLL
    EXPECT_EQ(le16(dll, pe + 24), 0x010B);                  // PE32
    EXPECT_EQ(le32(dll, pe + 24 + 16), 0u);                 // no entry point
}

TEST(ResourcesLibrary, TemplatesAndBitmapOfTheLibrary)
{
    test::TestMachine m;
    m.attach();
    HMODULE library = LoadLibraryA("C:\\MODEM\\SETUPRES.DLL");
    ASSERT_NE(library, nullptr) << GetLastError();
    for (auto& language : languages())
        expectPages(library, language.id, "setupres.dll");
    expectWizardBitmap(library, "setupres.dll");
    FreeLibrary(library);
}

TEST(ResourcesLibrary, OwnModuleTemplatesIconAndVersion)
{
    test::TestMachine m;
    m.attach();
    static const std::string res = readHostFile(test::buildDir() + "/setup_res_embedded.res");
    ASSERT_FALSE(res.empty());
    ntsim_set_image_resources(reinterpret_cast<const unsigned char*>(res.data()), res.size());
    expectPages(nullptr, 0x0009, "SETUP.EXE");
    expectWizardBitmap(nullptr, "SETUP.EXE");

    // The icon group: a 32 x 32 and a 16 x 16 image of 16 colours.
    HRSRC group = FindResourceA(nullptr, MAKEINTRESOURCEA(128), RT_GROUP_ICON);
    ASSERT_NE(group, nullptr);
    std::string dir(static_cast<const char*>(LockResource(LoadResource(nullptr, group))), SizeofResource(nullptr, group));
    ASSERT_EQ(dir.size(), 6u + 2 * 14);
    EXPECT_EQ(le16(dir, 4), 2);
    for (int i = 0; i < 2; ++i) {
        size_t e = 6 + 14 * i;
        EXPECT_EQ(static_cast<BYTE>(dir[e]), i == 0 ? 32 : 16);
        EXPECT_EQ(static_cast<BYTE>(dir[e + 1]), i == 0 ? 32 : 16);
        EXPECT_EQ(static_cast<BYTE>(dir[e + 2]), 16);
        WORD iconId = le16(dir, e + 12);
        std::string image = resourceBytes(nullptr, RT_ICON, iconId, 0);
        ASSERT_GE(image.size(), 40u);
        EXPECT_EQ(le32(image, 4), i == 0 ? 32u : 16u);
        EXPECT_EQ(le16(image, 14), 4);
    }

    // The version record: 1.0.0.1 and its texts.
    std::string version = resourceBytes(nullptr, RT_VERSION, 1, 0);
    ASSERT_GT(version.size(), 92u);
    size_t fixed = 40; // after the header and the key "VS_VERSION_INFO"
    EXPECT_EQ(le32(version, fixed), 0xFEEF04BDu);
    EXPECT_EQ(le32(version, fixed + 8), 0x00010000u);
    EXPECT_EQ(le32(version, fixed + 12), 0x00000001u);
    EXPECT_EQ(le32(version, fixed + 16), 0x00010000u);
    EXPECT_EQ(le32(version, fixed + 20), 0x00000001u);
    std::u16string text;
    for (size_t i = 0; i + 1 < version.size(); i += 2)
        text += static_cast<char16_t>(le16(version, i));
    for (const char16_t* expected : { u"FileDescription", u"SETUP Application", u"1, 0, 0, 1", u"InternalName",
             u"OriginalFilename", u"SETUP.EXE", u"ProductName" })
        EXPECT_NE(text.find(expected), std::u16string::npos);
}
