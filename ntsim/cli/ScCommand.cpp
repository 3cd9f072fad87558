// ntsim sc: shows and drives a service the way NT's sc does.
#include "Commands.h"
#include "ErrorTable.h"

#include "advapi32/ScmCalls.h"
#include "machine/Machine.h"

#include <windows.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <string>

namespace ntsim {

namespace {

std::string typeName(DWORD type)
{
    std::string name;
    switch (type & ~SERVICE_INTERACTIVE_PROCESS) {
    case SERVICE_KERNEL_DRIVER: name = "KERNEL_DRIVER"; break;
    case SERVICE_FILE_SYSTEM_DRIVER: name = "FILE_SYSTEM_DRIVER"; break;
    case SERVICE_WIN32_OWN_PROCESS: name = "WIN32_OWN_PROCESS"; break;
    case SERVICE_WIN32_SHARE_PROCESS: name = "WIN32_SHARE_PROCESS"; break;
    default: name = "UNKNOWN"; break;
    }
    if (type & SERVICE_INTERACTIVE_PROCESS)
        name += " (interactive)";
    return name;
}

void printStatus(const std::string& name, const SERVICE_STATUS& s)
{
    DWORD accepted = s.dwControlsAccepted;
    std::printf("\nSERVICE_NAME: %s\n", name.c_str());
    std::printf("        TYPE               : %x  %s\n", s.dwServiceType, typeName(s.dwServiceType).c_str());
    std::printf("        STATE              : %u  %s\n", s.dwCurrentState, serviceStateName(s.dwCurrentState));
    std::printf("                                (%s,%s,%s)\n", accepted & SERVICE_ACCEPT_STOP ? "STOPPABLE" : "NOT_STOPPABLE",
        accepted & SERVICE_ACCEPT_PAUSE_CONTINUE ? "PAUSABLE" : "NOT_PAUSABLE",
        accepted & SERVICE_ACCEPT_SHUTDOWN ? "ACCEPTS_SHUTDOWN" : "IGNORES_SHUTDOWN");
    std::printf("        WIN32_EXIT_CODE    : %u  (0x%x)\n", s.dwWin32ExitCode, s.dwWin32ExitCode);
    std::printf("        SERVICE_EXIT_CODE  : %u  (0x%x)\n", s.dwServiceSpecificExitCode, s.dwServiceSpecificExitCode);
    std::printf("        CHECKPOINT         : 0x%x\n", s.dwCheckPoint);
    std::printf("        WAIT_HINT          : 0x%x\n", s.dwWaitHint);
}

int failed(const char* call)
{
    DWORD error = GetLastError();
    std::printf("[SC] %s FAILED %u:\n\n%s\n\n", call, error, systemMessage(error).c_str());
    return 1;
}

int drive(const std::string& verb, const std::string& name)
{
    DWORD access = SERVICE_QUERY_STATUS;
    if (verb == "start")
        access |= SERVICE_START;
    else if (verb == "stop")
        access |= SERVICE_STOP;
    scm::ScHandle manager(scm::openManager(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager.get())
        return failed("OpenSCManager");
    scm::ScHandle service(scm::openService(manager.get(), name.c_str(), access));
    if (!service.get())
        return failed("OpenService");
    SERVICE_STATUS status {};
    if (verb == "start") {
        if (!scm::start(service.get()))
            return failed("StartService");
        if (!scm::queryStatus(service.get(), &status))
            return failed("QueryServiceStatus");
    } else if (verb == "stop") {
        if (!scm::control(service.get(), SERVICE_CONTROL_STOP, &status))
            return failed("ControlService");
    } else if (!scm::queryStatus(service.get(), &status)) {
        return failed("QueryServiceStatus");
    }
    printStatus(name, status);
    return 0;
}

}

const char* serviceStateName(unsigned long state)
{
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

Runner defineSc(CLI::App& verb)
{
    auto dir = std::make_shared<std::string>();
    auto action = std::make_shared<std::string>();
    auto name = std::make_shared<std::string>();
    verb.add_option("DIR", *dir, "The machine")->required();
    verb.add_option("ACTION", *action, "query, start or stop")->required()->check(CLI::IsMember({ "query", "start", "stop" }));
    verb.add_option("NAME", *name, "The service's name")->required();
    verb.footer("Prints the service's status as NT's sc does; a failed call prints [SC] CALL FAILED and its error.");
    return [=] {
        std::string error;
        if (!attachMachine(*dir, error))
            return usageError(error);
        return drive(*action, *name);
    };
}

}
