// The program's start-up refusals, run as the built SETUP.EXE in fresh
// machines with a script desk.
#include "support/SetupRun.h"
#include "support/TestMachine.h"

#include <gtest/gtest.h>

namespace {

const char setup[] = "C:\\MODEM\\SETUP.EXE";
const char ownCaption[] = "Installation Error";
const char noResourceFile[] = "Unable to load the Setup program resource file.\nCopy the file to the Setup directory and re-run Setup.";
const char noAccess[] = "The wizard cannot proceed because it does not have access to the system data files. You must be logged in as a system administrator to run this program.";

void ExpectOneBox(const test::RunResult& run, const std::string& caption, std::string text, unsigned style)
{
    EXPECT_EQ(run.transcript.size(), 1u) << run.out;
    for (size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 2)
        text.replace(at, 1, "\\n");
    EXPECT_EQ(test::boxLines(run.transcript),
        test::Lines { "box none " + test::styleName(style) + " " + caption + ": " + text + " -> ok" });
    // The refusals let go of the resource library and the key they tried.
    test::expectHandlesAtExit(run);
}
}

TEST(AppStartup, ANonMmxProcessorIsRefusedBeforeAnythingElse)
{
    test::TestMachine m;
    m.set("cpu.mmx=false");
    auto run = m.run({ setup, "-l" }, { "ok" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectOneBox(run, "Brimlow Error", "Can't Install Modem On a Non MMX Machine", 0x10);
    EXPECT_FALSE(m.exists("C:\\MODEM\\SETUP.TXT")) << "no log exists yet at that point";

    // A processor without CPUID at all is refused the same way.
    test::TestMachine old;
    old.set("cpu.cpuid=false");
    auto oldRun = old.run({ setup }, { "ok" });
    ExpectOneBox(oldRun, "Brimlow Error", "Can't Install Modem On a Non MMX Machine", 0x10);
}

TEST(AppStartup, WithoutTheResourceLibraryTheOwnStringsAreShownAndNoRightsAreChecked)
{
    for (const char* user : { "administrator", "guest" }) {
        SCOPED_TRACE(user);
        test::TestMachine m;
        m.set(std::string("user=") + user);
        m.remove("C:\\MODEM\\setupres.dll");
        auto run = m.run({ setup }, { "ok" });
        EXPECT_EQ(run.exitCode, 0) << run.out;
        ExpectOneBox(run, ownCaption, noResourceFile, 0);
    }
}

TEST(AppStartup, AUserWhoMayNotChangeTheDeviceTreeIsTold)
{
    test::TestMachine m;
    m.set("user=guest");
    auto run = m.run({ setup, "-l" }, { "ok" });
    EXPECT_EQ(run.exitCode, 0) << run.out;
    ExpectOneBox(run, ownCaption, noAccess, 0);
    EXPECT_FALSE(m.exists("C:\\MODEM\\SETUP.TXT")) << "start-up writes no trace line";
}

TEST(AppStartup, AnAdministratorPassesTheChecksWithoutABox)
{
    test::TestMachine m;
    auto run = m.run({ setup, "-s" }, {});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(run.transcript.empty()) << run.out;
    test::expectHandlesAtExit(run);
}

TEST(AppStartup, AScriptWithoutAnAnswerEndsTheRunNamingTheBox)
{
    test::TestMachine m;
    m.set("cpu.mmx=false");
    auto run = m.run({ setup }, {});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.out.find("Brimlow Error"), std::string::npos) << run.out;
}

TEST(AppStartup, TheBoxesSpeakTheMachinesLanguage)
{
    test::TestMachine m;
    m.set("user=guest");
    m.set("locale=0407");
    auto run = m.run({ setup }, { "ok" });
    ExpectOneBox(run, "Installationsfehler",
        "Der Assistent kann nicht fortfahren, da er keinen Zugriff auf die Datendateien des Systems hat. "
        "Sie müssen als Systemadministrator angemeldet sein, um dieses Programm auszuführen.",
        0);

    test::TestMachine japanese;
    japanese.set("locale=0411");
    japanese.remove("C:\\MODEM\\setupres.dll");
    auto jaRun = japanese.run({ setup }, { "ok" });
    // The program's own table in code page 932, shown as UTF-8.
    ExpectOneBox(jaRun, "インストール エラー",
        "セットアップ プログラムのリソース ファイルを読み込めません。\n"
        "ファイルをセットアップ ディレクトリにコピーしてから、セットアップをもう一度実行してください。",
        0);
}
