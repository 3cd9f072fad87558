// The tool and the machine under bad input: every file read has a bound
// and a format check, every write is checked, and nothing of the machine
// changes when a command is refused.
#include "support/TestMachine.h"

#include "machine/FileLock.h"
#include "machine/Json.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::string fileBytes(const std::string& path)
{
    std::string text;
    EXPECT_TRUE(ntsim::readWholeFile(path, text)) << path;
    return text;
}

}

TEST(BadInput, SnapshotsAreBoundedCheckedWholeAndNeverWrittenIntoTheMachine)
{
    test::TestMachine m;
    std::string snap = m.dir() + "-good.snap";
    ASSERT_EQ(m.tool({ "snapshot", m.dir(), snap }).exitCode, 0);
    EXPECT_TRUE(contains(m.tool({ "diff", m.dir(), "--since", snap }).out, "No changes since"));

    // What is no snapshot is refused at its first bytes, whatever it is.
    for (const char* device : { "/dev/zero", "/dev/urandom" }) {
        auto r = m.tool({ "diff", m.dir(), "--since", device });
        EXPECT_EQ(r.exitCode, 1) << device;
        EXPECT_TRUE(contains(r.out, std::string("diff: ") + device + " is not a snapshot")) << r.out;
    }
    // A snapshot cut short is not read as one that lists less.
    std::string whole = fileBytes(snap);
    std::string cut = m.dir() + "-cut.snap";
    ASSERT_TRUE(ntsim::writeFileAtomically(cut, whole.substr(0, 200)));
    auto r = m.tool({ "diff", m.dir(), "--since", cut });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out, "is cut short")) << r.out;
    // A record changed by hand.
    std::string bad = whole;
    bad.replace(bad.find("\nfile\t") + 1, 5, "flie\t");
    ASSERT_TRUE(ntsim::writeFileAtomically(cut, bad));
    EXPECT_TRUE(contains(m.tool({ "diff", m.dir(), "--since", cut }).out, "not a snapshot record"));

    // A write that fails is a failure.
    r = m.tool({ "snapshot", m.dir(), "/dev/full" });
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.out, "cannot write /dev/full")) << r.out;
    struct stat st;
    ASSERT_EQ(stat("/dev/full", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device stays a device";

    // The machine's own database is not a place for a snapshot.
    std::string db = m.dir() + "/registry/registry.db";
    std::string before = fileBytes(db);
    r = m.tool({ "snapshot", m.dir(), db });
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.out, "lies inside the machine")) << r.out;
    EXPECT_EQ(fileBytes(db), before);
    EXPECT_EQ(m.tool({ "snapshot", m.dir(), m.host("C:\\TEMP\\s.snap") }).exitCode, 2);
    EXPECT_FALSE(m.exists("C:\\TEMP\\s.snap"));
}

TEST(BadInput, ScriptsAreBoundedAndALineNoAnswerCanBeIsNamedBeforeTheRun)
{
    test::TestMachine m;
    auto run = [&](const std::string& script) {
        return m.tool({ "run", m.dir(), "--script", script, "--", "C:\\MODEM\\SETUP.EXE", "-l" });
    };
    auto r = run("/dev/zero");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.out, "run: the script /dev/zero is larger than a script can be (64 MB)")) << r.out;
    EXPECT_FALSE(m.exists("C:\\MODEM\\SETUP.TXT")) << "the program never started";

    std::string script = m.dir() + "-script.txt";
    ASSERT_TRUE(ntsim::writeFileAtomically(script, std::string("next\nne\0xt\n", 11)));
    r = run(script);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.out, "script line 2: holds the control character 0x00 (a NUL byte)")) << r.out;

    ASSERT_TRUE(ntsim::writeFileAtomically(script, "next\n\xEF\xBB\xBFnext\n"));
    r = run(script);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.out, "script line 2: holds a byte-order mark")) << r.out;
    EXPECT_FALSE(m.exists("C:\\MODEM\\SETUP.TXT"));

    // An editor's byte-order mark before the first line is no part of it.
    ASSERT_TRUE(ntsim::writeFileAtomically(script, "\xEF\xBB\xBF" "cancel\nyes\n"));
    r = run(script);
    EXPECT_EQ(r.exitCode, 0) << r.out;
}

TEST(BadInput, AMachineFileWithAUserOfNoSidIsRefused)
{
    test::TestMachine m;
    std::string path = m.dir() + "/machine.json";
    std::string text = fileBytes(path);
    ntsim::Json j;
    std::string error;
    ASSERT_TRUE(ntsim::parseJson(text, j, error)) << error;
    j["user"]["sid"] = "S-1-garbage";
    ASSERT_TRUE(ntsim::writeFileAtomically(path, ntsim::dumpPretty(j)));
    auto r = m.tool({ "run", m.dir(), "--", "C:\\MODEM\\SETUP.EXE", "-s" });
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "user.sid")) << r.out;
    EXPECT_TRUE(contains(r.out, "is not a SID")) << r.out;

    j["user"]["sid"] = "S-1-5-21-1-2-3-500";
    j["user"]["groups"] = ntsim::Json::array({ "S-1-5-32-544", "Administrators" });
    ASSERT_TRUE(ntsim::writeFileAtomically(path, ntsim::dumpPretty(j)));
    r = m.tool({ "run", m.dir(), "--", "C:\\MODEM\\SETUP.EXE", "-s" });
    EXPECT_NE(r.exitCode, 0);
    EXPECT_TRUE(contains(r.out, "user.groups[1]")) << r.out;
}

TEST(BadInput, DeviceNamesAndStreamsNeverBecomeFilesOfTheDrive)
{
    test::TestMachine m;
    m.attach();
    struct Case {
        const char* path;
        DWORD error;
    };
    // The console is no GUI program's (Wine 8.0 answers so too); the
    // machine gives its programs no other device; ':' names a stream,
    // which the machine's drive keeps none of, and NT refuses < > " |.
    const Case cases[] = {
        { "C:\\TEMP\\CON", ERROR_INVALID_HANDLE },
        { "C:\\TEMP\\con.txt", ERROR_INVALID_HANDLE },
        { "C:\\TEMP\\LPT1.txt", ERROR_FILE_NOT_FOUND },
        { "C:\\TEMP\\COM9", ERROR_FILE_NOT_FOUND },
        { "C:\\TEMP\\NUL", ERROR_FILE_NOT_FOUND },
        { "C:\\TEMP\\a:stream", ERROR_INVALID_NAME },
        { "C:\\TEMP\\a<b", ERROR_INVALID_NAME },
        { "C:\\TEMP\\a|b", ERROR_INVALID_NAME },
    };
    for (const Case& c : cases) {
        SetLastError(0);
        HANDLE h = CreateFileA(c.path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
        SetLastError(0);
        EXPECT_FALSE(CreateDirectoryA(c.path, nullptr)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
        SetLastError(0);
        EXPECT_FALSE(CopyFileA("C:\\MODEM\\DRV_MEQ.INF", c.path, FALSE)) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    // A name that only begins like a device is a file.
    HANDLE h = CreateFileA("C:\\TEMP\\CONX", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_TRUE(m.exists("C:\\TEMP\\CONX"));
    for (const char* host : { "CON", "con.txt", "LPT1.txt", "a:stream", "a" })
        EXPECT_FALSE(m.exists(std::string("C:\\TEMP\\") + host)) << host;
}
