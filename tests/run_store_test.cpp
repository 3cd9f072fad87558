// The machine's run store: what a killed process leaves and when it goes,
// what a process's own end takes with it, waits woken by other processes,
// processes changing the store at once, and stores that are not sound.
#include "kernel32_child.h"
#include "support/RunState.h"

#include "machine/Faults.h"
#include "machine/Machine.h"
#include "machine/RunStore.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

PROCESS_INFORMATION start(std::string commandLine)
{
    STARTUPINFOA si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION info {};
    EXPECT_TRUE(CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &info))
        << commandLine << ": " << GetLastError();
    return info;
}

DWORD finish(const PROCESS_INFORMATION& info)
{
    EXPECT_EQ(WaitForSingleObject(info.hProcess, INFINITE), DWORD(WAIT_OBJECT_0));
    DWORD code = 0xDEAD;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}

// Starts K32CHILD.EXE linger ... and kills it once it holds everything.
DWORD leaveAndKill(const std::string& held, const std::string& doomed, const std::string& title, const std::string& event)
{
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "ready");
    PROCESS_INFORMATION info = start("K32CHILD.EXE linger " + held + " " + doomed + " " + title + " " + event + " ready");
    EXPECT_EQ(WaitForSingleObject(ready, 60000), DWORD(WAIT_OBJECT_0));
    CloseHandle(ready);
    EXPECT_TRUE(TerminateProcess(info.hProcess, 9));
    DWORD pid = info.dwProcessId;
    EXPECT_EQ(finish(info), 9u);
    return pid;
}

int64_t rowsOf(const test::TestMachine& m, DWORD pid)
{
    return test::runStateNumber(m,
        "SELECT (SELECT count(*) FROM open_file WHERE pid = ?1) + (SELECT count(*) FROM window_entry WHERE pid = ?1) "
        "+ (SELECT count(*) FROM event_holder WHERE pid = ?1)",
        pid);
}

// A machine file the test replaces: run/state.db with what is given.
void replaceStore(const test::TestMachine& m, const std::string& contents)
{
    for (const char* suffix : { "", "-wal", "-shm" })
        ::unlink((m.dir() + "/run/state.db" + suffix).c_str());
    FILE* f = std::fopen((m.dir() + "/run/state.db").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
}

}

TEST(RunStore, AKilledProcessLetsGoOfFilesWindowsAndEventsWhenTheyNextMatter)
{
    test::TestMachine m;
    test::installChildProgram(m);
    for (const char* name : { "A", "B", "C" }) {
        m.write(std::string("C:\\TEMP\\held") + name + ".txt", "held");
        m.write(std::string("C:\\TEMP\\doomed") + name + ".txt", "doomed");
    }
    m.attach();

    // While it runs, what it holds counts.
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "ready");
    PROCESS_INFORMATION alive = start("K32CHILD.EXE linger C:\\TEMP\\heldA.txt C:\\TEMP\\doomedA.txt WindowA eventA ready");
    ASSERT_EQ(WaitForSingleObject(ready, 60000), DWORD(WAIT_OBJECT_0));
    CloseHandle(ready);
    EXPECT_EQ(CreateFileA("C:\\TEMP\\heldA.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_NE(FindWindowA(nullptr, "WindowA"), nullptr);
    HANDLE opened = OpenEventA(SYNCHRONIZE, FALSE, "eventA");
    EXPECT_NE(opened, nullptr);
    CloseHandle(opened);
    TerminateProcess(alive.hProcess, 9);
    DWORD a = alive.dwProcessId;
    finish(alive);
    // Killed, it ran nothing at its end: its image, two opens, a window,
    // its holds on two events.
    EXPECT_EQ(rowsOf(m, a), 6);

    // A window lookup drops its windows; its other rows wait for their turn.
    EXPECT_EQ(FindWindowA(nullptr, "WindowA"), nullptr);
    EXPECT_EQ(test::runStateNumber(m, "SELECT count(*) FROM window_entry WHERE pid = ?1", a), 0);
    EXPECT_EQ(rowsOf(m, a), 5);
    EXPECT_TRUE(m.exists("C:\\TEMP\\doomedA.txt"));

    // Opening its event by name finds the holder ended: the event is gone,
    // and so is every row of the process, the file it was to delete too.
    EXPECT_EQ(OpenEventA(SYNCHRONIZE, FALSE, "eventA"), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(rowsOf(m, a), 0);
    EXPECT_FALSE(m.exists("C:\\TEMP\\doomedA.txt"));
    EXPECT_TRUE(m.exists("C:\\TEMP\\heldA.txt"));

    // Opening the file it held without sharing lets go of it the same way.
    DWORD b = leaveAndKill("C:\\TEMP\\heldB.txt", "C:\\TEMP\\doomedB.txt", "WindowB", "eventB");
    EXPECT_EQ(rowsOf(m, b), 6);
    HANDLE held = CreateFileA("C:\\TEMP\\heldB.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(held, INVALID_HANDLE_VALUE) << GetLastError();
    CloseHandle(held);
    EXPECT_FALSE(m.exists("C:\\TEMP\\doomedB.txt"));
    EXPECT_EQ(test::runStateNumber(m, "SELECT count(*) FROM event WHERE name = CAST('eventB' AS BLOB)"), 0);
    EXPECT_EQ(rowsOf(m, b), 1) << "its window waits for a lookup";

    // Opening the file it was to delete finds it gone.
    DWORD c = leaveAndKill("C:\\TEMP\\heldC.txt", "C:\\TEMP\\doomedC.txt", "WindowC", "eventC");
    EXPECT_TRUE(m.exists("C:\\TEMP\\doomedC.txt"));
    EXPECT_EQ(CreateFileA("C:\\TEMP\\doomedC.txt", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr),
        INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(rowsOf(m, c), 1);

    // A listing of the windows drops those of every ended process.
    EnumWindows([](HWND, LPARAM) -> BOOL { return TRUE; }, 0);
    EXPECT_EQ(rowsOf(m, b), 0);
    EXPECT_EQ(rowsOf(m, c), 0);
}

TEST(RunStore, AProcessThatEndsTakesItsRowsWithIt)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.write("C:\\TEMP\\held.txt", "held");
    m.write("C:\\TEMP\\doomed.txt", "doomed");
    m.attach();

    PROCESS_INFORMATION info = start("K32CHILD.EXE keep C:\\TEMP\\held.txt C:\\TEMP\\doomed.txt Kept kept");
    DWORD pid = info.dwProcessId;
    EXPECT_EQ(finish(info), 0u);
    // Nothing has looked at its rows since: its own end removed them.
    EXPECT_EQ(rowsOf(m, pid), 0);
    EXPECT_EQ(test::runStateNumber(m, "SELECT count(*) FROM event"), 0);
    EXPECT_FALSE(m.exists("C:\\TEMP\\doomed.txt"));
    EXPECT_TRUE(m.exists("C:\\TEMP\\held.txt"));
}

TEST(RunStore, AWaitIsWokenByAnotherProcessesSetNotByPolling)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach();
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, "ready");
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "go");

    // The child would look again only after ten minutes unless woken.
    setenv("NTSIM_WAIT_FALLBACK_MS", "600000", 1);
    PROCESS_INFORMATION waiter = start("K32CHILD.EXE wakeup ready go 4294967295");
    unsetenv("NTSIM_WAIT_FALLBACK_MS");
    ASSERT_EQ(WaitForSingleObject(ready, 60000), DWORD(WAIT_OBJECT_0));
    // Most likely asleep in its wait by now; a wait that has not yet
    // looked sees the event set at its first look, which passes too.
    Sleep(200);
    EXPECT_TRUE(SetEvent(go));
    DWORD woken = WaitForSingleObject(waiter.hProcess, 30000);
    EXPECT_EQ(woken, DWORD(WAIT_OBJECT_0)) << "the set did not wake the waiting process";
    if (woken != WAIT_OBJECT_0)
        TerminateProcess(waiter.hProcess, 1);
    EXPECT_EQ(finish(waiter), 0u);
    CloseHandle(go);
    CloseHandle(ready);
}

TEST(RunStore, ProcessesChangingTheStoreAtOnceLoseNothing)
{
    test::TestMachine m;
    test::installChildProgram(m);
    m.attach();

    // Forked without exec, on a machine whose store is not made yet (as
    // after its run state was removed): each opens its own and they make
    // it once between them.
    for (const char* suffix : { "", "-wal", "-shm" })
        ::unlink((m.dir() + "/run/state.db" + suffix).c_str());
    std::vector<pid_t> forked;
    int gate[2];
    ASSERT_EQ(pipe(gate), 0);
    for (int i = 0; i < 4; ++i) {
        pid_t pid = fork();
        if (pid == 0) {
            char go;
            close(gate[1]);
            if (read(gate[0], &go, 1) != 0)
                _exit(1);
            for (int n = 0; n < 100; ++n)
                ntsim::countCall("Forked");
            _exit(0);
        }
        forked.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]);
    for (pid_t pid : forked) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    std::string error;
    auto store = ntsim::RunStore::open(m.dir() + "/run", error);
    ASSERT_TRUE(store) << error;
    EXPECT_EQ(ntsim::countedCalls(*store, "Forked"), 400u);

    // Programs of the machine counting calls, opening files and setting
    // events side by side.
    ASSERT_EQ(m.tool({ "fault", m.dir(), "GetCurrentProcessId", "5", "--nth", "1000000" }).exitCode, 0);
    std::vector<PROCESS_INFORMATION> busy;
    for (int i = 0; i < 4; ++i)
        busy.push_back(start("K32CHILD.EXE busy 50 C:\\TEMP\\busy" + std::to_string(i) + ".txt"));
    for (auto& info : busy)
        EXPECT_EQ(finish(info), 0u);
    EXPECT_EQ(ntsim::countedCalls(*store, "GetCurrentProcessId"), 200u);
    EXPECT_EQ(test::runStateNumber(m, "SELECT count(*) FROM open_file"), 0);
    EXPECT_EQ(test::runStateNumber(m, "SELECT count(*) FROM event"), 0);
}

TEST(RunStore, AStoreThatIsNotSoundIsRefusedNamingTheFileAndTheProblem)
{
    test::TestMachine m;
    std::string file = m.dir() + "/run/state.db";
    ASSERT_EQ(m.run({ "C:\\WINNT\\system32\\rundll32.exe", "setupapi.dll,InstallHinfSection", "TAVRELIN_DATAFAX_QZV", "128",
                          "C:\\MODEM\\DRV_MEQ.INF" })
                  .exitCode,
        0);
    ASSERT_EQ(m.tool({ "sc", m.dir(), "start", "Qzvmdm" }).exitCode, 0);

    // A running driver whose state cannot be read back is no stopped one.
    {
        std::string error;
        auto store = ntsim::RunStore::open(m.dir() + "/run", error);
        ASSERT_TRUE(store) << error;
        ntsim::RunStore::Transaction transaction(*store);
        ntsim::RunStore::Query(transaction, "UPDATE service SET record = '{\"name\": ' WHERE upper = 'QZVMDM'").run();
    }
    test::RunResult query = m.tool({ "sc", m.dir(), "query", "Qzvmdm" });
    EXPECT_NE(query.exitCode, 0);
    EXPECT_EQ(query.out.find("STOPPED"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("ntsim: " + file + ": the run state of service QZVMDM is not sound ("), std::string::npos)
        << query.out;
    // A program of the machine meets the same.
    test::RunResult install = m.run({ "C:\\MODEM\\SETUP.EXE", "-s", "-h=us" });
    EXPECT_EQ(install.exitCode, 70) << install.out;
    EXPECT_NE(install.out.find("ntsim: " + file + ": the run state of service QZVMDM is not sound ("), std::string::npos)
        << install.out;

    // A file that is no database, and a store of another version.
    replaceStore(m, std::string(4096, 'x'));
    test::RunResult garbage = m.tool({ "sc", m.dir(), "query", "Qzvmdm" });
    EXPECT_NE(garbage.exitCode, 0);
    EXPECT_EQ(garbage.out, "ntsim: sc: " + file + ": not the machine's run state (file is not a database)\n");
    test::RunResult run = m.run({ "C:\\MODEM\\SETUP.EXE", "-s", "-h=us" });
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "ntsim: run: " + file + ": not the machine's run state (file is not a database)\n");
    EXPECT_EQ(m.tool({ "fault", m.dir(), "StartServiceA", "5" }).out,
        "ntsim: fault: " + file + ": not the machine's run state (file is not a database)\n");

    replaceStore(m, "");
    {
        std::string error;
        auto made = ntsim::RunStore::open(m.dir() + "/run", error);
        ASSERT_TRUE(made) << error;
        ntsim::RunStore::Transaction transaction(*made);
        ntsim::RunStore::Query(transaction, "PRAGMA user_version = 9").run();
    }
    EXPECT_EQ(m.tool({ "window", m.dir(), "--title", "x" }).out, "ntsim: window: " + file + ": run state of version 9, not 1\n");

    // A link in the store's place is not followed, even to a sound store.
    std::string elsewhere = m.dir() + "/elsewhere";
    ASSERT_EQ(mkdir(elsewhere.c_str(), 0755), 0);
    {
        std::string error;
        ASSERT_TRUE(ntsim::RunStore::open(elsewhere, error)) << error;
    }
    replaceStore(m, "");
    ::unlink(file.c_str());
    ASSERT_EQ(symlink((elsewhere + "/state.db").c_str(), file.c_str()), 0);
    test::RunResult linked = m.tool({ "sc", m.dir(), "query", "Qzvmdm" });
    EXPECT_NE(linked.exitCode, 0);
    EXPECT_EQ(linked.out.find("ntsim: sc: " + file + ": "), 0u) << linked.out;
}

TEST(RunStore, ARunsDeskRowsGoWithTheRun)
{
    test::TestMachine m;
    test::installChildProgram(m);
    // The program's box takes the script's line; the transcript is written
    // from the store, and the run's rows leave with the run.
    test::RunResult r = m.run({ "C:\\WINNT\\system32\\K32CHILD.EXE", "box", "Asked" }, { "cancel" });
    EXPECT_EQ(r.exitCode, 2) << r.out;
    ASSERT_EQ(r.transcript.size(), 1u);
    EXPECT_EQ(ntsim::stringMember(r.transcript[0], "answer"), "cancel");
    EXPECT_EQ(test::runStateNumber(m, "SELECT (SELECT count(*) FROM desk_taken) + (SELECT count(*) FROM desk_line) "
                                      "+ (SELECT count(*) FROM desk_unanswered)"),
        0);
    // So do those of a run whose process found no answer.
    test::RunResult unanswered = m.run({ "C:\\WINNT\\system32\\K32CHILD.EXE", "box", "Asked" });
    EXPECT_EQ(unanswered.exitCode, 3) << unanswered.out;
    EXPECT_EQ(test::runStateNumber(m, "SELECT (SELECT count(*) FROM desk_taken) + (SELECT count(*) FROM desk_line) "
                                      "+ (SELECT count(*) FROM desk_unanswered)"),
        0);
}
