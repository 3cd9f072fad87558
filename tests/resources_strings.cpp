#include "resources_helpers.h"
#include "support/TestMachine.h"

#include "machine/CodePage.h"
#include "kernel32/ModuleList.h"
#include "machine/Machine.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace restest;

namespace {

// The program's own .res as the build embeds it; it must outlive the test.
const std::string& ownResources()
{
    static const std::string bytes = readHostFile(test::buildDir() + "/setup_res_embedded.res");
    return bytes;
}

void registerOwnResources()
{
    ASSERT_FALSE(ownResources().empty());
    ntsim_set_image_resources(reinterpret_cast<const unsigned char*>(ownResources().data()), ownResources().size());
}

void expectSameIdsInAllLanguages(HMODULE module, const char* what)
{
    for (auto& language : languages()) {
        auto strings = stringsOf(module, language.id);
        std::vector<UINT> ids;
        for (auto& [id, text] : strings) {
            ids.push_back(id);
            // Every text must survive the trip through its ANSI code page.
            std::string ansi;
            EXPECT_TRUE(ntsim::fromUtf16(text, language.codePage, ansi)) << what << " " << language.name << " " << id;
            EXPECT_EQ(utf16(ansi, language.codePage), text) << what << " " << language.name << " " << id;
        }
        std::vector<UINT> expected;
        for (auto& [id, text] : englishTexts())
            expected.push_back(id);
        EXPECT_EQ(ids, expected) << what << " " << language.name;
        if (language.id != 0x0009) {
            // Translated, not copied: the title differs from the English one.
            EXPECT_NE(strings[13], utf16(englishTexts().at(13), 1252)) << what << " " << language.name;
        }
    }
}

}

TEST(ResourcesStrings, BothModulesHaveTheSameIdsInAllFourteenLanguages)
{
    test::TestMachine m;
    m.attach();
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr) << GetLastError();
    expectSameIdsInAllLanguages(library, "setupres.dll");
    registerOwnResources();
    expectSameIdsInAllLanguages(nullptr, "SETUP.EXE");
    // Ids that do not exist in any language.
    for (UINT id : { 115u, 118u, 123u, 126u }) {
        char buffer[16] = "unchanged";
        EXPECT_EQ(LoadStringA(library, id, buffer, sizeof buffer), 0) << id;
        EXPECT_EQ(buffer[0], 0) << id;
    }
    EXPECT_TRUE(FreeLibrary(library));
}

TEST(ResourcesStrings, EnglishTextsAreExact)
{
    test::TestMachine m;
    m.attach();
    registerOwnResources();
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr);
    for (HMODULE module : { library, static_cast<HMODULE>(nullptr) }) {
        for (auto& [id, text] : englishTexts()) {
            char buffer[256];
            int length = LoadStringA(module, id, buffer, sizeof buffer);
            EXPECT_EQ(length, static_cast<int>(text.size())) << id;
            EXPECT_EQ(std::string(buffer), text) << id;
        }
    }
    char buffer[256];
    LoadStringA(library, 11, buffer, sizeof buffer);
    EXPECT_NE(std::string(buffer).find("setup  INF"), std::string::npos);
    LoadStringA(library, 2, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer).find('\n'), std::string("Unable to load the Setup program resource file.").size());
    FreeLibrary(library);
}

TEST(ResourcesStrings, LoaderPicksTheLocalesLanguage)
{
    test::TestMachine m;
    m.set("locale=0407");
    m.attach();
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr);
    char buffer[256];
    EXPECT_EQ(LoadStringA(library, 13, buffer, sizeof buffer), 39);
    EXPECT_EQ(std::string(buffer), "Installations-Assistent f\xFCr Modemkarten");
    LoadStringA(library, 1, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "Installationsfehler");

    // Japanese: the text arrives in code page 932.
    auto& config = ntsim::Machine::current().config();
    config.locale = 0x0411;
    config.codePage = 932;
    int length = LoadStringA(library, 13, buffer, sizeof buffer);
    EXPECT_EQ(utf16(std::string(buffer, length), 932),
        u"\u30e2\u30c7\u30e0 \u30dc\u30fc\u30c9 \u30a4\u30f3\u30b9\u30c8\u30fc\u30eb \u30a6\u30a3\u30b6\u30fc\u30c9");
    EXPECT_EQ(FindResourceA(library, MAKEINTRESOURCEA(1), RT_STRING),
        FindResourceExA(library, RT_STRING, MAKEINTRESOURCEA(1), 0x0011));

    // Traditional Chinese matches its exact language id, Simplified its own.
    config.locale = 0x0404;
    config.codePage = 950;
    length = LoadStringA(library, 1, buffer, sizeof buffer);
    EXPECT_EQ(utf16(std::string(buffer, length), 950), u"\u5b89\u88dd\u932f\u8aa4");
    config.locale = 0x0804;
    config.codePage = 936;
    length = LoadStringA(library, 1, buffer, sizeof buffer);
    EXPECT_EQ(utf16(std::string(buffer, length), 936), u"\u5b89\u88c5\u9519\u8bef");

    // A sublanguage without a table of its own gets its primary language.
    config.locale = 0x0C0A;
    config.codePage = 1252;
    LoadStringA(library, 1, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "Error de instalaci\xF3n");

    // A locale without any table falls back to English.
    config.locale = 0x0419;
    LoadStringA(library, 1, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), "Installation Error");
    FreeLibrary(library);
}

TEST(ResourcesStrings, LoadStringTruncatesAsWindows)
{
    test::TestMachine m;
    m.attach();
    HMODULE library = LoadLibraryA("setupres.dll");
    ASSERT_NE(library, nullptr);
    char buffer[32];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(library, 13, buffer, 6), 5);
    EXPECT_EQ(std::string(buffer), "Modem");
    EXPECT_EQ(buffer[6], 'x');
    EXPECT_EQ(LoadStringA(library, 13, buffer, 1), 0);
    EXPECT_EQ(buffer[0], 0);
    SetLastError(0);
    EXPECT_EQ(LoadStringA(library, 13, buffer, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // A missing block fails as FindResource does.
    SetLastError(0);
    EXPECT_EQ(LoadStringA(library, 5000, buffer, sizeof buffer), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(buffer[0], 0);

    // Double-byte characters are never cut in half.
    auto& config = ntsim::Machine::current().config();
    config.locale = 0x0411;
    config.codePage = 932;
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(LoadStringA(library, 1, buffer, 4), 2);
    EXPECT_EQ(utf16(std::string(buffer, 2), 932), u"\u30a4");
    EXPECT_EQ(buffer[2], 0);
    FreeLibrary(library);
}
