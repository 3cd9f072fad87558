// Windows and messages of one process.
#include "support/TestMachine.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string>& heard()
{
    static std::vector<std::string> log;
    return log;
}

std::string nameOf(UINT message)
{
    switch (message) {
    case WM_NCCREATE: return "NCCREATE";
    case WM_CREATE: return "CREATE";
    case WM_DESTROY: return "DESTROY";
    case WM_NCDESTROY: return "NCDESTROY";
    case WM_CLOSE: return "CLOSE";
    default: return std::to_string(message);
    }
}

LRESULT CALLBACK recordingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    char text[64] = "";
    DefWindowProcA(hwnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    heard().push_back(std::string(text) + ":" + nameOf(message));
    if (message == WM_DESTROY && std::strcmp(text, "Main") == 0)
        PostQuitMessage(42);
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK refusingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
        return -1;
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void registerClass(const char* name, WNDPROC proc)
{
    WNDCLASSA cls {};
    cls.lpfnWndProc = proc;
    cls.lpszClassName = name;
    ASSERT_NE(RegisterClassA(&cls), 0) << name;
}

HWND create(const char* cls, const char* title, DWORD style = WS_OVERLAPPEDWINDOW, HWND parent = nullptr, UINT id = 0)
{
    return CreateWindowExA(0, cls, title, style, 0, 0, 100, 100, parent,
        reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), nullptr, nullptr);
}

}

TEST(User32Window, ClassesAndCreationErrors)
{
    test::TestMachine m;
    m.attach();
    registerClass("Recording", recordingProc);
    WNDCLASSA again {};
    again.lpfnWndProc = DefWindowProcA;
    again.lpszClassName = "RECORDING";
    SetLastError(0);
    EXPECT_EQ(RegisterClassA(&again), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

    SetLastError(0);
    EXPECT_EQ(create("NoSuchClass", "x"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    SetLastError(0);
    EXPECT_EQ(create("Recording", "x", WS_CHILD), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
    SetLastError(0);
    EXPECT_EQ(create("Recording", "x", WS_CHILD, reinterpret_cast<HWND>(0x4444)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    // A window whose WM_CREATE answers -1 is not made, and leaves nothing behind.
    registerClass("Refusing", refusingProc);
    EXPECT_EQ(create("Refusing", "Refused"), nullptr);
    EXPECT_EQ(FindWindowA("Refusing", nullptr), nullptr);

    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(reinterpret_cast<HWND>(0x4444)));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(nullptr));
}

TEST(User32Window, CreationAndDestructionMessagesInNtOrder)
{
    test::TestMachine m;
    m.attach();
    registerClass("RecordingOrder", recordingProc);
    heard().clear();
    HWND main = create("RecordingOrder", "Main");
    ASSERT_NE(main, nullptr);
    HWND child = create("RecordingOrder", "Child", WS_CHILD | WS_VISIBLE, main, 9000);
    ASSERT_NE(child, nullptr);
    EXPECT_NE(main, child);
    EXPECT_EQ(GetParent(child), main);
    EXPECT_EQ(GetParent(main), nullptr);
    // The text is the window's by the time WM_CREATE arrives.
    EXPECT_EQ(heard(), (std::vector<std::string> { ":NCCREATE", "Main:CREATE", ":NCCREATE", "Child:CREATE" }));

    EXPECT_FALSE(ShowWindow(main, SW_SHOW));
    EXPECT_TRUE(ShowWindow(main, SW_HIDE));
    EXPECT_TRUE(ShowWindow(child, SW_SHOW));

    heard().clear();
    // DefWindowProc's WM_CLOSE destroys: the window hears first, then its children.
    EXPECT_EQ(SendMessageA(main, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(heard(), (std::vector<std::string> { "Main:CLOSE", "Main:DESTROY", "Child:DESTROY", "Child:NCDESTROY", "Main:NCDESTROY" }));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_FALSE(IsWindow(child));
    SetLastError(0);
    EXPECT_EQ(GetParent(child), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    MSG msg;
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
    EXPECT_EQ(msg.wParam, 42u);
}

TEST(User32Window, WindowTextIsTruncatedToTheBuffer)
{
    test::TestMachine m;
    m.attach();
    registerClass("Plain", DefWindowProcA);
    HWND hwnd = create("Plain", "Control Panel");
    ASSERT_NE(hwnd, nullptr);

    char buffer[16];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetWindowTextA(hwnd, buffer, 5), 4);
    EXPECT_EQ(std::string(buffer, 6), std::string("Cont\0x", 6));
    EXPECT_EQ(GetWindowTextA(hwnd, buffer, 1), 0);
    EXPECT_EQ(buffer[0], '\0');
    buffer[0] = 'x';
    EXPECT_EQ(GetWindowTextA(hwnd, buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(GetWindowTextA(hwnd, buffer, sizeof buffer), 13);
    EXPECT_STREQ(buffer, "Control Panel");
    EXPECT_EQ(GetWindowTextLengthA(hwnd), 13);

    EXPECT_TRUE(SetWindowTextA(hwnd, "Other"));
    EXPECT_EQ(GetWindowTextA(hwnd, buffer, sizeof buffer), 5);
    EXPECT_STREQ(buffer, "Other");
    EXPECT_EQ(FindWindowA(nullptr, "OTHER"), hwnd);
    EXPECT_EQ(FindWindowA("plain", nullptr), hwnd);
    EXPECT_EQ(FindWindowA(nullptr, "Control Panel"), nullptr);
    EXPECT_EQ(GetClassNameA(hwnd, buffer, 4), 3);
    EXPECT_STREQ(buffer, "Pla");

    SetLastError(0);
    EXPECT_EQ(GetWindowTextA(reinterpret_cast<HWND>(0x4444), buffer, sizeof buffer), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_STREQ(buffer, "");
    DestroyWindow(hwnd);
}

TEST(User32Window, PostedMessagesComeInOrderAndQuitLast)
{
    test::TestMachine m;
    m.attach();
    registerClass("RecordingPosted", recordingProc);
    HWND hwnd = create("RecordingPosted", "Posted");
    ASSERT_NE(hwnd, nullptr);
    heard().clear();

    PostQuitMessage(7);
    EXPECT_TRUE(PostMessageA(hwnd, WM_USER + 1, 10, 20));
    EXPECT_TRUE(PostMessageA(nullptr, WM_USER + 2, 0, 0));
    EXPECT_TRUE(PostMessageA(hwnd, WM_USER + 3, 0, 0));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>("x")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MESSAGE_SYNC_ONLY));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(reinterpret_cast<HWND>(0x4444), WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));

    MSG msg;
    // A range filter picks the later message first; the rest keep their order.
    EXPECT_EQ(GetMessageA(&msg, nullptr, WM_USER + 3, WM_USER + 3), TRUE);
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_USER + 3));
    std::vector<UINT> got;
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        got.push_back(msg.message);
        EXPECT_FALSE(TranslateMessage(&msg));
        DispatchMessageA(&msg);
    }
    EXPECT_EQ(got, (std::vector<UINT> { WM_USER + 1, WM_USER + 2 }));
    EXPECT_EQ(msg.wParam, 7u);
    // The thread message has no window to go to.
    EXPECT_EQ(heard(), (std::vector<std::string> { "Posted:" + std::to_string(WM_USER + 1) }));

    SetLastError(0);
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(0x4444), 0, 0), -1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    DestroyWindow(hwnd);
}

TEST(User32Window, WsprintfFormatsLikeUser32)
{
    test::TestMachine m;
    m.attach();
    char out[1100];
    const char expected[] = "-12|4000000000|beef|BEEF|0x1f|   42|42   |-0042|text|Z|%";
    EXPECT_EQ(wsprintfA(out, "%d|%u|%x|%X|%#x|%5d|%-5d|%05d|%s|%c|%%", -12, 4000000000u, 0xbeefu, 0xbeefu, 0x1fu, 42, 42, -42,
                  "text", 'Z'),
        static_cast<int>(sizeof expected - 1));
    EXPECT_STREQ(out, expected);
    // 'l' is LONG: 32 bits, as on Windows.
    EXPECT_EQ(wsprintfA(out, "%lu %ld %lx %.3s %s", 0xFFFFFFFFu, -1, 0x80000000u, "abcdef", static_cast<const char*>(nullptr)), 33);
    EXPECT_STREQ(out, "4294967295 -1 80000000 abc (null)");
    // At most 1024 bytes with the terminating NUL.
    std::string longText(2000, 'a');
    EXPECT_EQ(wsprintfA(out, "%s", longText.c_str()), 1023);
    EXPECT_EQ(std::strlen(out), 1023u);
    // %S and %C take the other form's text, h and l name the form.
    EXPECT_EQ(wsprintfA(out, "%S|%C|%ls|%hs", u"w\u00e9", u'\u00e9', u"\u03A9", "n"), 8);
    EXPECT_STREQ(out, "w\xe9|\xe9|?|n");
}

TEST(User32Window, WsprintfWFormatsAsTheAFormInWideCharacters)
{
    test::TestMachine m;
    m.attach();
    WCHAR out[1100];
    EXPECT_EQ(wsprintfW(out, u"%d|%u|%x|%X|%#x|%5d|%-5d|%05d|%s|%c|%%", -12, 4000000000u, 0xbeefu, 0xbeefu, 0x1fu, 42, 42,
                  -42, u"text", u'Z'),
        56);
    EXPECT_EQ(std::u16string(out), u"-12|4000000000|beef|BEEF|0x1f|   42|42   |-0042|text|Z|%");
    // In the W form %s is wide and %S the A form's text, converted.
    EXPECT_EQ(wsprintfW(out, u"%s|%S|%c|%C|%hs|%ls|%.2s", u"\u03A9", "caf\xe9", u'\u03B1', 'x', "h", u"l", u"cut"), 17);
    EXPECT_EQ(std::u16string(out), u"\u03A9|caf\u00e9|\u03B1|x|h|l|cu");
    std::u16string longText(2000, u'a');
    EXPECT_EQ(wsprintfW(out, u"%s", longText.c_str()), 1023);
    EXPECT_EQ(wsprintfW(nullptr, u"x"), 0);
}

TEST(User32Window, CharUpperAndCharLowerMapEveryFormInPlace)
{
    test::TestMachine m;
    m.attach();
    char ansi[] = "caf\xe9 \xff modem";
    EXPECT_EQ(CharUpperA(ansi), ansi);
    EXPECT_STREQ(ansi, "CAF\xc9 \x9f MODEM") << "1252 holds the capital of \xff at \x9f";
    EXPECT_EQ(CharLowerA(ansi), ansi);
    EXPECT_STREQ(ansi, "caf\xe9 \xff modem");
    WCHAR wide[] = u"caf\u00e9 \u00ff \u03c9\u0436";
    EXPECT_EQ(CharUpperW(wide), wide);
    EXPECT_EQ(std::u16string(wide), u"CAF\u00c9 \u0178 \u03a9\u0416");
    EXPECT_EQ(CharLowerW(wide), wide);
    EXPECT_EQ(std::u16string(wide), u"caf\u00e9 \u00ff \u03c9\u0436");
    // A pointer below 0x10000 carries one character and gets it back.
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(0x3c9))), 0x3a9u);
    EXPECT_EQ(reinterpret_cast<ULONG_PTR>(CharLowerA(reinterpret_cast<LPSTR>('Q'))), ULONG_PTR('q'));
    // The Buff forms map as many characters as told, zeros too.
    WCHAR buffer[] = { u'a', 0, u'b', u'c' };
    EXPECT_EQ(CharUpperBuffW(buffer, 3), 3u);
    EXPECT_EQ(std::u16string(buffer, 4), std::u16string(u"A\0Bc", 4));
    char bytes[] = "ABC";
    EXPECT_EQ(CharLowerBuffA(bytes, 2), 2u);
    EXPECT_STREQ(bytes, "abC");
    EXPECT_EQ(CharLowerBuffW(nullptr, 3), 0u);
}
