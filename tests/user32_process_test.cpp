// Windows of several processes of one machine: the shared table, messages
// sent across, and owners that die or hang.
#include "support/TestMachine.h"

#include "machine/Process.h"
#include "user32/WindowTable.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// The owner's exit status: the last WM_USER + 1 it handled.
int lastReceived = 0;

LRESULT CALLBACK ownerProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(lastReceived);
        return 0;
    }
    if (message == WM_USER + 1) {
        lastReceived = static_cast<int>(wParam);
        char text[32];
        std::snprintf(text, sizeof text, "got %u", static_cast<unsigned>(wParam));
        SetWindowTextA(hwnd, text);
        return static_cast<LRESULT>(wParam * 2);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

// A child process that owns one top-level window and runs its message loop.
// Fork these before the test process makes windows of its own.
class WindowOwner {
public:
    explicit WindowOwner(const char* title)
    {
        int fds[2];
        if (pipe(fds) != 0) {
            ADD_FAILURE() << "pipe";
            return;
        }
        m_pid = fork();
        if (m_pid == 0) {
            ::close(fds[0]);
            WNDCLASSA cls {};
            cls.lpfnWndProc = ownerProc;
            cls.lpszClassName = "Owner";
            RegisterClassA(&cls);
            HWND hwnd = CreateWindowExA(0, "Owner", title, WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
            if (write(fds[1], &hwnd, sizeof hwnd) != sizeof hwnd)
                _exit(90);
            ::close(fds[1]);
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0)
                DispatchMessageA(&msg);
            _exit(static_cast<int>(msg.wParam));
        }
        ::close(fds[1]);
        if (read(fds[0], &m_hwnd, sizeof m_hwnd) != sizeof m_hwnd)
            ADD_FAILURE() << "the window owner did not make its window";
        ::close(fds[0]);
    }

    ~WindowOwner()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }

    HWND hwnd() const { return m_hwnd; }
    pid_t pid() const { return m_pid; }

    // The exit status, once the owner has ended.
    int wait()
    {
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    void kill9()
    {
        kill(m_pid, SIGKILL);
        wait();
    }

private:
    pid_t m_pid { -1 };
    HWND m_hwnd { nullptr };
};

std::vector<HWND> topLevelWindows()
{
    std::vector<HWND> list;
    EnumWindows([](HWND hwnd, LPARAM lParam) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
        return TRUE;
    }, reinterpret_cast<LPARAM>(&list));
    return list;
}

std::string titleOf(HWND hwnd)
{
    char text[256];
    int n = GetWindowTextA(hwnd, text, sizeof text);
    return std::string(text, static_cast<size_t>(n));
}

}

TEST(User32Process, WindowsOfTwoProcessesAreEnumeratedNewestFirst)
{
    test::TestMachine m;
    m.attach();
    WindowOwner first("Control Panel");
    WindowOwner second("control panel");
    WNDCLASSA cls {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.lpszClassName = "Local";
    ASSERT_NE(RegisterClassA(&cls), 0);
    HWND local = CreateWindowExA(0, "Local", "Local", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(local, nullptr);

    EXPECT_EQ(topLevelWindows(), (std::vector<HWND> { local, second.hwnd(), first.hwnd() }));
    EXPECT_TRUE(IsWindow(first.hwnd()));
    EXPECT_EQ(GetParent(first.hwnd()), nullptr);

    DWORD pid = 0;
    GetWindowThreadProcessId(first.hwnd(), &pid);
    EXPECT_EQ(pid, static_cast<DWORD>(first.pid()));
    GetWindowThreadProcessId(local, &pid);
    EXPECT_EQ(pid, static_cast<DWORD>(getpid()));

    // Another process's caption comes from the table, truncated alike.
    char text[16];
    EXPECT_EQ(GetWindowTextA(first.hwnd(), text, 8), 7);
    EXPECT_STREQ(text, "Control");
    EXPECT_EQ(GetWindowTextLengthA(second.hwnd()), 13);
    EXPECT_EQ(GetClassNameA(second.hwnd(), text, sizeof text), 5);
    EXPECT_STREQ(text, "Owner");
    EXPECT_EQ(FindWindowA(nullptr, "CONTROL PANEL"), second.hwnd());
    EXPECT_EQ(FindWindowA("owner", "Control Panel"), second.hwnd());

    // Only the owner may destroy a window.
    SetLastError(0);
    EXPECT_FALSE(DestroyWindow(first.hwnd()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    DestroyWindow(local);
}

TEST(User32Process, MessagesSentToAnotherProcessAreAnsweredThere)
{
    test::TestMachine m;
    m.attach();
    WindowOwner owner("Owner");

    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_USER + 1, 21, 0), 42);
    EXPECT_EQ(titleOf(owner.hwnd()), "got 21");
    char text[8];
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_GETTEXT, 4, reinterpret_cast<LPARAM>(text)), 3);
    EXPECT_STREQ(text, "got");
    EXPECT_TRUE(SetWindowTextA(owner.hwnd(), "Renamed"));
    EXPECT_EQ(titleOf(owner.hwnd()), "Renamed");
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_GETTEXTLENGTH, 0, 0), 7);
    // Texts in the machine's code page cross byte for byte, though not UTF-8.
    const char cp1252[] = "Einstellungen f\xFCr Gr\xFC\xDF\x80";
    EXPECT_TRUE(SetWindowTextA(owner.hwnd(), cp1252));
    EXPECT_EQ(titleOf(owner.hwnd()), cp1252);
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)), 7);
    EXPECT_STREQ(text, "Einstel");
    char whole[64];
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_GETTEXT, sizeof whole, reinterpret_cast<LPARAM>(whole)), 23);
    EXPECT_STREQ(whole, cp1252);

    // WM_CLOSE: DefWindowProc destroys the window, WM_DESTROY ends the loop.
    EXPECT_EQ(SendMessageA(owner.hwnd(), WM_CLOSE, 0, 0), 0);
    EXPECT_FALSE(IsWindow(owner.hwnd()));
    EXPECT_EQ(owner.wait(), 21);
    EXPECT_TRUE(topLevelWindows().empty());

    // Posted messages are handled in their order: the close comes last.
    WindowOwner posted("Posted");
    EXPECT_TRUE(PostMessageA(posted.hwnd(), WM_USER + 1, 5, 0));
    EXPECT_TRUE(PostMessageA(posted.hwnd(), WM_USER + 1, 6, 0));
    EXPECT_TRUE(PostMessageA(posted.hwnd(), WM_CLOSE, 0, 0));
    EXPECT_EQ(posted.wait(), 6);
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(posted.hwnd(), WM_USER + 1, 7, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
}

TEST(User32Process, DeadOrHungOwnersDoNotHangTheSender)
{
    test::TestMachine m;
    m.attach();
    setenv("NTSIM_SEND_TIMEOUT_MS", "200", 1);
    WindowOwner dead("Dead");
    WindowOwner hung("Hung");

    dead.kill9();
    SetLastError(0);
    EXPECT_EQ(SendMessageA(dead.hwnd(), WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(dead.hwnd()));

    kill(hung.pid(), SIGSTOP);
    SetLastError(0);
    EXPECT_EQ(SendMessageA(hung.hwnd(), WM_USER + 1, 1, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));
    // Its caption is still read without asking it.
    EXPECT_EQ(titleOf(hung.hwnd()), "Hung");
    EXPECT_EQ(topLevelWindows(), (std::vector<HWND> { hung.hwnd() }));
    kill(hung.pid(), SIGCONT);

    // A living process that lists a window but does not listen refuses at once.
    pid_t silent = fork();
    if (silent == 0) {
        pause();
        _exit(0);
    }
    ntsim::user32::WindowEntry entry;
    entry.handle = ntsim::user32::WindowTable::newHandle();
    entry.pid = silent;
    entry.processStart = ntsim::processStartTime(silent);
    entry.title = "Silent";
    ntsim::user32::WindowTable::add(entry);
    HWND silentWindow = reinterpret_cast<HWND>(static_cast<uintptr_t>(entry.handle));
    EXPECT_TRUE(IsWindow(silentWindow));
    SetLastError(0);
    EXPECT_EQ(SendMessageA(silentWindow, WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_FALSE(IsWindow(silentWindow));
    kill(silent, SIGKILL);
    waitpid(silent, nullptr, 0);
    unsetenv("NTSIM_SEND_TIMEOUT_MS");
}

TEST(User32Process, NtsimWindowOwnsWindowsUntilOneIsClosed)
{
    test::TestMachine m;
    struct Started {
        HWND hwnd;
        int pid;
    };
    std::vector<Started> started;
    // Whatever happens, no window.exe outlives the test.
    struct Reaper {
        std::vector<Started>& list;
        ~Reaper()
        {
            for (auto& s : list)
                kill(s.pid, SIGKILL);
        }
    } reaper { started };
    for (const char* title : { "Control Panel", "Control Panel", "control panel" }) {
        auto result = m.tool({ "window", m.dir(), "--title", title });
        ASSERT_EQ(result.exitCode, 0) << result.out;
        std::istringstream in(result.out);
        std::string handle;
        int pid = 0;
        in >> handle >> pid;
        started.push_back({ reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(handle, nullptr, 16))), pid });
    }
    m.attach();
    EXPECT_EQ(topLevelWindows(), (std::vector<HWND> { started[2].hwnd, started[1].hwnd, started[0].hwnd }));
    DWORD pid = 0;
    GetWindowThreadProcessId(started[1].hwnd, &pid);
    EXPECT_EQ(pid, static_cast<DWORD>(started[1].pid));

    // Close the first window titled exactly "Control Panel".
    EnumWindows([](HWND hwnd, LPARAM) -> BOOL {
        char title[256];
        GetWindowTextA(hwnd, title, 255);
        if (std::strcmp(title, "Control Panel") != 0)
            return TRUE;
        SendMessageA(hwnd, WM_CLOSE, 0, 0);
        return FALSE;
    }, 0);
    EXPECT_EQ(topLevelWindows(), (std::vector<HWND> { started[2].hwnd, started[0].hwnd }));
    EXPECT_EQ(titleOf(started[2].hwnd), "control panel");

    // The closed window's program ends; it is not our child, so watch /proc.
    bool ended = false;
    for (int i = 0; i < 200 && !ended; ++i) {
        ended = ntsim::processStartTime(started[1].pid) == 0;
        if (!ended)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(ended) << "window.exe " << started[1].pid << " still runs";

    for (auto& s : { started[0], started[2] })
        SendMessageA(s.hwnd, WM_CLOSE, 0, 0);
    EXPECT_TRUE(topLevelWindows().empty());
}
