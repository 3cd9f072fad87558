// The desk, MessageBoxA, pages and the restart prompt: script answers, their
// exhaustion, the transcript.
#include "support/DeskPage.h"
#include "support/DeskFiles.h"
#include "support/TestMachine.h"

#include "machine/FileLock.h"

#include <gtest/gtest.h>
#include <setupapi.h>
#include <windows.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

using test::DeskFiles;

}

TEST(User32Desk, MessageBoxReturnsTheScriptedButtonOfEachType)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "ok", "", "# the OK/Cancel box", "ok", "cancel", "abort", "retry", "ignore", "yes", "no", "cancel",
                          "YES", "no", "retry", "cancel" });
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_ABORTRETRYIGNORE), IDABORT);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_ABORTRETRYIGNORE), IDRETRY);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_ABORTRETRYIGNORE), IDIGNORE);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_RETRYCANCEL), IDRETRY);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_RETRYCANCEL), IDCANCEL);

    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[2], R"({"event":"messagebox","owner":null,"caption":"c","text":"t","style":33,"answer":"cancel"})");
    EXPECT_EQ(lines[9], R"({"event":"messagebox","owner":null,"caption":"c","text":"t","style":4,"answer":"yes"})");
}

TEST(User32Desk, MessageBoxRefusesBadOwnersAndStylesWithoutTakingAnAnswer)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "ok", "ok" });

    SetLastError(0);
    EXPECT_EQ(MessageBoxA(reinterpret_cast<HWND>(0x7777), "t", "c", MB_OK), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    SetLastError(0);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", 6), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_MSGBOX_STYLE));
    EXPECT_TRUE(desk.transcript().empty());

    // A NULL caption is NT's "Error"; an owner window is named by its handle.
    EXPECT_EQ(MessageBoxA(nullptr, "no caption", nullptr, MB_OK), IDOK);
    WNDCLASSA cls {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "DeskOwner";
    ASSERT_NE(RegisterClassA(&cls), 0);
    HWND owner = CreateWindowExA(0, "DeskOwner", "Owner", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(MessageBoxA(owner, "owned", "c", MB_OK), IDOK);
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"({"event":"messagebox","owner":null,"caption":"Error","text":"no caption","style":0,"answer":"ok"})");
    EXPECT_EQ(lines[1], R"({"event":"messagebox","owner":)" + std::to_string(reinterpret_cast<uintptr_t>(owner))
            + R"(,"caption":"c","text":"owned","style":0,"answer":"ok"})");
    DestroyWindow(owner);
}

TEST(User32Desk, TranscriptTextsAreUtf8OfTheMachinesCodePage)
{
    test::TestMachine m;
    m.attach();
    {
        DeskFiles desk(m, { "ok" });
        // Code page 1252: A with diaeresis is 0xC4.
        EXPECT_EQ(MessageBoxA(nullptr, "Fehler beim \xC4ndern\nZeile 2", "Installation Error", MB_ICONERROR), IDOK);
        auto lines = desk.transcript();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0], "{\"event\":\"messagebox\",\"owner\":null,\"caption\":\"Installation Error\","
                            "\"text\":\"Fehler beim \xC3\x84ndern\\nZeile 2\",\"style\":16,\"answer\":\"ok\"}");
    }
    test::TestMachine jp;
    jp.set("locale=0411");
    jp.attach();
    DeskFiles desk(jp, { "ok" });
    // Code page 932: katakana E, RA and the long vowel mark.
    EXPECT_EQ(MessageBoxA(nullptr, "\x83\x47\x83\x89\x81\x5B", "\x83\x47\x83\x89\x81\x5B", MB_OK), IDOK);
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "{\"event\":\"messagebox\",\"owner\":null,\"caption\":\"\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC\","
                        "\"text\":\"\xE3\x82\xA8\xE3\x83\xA9\xE3\x83\xBC\",\"style\":0,\"answer\":\"ok\"}");
}

TEST(User32Desk, ProcessesOfARunShareThePlaceInTheScript)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "yes", "no", "retry" });
    pid_t child = fork();
    if (child == 0)
        _exit(MessageBoxA(nullptr, "child", "c", MB_YESNO));
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "parent", "c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "parent", "c", MB_RETRYCANCEL), IDRETRY);
}

TEST(User32Desk, ExhaustedScriptEndsTheProcessNamingTheBox)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "ok", "# nothing more" });
    EXPECT_EQ(MessageBoxA(nullptr, "first", "c", MB_OK), IDOK);
    EXPECT_EXIT(MessageBoxA(nullptr, "Can't Install Modem On a Non MMX Machine", "Brimlow Error", MB_ICONERROR),
        testing::ExitedWithCode(3), "ntsim: no answer left in the script for message box \"Brimlow Error\"");
    // What was shown is on record, without an answer, and why the process ended.
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], R"({"event":"messagebox","owner":null,"caption":"Brimlow Error","text":"Can't Install Modem On a Non MMX Machine","style":16})");
    EXPECT_EQ(lines[2], R"({"event":"unanswered","program":"C:\\MODEM\\SETUP.EXE","message":"no answer left in the script for message box \"Brimlow Error\""})");
}

TEST(User32Desk, UnfittingAnswerEndsTheProcessNamingTheBox)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "next" });
    EXPECT_EXIT(MessageBoxA(nullptr, "t", "Installation Error", MB_OKCANCEL), testing::ExitedWithCode(3),
        "ntsim: answer 'next' does not fit message box \"Installation Error\"");
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], R"({"event":"messagebox","owner":null,"caption":"Installation Error","text":"t","style":1})");
    EXPECT_EQ(lines[1], R"x({"event":"unanswered","program":"C:\\MODEM\\SETUP.EXE","message":"answer 'next' does not fit message box \"Installation Error\" (it takes ok, cancel)"})x");
}

TEST(User32Desk, ARunThatPressesDefaultsAnswersABoxTheScriptHasNoAnswerFor)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "next" });
    setenv("NTSIM_DESK_PRESS_DEFAULT", "1", 1);
    // The box takes its default button; the script's line waits for the page.
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "t", "c", MB_OKCANCEL), IDOK);
    EXPECT_EQ(ntsim::desk::show(test::driverPage()), "next");
    // A page is not a box: with the script spent, the process ends.
    EXPECT_EXIT(ntsim::desk::show(test::driverPage()), testing::ExitedWithCode(3), "no answer left in the script");
    unsetenv("NTSIM_DESK_PRESS_DEFAULT");
    auto lines = desk.transcript();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_NE(lines[0].find("\"answer\":\"no\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("\"answer\":\"ok\""), std::string::npos) << lines[1];
}

TEST(User32Desk, NoScriptAndNoTerminalFailsLikeAnExhaustedScript)
{
    test::TestMachine m;
    m.attach();
    unsetenv("NTSIM_SCRIPT");
    EXPECT_EXIT(
        {
            // Without a controlling terminal /dev/tty cannot be opened.
            setsid();
            MessageBoxA(nullptr, "t", "Lonely", MB_OK);
        },
        testing::ExitedWithCode(3), "no terminal to answer message box \"Lonely\"");
}

TEST(User32Desk, PageButtonsAnsweredFromTheScript)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "NEXT", "back", "finish" });
    ntsim::desk::Shown page = test::driverPage();
    EXPECT_EQ(ntsim::desk::show(page), "next");
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(0, 57), R"({"event":"page","template":102,"title":"Modem Board Insta)");
    const std::string tail = R"("buttons":{"back":{"shown":true,"enabled":false},"next":{"shown":true,"enabled":true},)"
                             R"("finish":{"shown":false,"enabled":false},"cancel":{"shown":true,"enabled":true}},"answer":"next"})";
    ASSERT_GT(lines[0].size(), tail.size());
    EXPECT_EQ(lines[0].substr(lines[0].size() - tail.size()), tail);

    // A disabled button is named as such, and the page is on record unanswered.
    EXPECT_EXIT(ntsim::desk::show(page), testing::ExitedWithCode(3),
        "ntsim: answer 'back' does not fit page 102 \"Modem Board Installation Wizard\": its Back button is "
        "disabled \\(it takes next, cancel\\)");
    EXPECT_EQ(desk.transcript().size(), 3u);
    EXPECT_EQ(desk.transcript()[1].find("\"answer\""), std::string::npos);
    // So is a hidden one.
    EXPECT_EXIT(ntsim::desk::show(page), testing::ExitedWithCode(3),
        "its Finish button is not shown \\(it takes next, cancel\\)");
}

TEST(User32Desk, RestartPromptIsRecordedAndRestartsNothing)
{
    test::TestMachine m;
    m.attach();
    DeskFiles desk(m, { "yes", "no", "no" });
    SetLastError(1);
    EXPECT_EQ(SetupPromptReboot(nullptr, nullptr, FALSE), SPFILEQ_REBOOT_RECOMMENDED | SPFILEQ_REBOOT_IN_PROGRESS);
    EXPECT_EQ(GetLastError(), DWORD(NO_ERROR));
    EXPECT_EQ(SetupPromptReboot(nullptr, nullptr, FALSE), SPFILEQ_REBOOT_RECOMMENDED);
    // The owner it was given is kept with it, as a message box's is.
    HWND owner = CreateWindowExA(0, "Static", "Owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    EXPECT_EQ(SetupPromptReboot(nullptr, owner, FALSE), SPFILEQ_REBOOT_RECOMMENDED);
    DestroyWindow(owner);
    const std::string text = R"("caption":"System Settings Change",)"
                             R"("text":"You must restart your computer before the new settings will take effect.\n\n)"
                             R"(Do you want to restart your computer now?","buttons":["yes","no"],"answer":")";
    const std::string prompt = R"({"event":"prompt","kind":"reboot","owner":null,)" + text;
    auto lines = desk.transcript();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], prompt + "yes\"}");
    EXPECT_EQ(lines[1], R"({"event":"reboot"})");
    EXPECT_EQ(lines[2], prompt + "no\"}");
    EXPECT_EQ(lines[3], R"({"event":"prompt","kind":"reboot","owner":)"
            + std::to_string(reinterpret_cast<uintptr_t>(owner)) + "," + text + "no\"}");
    // The machine goes on: its registry still answers.
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
    // Scanning needs a queue.
    EXPECT_EQ(SetupPromptReboot(nullptr, nullptr, TRUE), -1);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(desk.transcript().size(), 4u);
}
