// ntsim: create, run, inspect and break simulated NT 4.0 machines.
#include "Commands.h"

#include <cstdio>
#include <cstring>

namespace {

const char usage[] =
    "usage: ntsim COMMAND ...\n"
    "  new DIR                           a fresh NT 4.0 machine with the sample package in C:\\MODEM\n"
    "  set DIR NAME=VALUE...             cpu.mmx=false, cpu.cpuid=false, user=guest, locale=0407, ...\n"
    "  run DIR [--script FILE] [--transcript FILE] [--cwd NTPATH] [--wait-others SECONDS] -- NTPATH ARGS...\n"
    "                                    run a program of the machine (ntsim run --help)\n"
    "  reg export DIR KEY                print a registry subtree as REGEDIT4 text\n"
    "  reg import DIR FILE               load a REGEDIT4 file into the registry\n"
    "  reg sddl DIR KEY                  print a key's security descriptor\n"
    "  sc DIR query|start|stop NAME      show or drive a service\n"
    "  fault DIR API ERROR [--nth N]     make the N-th call of an API fail with ERROR\n"
    "  window DIR --title TEXT           own a top-level window until it is closed\n";

}

namespace ntsim {

int usageError(const std::string& message)
{
    std::fprintf(stderr, "ntsim: %s\n", message.c_str());
    return 2;
}

}

int main(int argc, char** argv)
{
    if (argc < 2 || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")) {
        std::fputs(usage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    ntsim::Args args(argv + 2, argv + argc);
    if (command == "new") return ntsim::commandNew(args);
    if (command == "set") return ntsim::commandSet(args);
    if (command == "run") return ntsim::commandRun(args);
    if (command == "reg") return ntsim::commandReg(args);
    if (command == "sc") return ntsim::commandSc(args);
    if (command == "fault") return ntsim::commandFault(args);
    if (command == "window") return ntsim::commandWindow(args);
    return ntsim::usageError("no command '" + command + "'; see ntsim --help");
}
