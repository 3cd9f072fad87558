#include "kernel32_child.h"

#include "machine/NtPath.h"
#include "machine/Process.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace test {

void installChildProgram(const TestMachine& machine)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    self[n] = 0;
    // A hard link (or a copy across file systems): the machine follows no
    // symbolic link.
    std::string target = machine.host("C:\\WINNT\\system32\\K32CHILD.EXE");
    if (link(self, target.c_str()) != 0) {
        std::ifstream in(self, std::ios::binary);
        std::ofstream out(target, std::ios::binary);
        out << in.rdbuf();
        ASSERT_TRUE(static_cast<bool>(out)) << "cannot copy the test program into the machine";
        ASSERT_EQ(chmod(target.c_str(), 0755), 0);
    }
}

}

namespace {

// Commands: "exit N", "setevent NAME", "waitevent NAME" (then exit 0, or 2
// when the event is missing), "report FILE" (command line, directory).
int childMain()
{
    ntsim::initProcessFromHost(0, nullptr);
    std::vector<std::string> args = ntsim::splitCommandLine(GetCommandLineA());
    if (args.size() < 3)
        return 100;
    const std::string& command = args[1];
    if (command == "exit")
        return std::atoi(args[2].c_str());
    if (command == "setevent" || command == "waitevent") {
        HANDLE event = OpenEventA(command == "setevent" ? EVENT_MODIFY_STATE : SYNCHRONIZE, FALSE, args[2].c_str());
        if (!event)
            return 2;
        BOOL ok = command == "setevent" ? SetEvent(event) : WaitForSingleObject(event, INFINITE) == WAIT_OBJECT_0;
        CloseHandle(event);
        return ok ? 0 : 3;
    }
    if (command == "report") {
        HANDLE out = CreateFileA(args[2].c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            return 4;
        char directory[MAX_PATH];
        GetCurrentDirectoryA(sizeof directory, directory);
        std::string text = std::string(GetCommandLineA()) + "\n" + directory + "\n";
        DWORD n = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
        CloseHandle(out);
        return 0;
    }
    return 101;
}

bool startedAsChild()
{
    const char* image = std::getenv("NTSIM_IMAGE");
    std::string suffix = "\\K32CHILD.EXE";
    if (!image || std::string(image).size() < suffix.size())
        return false;
    std::string tail = std::string(image).substr(std::string(image).size() - suffix.size());
    if (!ntsim::equalsNoCase(tail, suffix))
        return false;
    std::exit(childMain());
}

const bool childRan = startedAsChild();

}
