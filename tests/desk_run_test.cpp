// The desk of a run with several processes (ntsim run): script lines
// addressed to a window's title, the transcript in the script's order
// whatever the timing, the run's status, and the processes it waits for.
#include "kernel32_child.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

namespace {

const char child[] = "C:\\WINNT\\system32\\K32CHILD.EXE";

std::string box(const std::string& caption, const std::string& answer = "")
{
    return R"({"event":"messagebox","owner":null,"caption":")" + caption + R"(","text":"Shown by )" + caption
        + R"(","style":1)" + (answer.empty() ? "" : R"(,"answer":")" + answer + "\"") + "}";
}

std::vector<std::string> lines(const test::RunResult& r)
{
    std::vector<std::string> out;
    for (auto& j : r.transcript)
        out.push_back(ntsim::dumpLine(j));
    return out;
}

}

TEST(DeskRun, AddressedLinesAndATranscriptThatDoesNotDependOnTiming)
{
    test::TestMachine m;
    test::installChildProgram(m);
    // The wizard (the run's program) starts the applet without waiting;
    // either may show its box first.
    const std::vector<std::string> script { "@\"applet\" cancel", "ok" };
    for (const char* wizardDelay : { "0", "400" }) {
        const char* appletDelay = std::string(wizardDelay) == "0" ? "400" : "0";
        test::RunResult r = m.run({ child, "spawn", wizardDelay, "Wizard", "box", "Applet", appletDelay }, script);
        EXPECT_EQ(r.exitCode, 1) << r.out; // IDOK, the wizard's answer
        EXPECT_EQ(lines(r), (std::vector<std::string> { box("Applet", "cancel"), box("Wizard", "ok") }))
            << "wizard after " << wizardDelay << " ms: " << r.out;
    }
}

TEST(DeskRun, EachProcessTakesOnlyItsOwnLines)
{
    test::TestMachine m;
    test::installChildProgram(m);

    // A started process takes no unaddressed line: it ends, and so does the run, with status 3.
    test::RunResult r = m.run({ child, "spawn", "300", "Wizard", "box", "Applet" }, { "ok", "ok" });
    EXPECT_EQ(r.exitCode, 3) << r.out;
    EXPECT_NE(r.out.find("ntsim: no answer in the script for message box \"Applet\" of C:\\WINNT\\system32\\K32CHILD.EXE "
                         "(a process the program started takes only lines addressed to its window, e.g. @\"Applet\" ok)\n"),
        std::string::npos)
        << r.out;
    // Its unanswered box is placed where it started, before the wizard's.
    EXPECT_EQ(lines(r), (std::vector<std::string> { box("Applet"), box("Wizard", "ok") }));

    // A process started after its parent took line 1 comes after that line.
    test::RunResult later = m.run({ child, "then", "Wizard", "spawn", "0", "-", "box", "Applet" }, { "ok" });
    EXPECT_EQ(later.exitCode, 3) << later.out;
    EXPECT_EQ(lines(later), (std::vector<std::string> { box("Wizard", "ok"), box("Applet") }));

    // The run's program takes no line addressed to another window.
    test::RunResult r2 = m.run({ child, "box", "Wizard" }, { "@\"Applet\" ok" });
    EXPECT_EQ(r2.exitCode, 3) << r2.out;
    EXPECT_NE(r2.out.find("ntsim: no answer left in the script for message box \"Wizard\"\n"), std::string::npos) << r2.out;
    EXPECT_EQ(lines(r2), (std::vector<std::string> { box("Wizard") }));

    // Lines addressed to one title go, in order, to its windows, whoever shows them.
    test::RunResult r3 = m.run({ child, "spawn", "0", "Applet", "box", "Applet", "300" }, { "@Applet cancel", "@APPLET ok" });
    EXPECT_EQ(r3.exitCode, 2) << r3.out; // IDCANCEL
    EXPECT_EQ(lines(r3), (std::vector<std::string> { box("Applet", "cancel"), box("Applet", "ok") }));
}

TEST(DeskRun, TheRunWaitsForTheProcessesItsProgramLeft)
{
    test::TestMachine m;
    test::installChildProgram(m);
    // The program ends at once; the applet answers half a second later.
    test::RunResult r = m.run({ child, "spawn", "0", "-", "box", "Applet", "500" }, { "@\"Applet\" ok" });
    EXPECT_EQ(r.exitCode, 0) << r.out;
    EXPECT_EQ(lines(r), (std::vector<std::string> { box("Applet", "ok") }));

    // One that does not end is ended after the time given.
    auto started = std::chrono::steady_clock::now();
    test::RunResult stuck = m.tool({ "run", m.dir(), "--wait-others", "1", "--", child, "spawn", "0", "-", "sleep", "60000" });
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    EXPECT_EQ(stuck.exitCode, 0) << stuck.out;
    EXPECT_NE(stuck.out.find("ntsim: C:\\WINNT\\system32\\K32CHILD.EXE (pid "), std::string::npos) << stuck.out;
    EXPECT_NE(stuck.out.find(") still ran 1 s after the program ended; ended it\n"), std::string::npos) << stuck.out;
}

TEST(DeskRun, ScriptErrorsAreReportedBeforeTheRun)
{
    test::TestMachine m;
    test::installChildProgram(m);
    std::string script = m.dir() + "/../bad.script";
    std::ofstream(script) << "ok\n@\"Applet ok\n";
    test::RunResult r = m.tool({ "run", m.dir(), "--script", script, "--", child, "exit", "0" });
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.out, "ntsim: run: script line 2: the window title has no closing quote\n");
    test::RunResult bad = m.tool({ "run", m.dir(), "--wait-others", "-1", "--", child, "exit", "0" });
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.out, "ntsim: run: --wait-others: Value -1 not in range 0 to 86400 (see ntsim run --help)\n");
    // The help says how to address a line.
    test::RunResult help = m.tool({ "run", "--help" });
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("@\"TITLE\" ANSWER  only for a window of that title"), std::string::npos) << help.out;
}
