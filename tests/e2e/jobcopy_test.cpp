// The job-copy file.  These tests create the build's marker file, so they run
// alone (see tests/CMakeLists.txt) and only in builds whose marker is not the
// system path.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
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

const std::string kDefaultMarker = "/Library/Printers/VESPARON/ndjobcopy";

class JobCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string(PDFTOPJL_JOBCOPY_MARKER) == kDefaultMarker)
            GTEST_SKIP() << "this build uses the system marker path";
        std::string marker = PDFTOPJL_JOBCOPY_MARKER;
        std::string dir = marker.substr(0, marker.rfind('/'));
        mkdir(dir.c_str(), 0755);
        WriteFile(marker, "");
        WriteFile(data.file("printer.ppd"), MakePpd({}));
    }
    void TearDown() override { unlink(PDFTOPJL_JOBCOPY_MARKER); }

    RunOptions Options(const std::string& input)
    {
        RunOptions o;
        o.args = {"pdftopjl", "7", "bob", "Title", "1", ""};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = data.file("printer.ppd");
        o.input = input;
        return o;
    }

    // The one job-copy file in TMPDIR, checked for its name.
    std::string JobCopyFile()
    {
        std::vector<std::string> names = tmp.entries();
        EXPECT_EQ(names.size(), 1u);
        if (names.size() != 1) return "";
        EXPECT_TRUE(std::regex_match(names[0], std::regex("nd[0-9]{14}\\.job"))) << names[0];
        return tmp.file(names[0]);
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
            plant(tmp.file(name));
            names.push_back(name);
        }
        return names;
    }

    // The job-copy files the jobs made: every entry that was not planted.
    std::vector<std::string> NewEntries(const std::vector<std::string>& planted)
    {
        std::vector<std::string> made;
        for (const std::string& name : tmp.entries())
            if (std::find(planted.begin(), planted.end(), name) == planted.end()) made.push_back(name);
        return made;
    }

    TempDir tmp;
    TempDir data;
};

TEST_F(JobCopy, HoldsTheStagingCopyThenTheJobStream)
{
    std::string bytes = "\r\nbinary\0\xFF\nend";
    bytes += std::string(20000, 'z');
    const std::string doc = MakePdfCarrying(bytes);
    RunResult r = RunProgram(Options(doc));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string path = JobCopyFile();
    ASSERT_FALSE(path.empty());
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0676u);
    // Messages and the page count for CUPS pass through the channel before
    // the job stream, the pages printed after it.
    const size_t pages = r.err.find("PAGE: 1 1\n");
    ASSERT_NE(pages, std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ATTR: job-impressions=1\n"), std::string::npos) << r.err;
    EXPECT_TRUE(ReadFile(path) == doc + r.err.substr(0, pages) + r.out + r.err.substr(pages))
        << "job copy differs";
}

TEST_F(JobCopy, FailedJobKeepsItsMessagesInTheCopy)
{
    RunOptions o = Options("");
    o.args.push_back(tmp.file("absent.pdf"));
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 1);
    std::string path = JobCopyFile();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(ReadFile(path), r.err);
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
        for (const std::string& name : tmp.entries()) unlink(tmp.file(name).c_str());
        WriteFile(victim, "keep");
        const std::vector<std::string> planted = PlantAtTheNextNames(kind.plant);
        RunOptions o = Options(MakePdf(1));
        o.timeoutMs = 10000;
        RunResult r = RunProgram(o);
        EXPECT_FALSE(r.timedOut) << "the job blocked";
        EXPECT_EQ(r.exitCode, 0) << r.err;
        for (const std::string& name : planted) EXPECT_TRUE(kind.intact(tmp.file(name))) << name;
        const std::vector<std::string> made = NewEntries(planted);
        ASSERT_EQ(made.size(), 1u);
        EXPECT_TRUE(std::regex_match(made[0], std::regex("nd[0-9]{14}-2\\.job"))) << made[0];
        EXPECT_NE(ReadFile(tmp.file(made[0])).find(r.out), std::string::npos);
    }
}

// With a FIFO at the job copy's name, a job whose document stalls is still
// cancelled at once.
TEST_F(JobCopy, CancelWorksWithAFifoAtTheName)
{
    const std::vector<std::string> planted =
        PlantAtTheNextNames([](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0666), 0); });
    RunOptions o = Options(MakePdf(1).substr(0, 100));  // the rest never comes
    o.keepStdinOpen = true;
    o.signalToSend = SIGTERM;
    // The copy and the staging file exist: the filter is reading.
    o.signalWhen = [&] { return NewEntries(planted).size() == 2; };
    o.timeoutMs = 10000;
    RunResult r = RunProgram(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_LT(r.msAfterSignal, 2000);
    EXPECT_NE(r.err.find("INFO: Job cancelled\n"), std::string::npos) << r.err;
    EXPECT_EQ(NewEntries(planted).size(), 1u) << "the staging file was left behind";
}

// Jobs started in the same second each get a copy of their own.
TEST_F(JobCopy, JobsInTheSameSecondGetFilesOfTheirOwn)
{
    std::vector<std::string> outs;
    for (int i = 0; i < 3; ++i) {
        RunOptions o = Options(MakePdf(i + 1));
        RunResult r = RunProgram(o);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        outs.push_back(r.out);
    }
    const std::vector<std::string> made = tmp.entries();
    ASSERT_EQ(made.size(), 3u);
    for (const std::string& out : outs) {
        int holders = 0;
        for (const std::string& name : made)
            if (ReadFile(tmp.file(name)).find(out) != std::string::npos) ++holders;
        EXPECT_EQ(holders, 1);
    }
}

TEST_F(JobCopy, UnsetTemporaryDirectoryMeansNoCopy)
{
    TempDir cwd;
    RunOptions o = Options(MakePdf(1));
    o.env["TMPDIR"] = std::nullopt;
    o.workDir = cwd.path();
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(cwd.entries().empty());
}

}  // namespace
