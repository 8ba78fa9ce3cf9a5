// The job-copy file.  These tests create the build's marker file, so they run
// alone (see tests/CMakeLists.txt) and only in builds whose marker is not the
// system path.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <regex>
#include <string>

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
    }
    void TearDown() override { unlink(PDFTOPJL_JOBCOPY_MARKER); }

    RunOptions Options(const std::string& input)
    {
        RunOptions o;
        o.args = {"pdftopjl", "7", "bob", "Title", "1", ""};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = std::nullopt;
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

    TempDir tmp;
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

TEST_F(JobCopy, PlantedSymbolicLinkIsNotFollowed)
{
    // Every name the job could pick within a few seconds points elsewhere.
    TempDir victimDir;
    std::string victim = victimDir.file("victim");
    WriteFile(victim, "keep");
    time_t now = time(nullptr);
    for (int delta = 0; delta < 5; ++delta) {
        time_t t = now + delta;
        struct tm local;
        localtime_r(&t, &local);
        char name[64];
        strftime(name, sizeof name, "nd%Y%m%d%H%M%S.job", &local);
        ASSERT_EQ(symlink(victim.c_str(), tmp.file(name).c_str()), 0);
    }
    RunResult r = RunProgram(Options(MakePdf(1)));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(victim), "keep");
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
