// ntsim: create, run, inspect and break simulated NT 4.0 machines.
#include "Commands.h"
#include "NewMachine.h"

#include "machine/Machine.h"
#include "machine/RunStore.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <utility>
#include <vector>

namespace ntsim {

namespace {

const Verb verbs[] = {
    { "new", "Create a fresh NT 4.0 machine with the sample package in C:\\MODEM", defineNew },
    { "put", "Copy a folder of files (the sample package by default) onto drive C:", definePut },
    { "set", "Change the machine's hardware, locale or user", defineSet },
    { "run", "Run a program of the machine", defineRun },
    { "reg", "Export, import or show the machine's registry", defineReg },
    { "sc", "Query, start, stop, create, configure or delete services as NT's sc does", defineSc },
    { "fault", "Make the n-th call of an API fail with a chosen error", defineFault },
    { "window", "Own a top-level window until it is closed", defineWindow },
    { "devcon", "Find, show, install and remove the machine's devices as devcon does", defineDevcon },
    { "snapshot", "Record the registry, files, services and devices for a later diff", defineSnapshot },
    { "diff", "Show what changed since a snapshot", defineDiff },
    { "trace", "Show the calls a run traced (ntsim run --trace)", defineTrace },
    { "sweep", "Run a scenario once for every call it makes, with that call failing", defineSweep },
};

// The verb whose runner runs: its refusals start with it, whoever words them.
std::string runningVerb;

std::string fromVerb(const std::string& message)
{
    if (runningVerb.empty() || message.compare(0, runningVerb.size(), runningVerb) == 0)
        return message;
    return runningVerb + ": " + message;
}

// "reg export" for the subcommand the parse had reached.
std::string verbPath(const CLI::App& app)
{
    std::string path;
    const CLI::App* at = &app;
    for (;;) {
        auto chosen = at->get_subcommands();
        if (chosen.empty())
            return path;
        at = chosen.front();
        path += (path.empty() ? "" : " ") + at->get_name();
    }
}

}

bool attachMachine(const std::string& dir, std::string& error)
{
    Machine probe;
    if (!Machine::open(dir, probe, error) || !registryIsSound(probe, error))
        return false;
    Machine::attach(dir);
    return RunStore::tryCurrent(error) != nullptr;
}

int usageError(const std::string& message)
{
    std::fprintf(stderr, "ntsim: %s\n", fromVerb(message).c_str());
    return 2;
}

int failure(const std::string& message)
{
    std::fprintf(stderr, "ntsim: %s\n", fromVerb(message).c_str());
    return 1;
}

}

int main(int argc, char** argv)
{
    CLI::App app("Create, run, inspect and break simulated NT 4.0 machines.", "ntsim");
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, ntsim::Runner>> runners;
    for (const ntsim::Verb& verb : ntsim::verbs) {
        CLI::App* sub = app.add_subcommand(verb.name, verb.summary);
        runners.emplace_back(sub, verb.define(*sub));
    }
    if (argc < 2) {
        std::cerr << app.help();
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e, std::cout, std::cerr); // --help: the help of the verb given
    } catch (const CLI::ParseError& e) {
        std::string verb = ntsim::verbPath(app);
        if (verb == "run")
            if (auto problem = ntsim::runCommandLineProblem(argc, argv))
                return ntsim::usageError(*problem);
        if (verb.empty() && argv[1][0] != '-')
            return ntsim::usageError(std::string("no command '") + argv[1] + "' (see ntsim --help)");
        std::string where = verb.empty() ? "ntsim --help" : "ntsim " + verb + " --help";
        return ntsim::usageError((verb.empty() ? "" : verb + ": ") + e.what() + " (see " + where + ")");
    }
    for (auto& [sub, run] : runners) {
        if (sub->parsed()) {
            ntsim::runningVerb = sub->get_name();
            return run();
        }
    }
    return ntsim::usageError("no command given (see ntsim --help)");
}
