// SPDX-License-Identifier: Apache-2.0
// The job copy.  These tests create the build's marker file, so they run
// alone (see tests/CMakeLists.txt) and only in builds that name a marker of
// their own.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

std::vector<std::string> Entries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

class JobCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(PDFTOPJL_JOBCOPY_MARKER).empty())
            GTEST_SKIP() << "this build uses the system's marker";
        const std::string marker = PDFTOPJL_JOBCOPY_MARKER;
        mkdir(marker.substr(0, marker.rfind('/')).c_str(), 0755);
        Mark("");
        WriteFile(data.file("printer.ppd"), MakePpd({}));
    }
    void TearDown() override { unlink(PDFTOPJL_JOBCOPY_MARKER); }

    // The marker, with `settings` after the copies' directory.
    void Mark(const std::string& settings, mode_t mode = 0644)
    {
        WriteFile(PDFTOPJL_JOBCOPY_MARKER, "# job copies\ndirectory=" + copies.path() + "\n" + settings);
        chmod(PDFTOPJL_JOBCOPY_MARKER, mode);
    }

    RunOptions Options(const std::string& input, const std::string& options = "")
    {
        RunOptions o;
        o.args = {"pdftopjl", "7", "bob", "Title", "1", options};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = data.file("printer.ppd");
        o.input = input;
        return o;
    }

    // The one copy in `dir`, checked for its name, mode and owner.
    static std::string OneCopy(const std::string& dir)
    {
        std::vector<std::string> names = Entries(dir);
        EXPECT_EQ(names.size(), 1u);
        if (names.size() != 1) return "";
        EXPECT_TRUE(std::regex_match(names[0], std::regex("nd[0-9]{14}\\.job"))) << names[0];
        const std::string path = dir + "/" + names[0];
        struct stat st;
        EXPECT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(st.st_uid, geteuid());
        return path;
    }

    // Plants something at every name the job could pick within a few seconds.
    std::vector<std::string> PlantAtTheNextNames(const std::function<void(const std::string&)>& plant)
    {
        std::vector<std::string> names;
        const time_t now = time(nullptr);
        for (int delta = 0; delta < 5; ++delta) {
            const time_t t = now + delta;
            struct tm local;
            localtime_r(&t, &local);
            char name[64];
            strftime(name, sizeof name, "nd%Y%m%d%H%M%S.job", &local);
            plant(copies.file(name));
            names.push_back(name);
        }
        return names;
    }

    // The copies the jobs made: every entry that was not planted.
    std::vector<std::string> NewEntries(const std::vector<std::string>& planted)
    {
        std::vector<std::string> made;
        for (const std::string& name : copies.entries())
            if (std::find(planted.begin(), planted.end(), name) == planted.end()) made.push_back(name);
        return made;
    }

    TempDir tmp;
    TempDir data;
    TempDir copies;
};

// The staging copy of the document, the messages and the job stream, in the
// order written; the stored job's passcode only when the marker asks for it.
TEST_F(JobCopy, HoldsTheWholeJobWithThePasscodeMaskedUnlessAsked)
{
    std::string bytes = "\r\nbinary\0\xFF\nend";
    bytes += std::string(20000, 'z');
    const std::string doc = MakePdfCarrying(bytes);
    for (const bool keep : {false, true}) {
        SCOPED_TRACE(keep);
        for (const std::string& name : copies.entries()) unlink(copies.file(name).c_str());
        Mark(keep ? "passcodes=keep\n" : "");
        RunResult r = RunProgram(Options(doc, "ZRPrintType=Stored ZRPasscode=Custom.86420"));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::string path = OneCopy(copies.path());
        ASSERT_FALSE(path.empty());
        std::string out = r.out;
        const std::string line = "@PJL SET HOLDENCRYPTKEY=\"86420\"\n";
        ASSERT_NE(out.find(line), std::string::npos);
        if (!keep) out.replace(out.find(line), line.size(), "@PJL SET HOLDENCRYPTKEY=\"****\"\n");
        // Messages and the page count for CUPS pass through the channel before
        // the job stream, the pages printed after it.
        const size_t pages = r.err.find("PAGE: 1 1\n");
        ASSERT_NE(pages, std::string::npos) << r.err;
        EXPECT_TRUE(ReadFile(path) == doc + r.err.substr(0, pages) + out + r.err.substr(pages))
            << "job copy differs";
    }
}

TEST_F(JobCopy, FailedJobKeepsItsMessagesInTheCopy)
{
    RunOptions o = Options("");
    o.args.push_back(tmp.file("absent.pdf"));
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 1);
    const std::string path = OneCopy(copies.path());
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ReadFile(path), r.err);
}

// Copies beyond the age limit go, then the oldest until the count holds the
// new one; other files are left alone.
TEST_F(JobCopy, OldCopiesAreRemoved)
{
    Mark("keep=3\ndays=7\n");
    const time_t now = time(nullptr);
    const std::pair<const char*, time_t> planted[] = {{"nd20200101000000.job", now - 10 * 86400},
                                                      {"nd20200101000001.job", now - 300},
                                                      {"nd20200101000002-2.job", now - 200},
                                                      {"nd20200101000003.job", now - 100},
                                                      {"notes.txt", now - 20 * 86400}};
    for (const auto& [name, mtime] : planted) {
        WriteFile(copies.file(name), "old");
        const struct timeval times[2] = {{mtime, 0}, {mtime, 0}};
        ASSERT_EQ(utimes(copies.file(name).c_str(), times), 0);
    }
    RunResult r = RunProgram(Options(MakePdf(1)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> left = copies.entries();
    ASSERT_EQ(left.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(left.begin(), left.begin() + 2),
              (std::vector<std::string>{"nd20200101000002-2.job", "nd20200101000003.job"}));
    EXPECT_TRUE(std::regex_match(left[2], std::regex("nd[0-9]{14}\\.job"))) << left[2];
    EXPECT_EQ(left[3], "notes.txt");
}

// Where the copy goes, and when none is made: a marker or a directory that
// others could change is not trusted.  The job prints either way.
TEST_F(JobCopy, PlaceAndTrust)
{
    TempDir elsewhere;
    struct Case {
        const char* name;
        std::function<void()> prepare;
        std::string copyDir;  // empty: no copy
        std::string warning;  // the start of the one line on standard error; empty: none
    };
    const std::string underTmp = tmp.file("pdftopjl-jobcopy");
    const std::vector<Case> cases = {
        {"UnderTmpdir", [&] { WriteFile(PDFTOPJL_JOBCOPY_MARKER, "directory=tmpdir\n"); }, underTmp, ""},
        {"MarkerOthersMayChange", [&] { Mark("", 0664); }, "",
         "WARNING: No job copy is made: the marker " + std::string(PDFTOPJL_JOBCOPY_MARKER) +
             " is ignored"},
        {"DirectoryOthersMayWrite", [&] {
             Mark("");
             chmod(copies.path().c_str(), 0777);
         }, "",
         "WARNING: No job copy is made: " + copies.path() + " is not this user's own directory"},
        {"DirectoryIsALink",
         [&] {
             ASSERT_EQ(symlink(elsewhere.path().c_str(), tmp.file("link").c_str()), 0);
             WriteFile(PDFTOPJL_JOBCOPY_MARKER, "directory=" + tmp.file("link") + "\n");
         },
         "", "WARNING: No job copy is made: " + tmp.file("link") + ": "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.prepare();
        RunResult r = RunProgram(Options(MakePdf(1)));
        EXPECT_EQ(r.exitCode, 0) << r.err;
        if (c.warning.empty())
            EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.rfind(c.warning, 0), 0u) << r.err;
        if (!c.copyDir.empty()) {
            struct stat st;
            ASSERT_EQ(stat(c.copyDir.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0700u);
            EXPECT_NE(ReadFile(OneCopy(c.copyDir)).find(r.out), std::string::npos);
        }
        EXPECT_TRUE(elsewhere.entries().empty());
        chmod(copies.path().c_str(), 0700);
        EXPECT_TRUE(copies.entries().empty());
    }
}

// A name already taken is left as it is, and the copy goes to the next free
// one; nothing planted there (a link, a FIFO, a file) is followed, opened,
// blocked on or overwritten.
TEST_F(JobCopy, TakenNamesAreLeftAloneAndTheNextOneUsed)
{
    TempDir victimDir;
    const std::string victim = victimDir.file("victim");
    struct Kind {
        const char* name;
        std::function<void(const std::string&)> plant;
        std::function<bool(const std::string&)> intact;
    };
    const std::vector<Kind> kinds = {
        {"link", [&](const std::string& p) { ASSERT_EQ(symlink(victim.c_str(), p.c_str()), 0); },
         [&](const std::string&) { return ReadFile(victim) == "keep"; }},
        {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); },
         [](const std::string& p) {
             struct stat st;
             return lstat(p.c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
         }},
        {"file", [](const std::string& p) { WriteFile(p, "keep"); },
         [](const std::string& p) { return ReadFile(p) == "keep"; }},
    };
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        for (const std::string& name : copies.entries()) unlink(copies.file(name).c_str());
        WriteFile(victim, "keep");
        const std::vector<std::string> planted = PlantAtTheNextNames(kind.plant);
        RunOptions o = Options(MakePdf(1));
        o.timeoutMs = 10000;
        RunResult r = RunProgram(o);
        EXPECT_FALSE(r.timedOut) << "the job blocked";
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const std::string& name : planted) EXPECT_TRUE(kind.intact(copies.file(name))) << name;
        const std::vector<std::string> made = NewEntries(planted);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_TRUE(std::regex_match(made[0], std::regex("nd[0-9]{14}-2\\.job"))) << made[0];
        EXPECT_NE(ReadFile(copies.file(made[0])).find(r.out), std::string::npos);
    }
}

// With a FIFO at the copy's name, a job whose document stalls is still
// cancelled at once.
TEST_F(JobCopy, CancelWorksWithAFifoAtTheName)
{
    const std::vector<std::string> planted =
        PlantAtTheNextNames([](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); });
    RunOptions o = Options(MakePdf(1).substr(0, 100));  // the rest never comes
    o.keepStdinOpen = true;
    o.signalToSend = SIGTERM;
    // The copy and the staging file exist: the filter is reading.
    o.signalWhen = [&] { return NewEntries(planted).size() == 1 && tmp.entries().size() == 1; };
    o.timeoutMs = 10000;
    RunResult r = RunProgram(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(r.msAfterSignal, 2000);
    EXPECT_NE(r.err.find("INFO: Job cancelled\n"), std::string::npos) << r.err;
    EXPECT_TRUE(tmp.entries().empty()) << "the staging file was left behind";
}

// Jobs started in the same second each get a copy of their own.
TEST_F(JobCopy, JobsInTheSameSecondGetFilesOfTheirOwn)
{
    std::vector<std::string> outs;
    for (int i = 0; i < 3; ++i) {
        RunResult r = RunProgram(Options(MakePdf(i + 1)));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        outs.push_back(r.out);
    }
    const std::vector<std::string> made = copies.entries();
    ASSERT_EQ(made.size(), 3u);
    for (const std::string& out : outs) {
        int holders = 0;
        for (const std::string& name : made)
            if (ReadFile(copies.file(name)).find(out) != std::string::npos) ++holders;
        EXPECT_EQ(holders, 1);
    }
}

}  // namespace
