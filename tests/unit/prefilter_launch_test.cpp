// SPDX-License-Identifier: Apache-2.0
// Starting the pre-filter and staging its output: the arguments passed on,
// and every way a pre-filter can fail.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "cups/adapter.hpp"
#include "core/prefilter.hpp"
#include "core/staging.hpp"
#include "job/tempfiles.hpp"
#include "support/fixtures.hpp"
#include "unit/prefilter_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

int OpenDescriptorCount()
{
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

// Standard input of this process, replaced for one test.
class ScopedStdin {
public:
    explicit ScopedStdin(const std::string& path) : saved_(dup(STDIN_FILENO))
    {
        int fd = open(path.c_str(), O_RDONLY);
        dup2(fd, STDIN_FILENO);
        close(fd);
    }
    ~ScopedStdin()
    {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
    }

private:
    int saved_;
};

// Records the arguments it got (count first), then copies the document as a
// CUPS filter reads it: argument 6, else standard input.
const char kRecordingFilter[] =
    "printf '%s\\n' \"$#\" \"$@\" > \"$(dirname \"$0\")/../args\"\n"
    "if [ $# -ge 6 ]; then exec cat \"$6\"; else exec cat; fi\n";

class PreFilterLaunch : public CupsInstallation {
protected:
    void SetUp() override
    {
        CupsInstallation::SetUp();
        Table(0, "application/pdf application/vnd.cups-pdf 66 layout\n");
        setenv("TMPDIR", tmp.path().c_str(), 1);
        doc = MakePdf(3);
        WriteFile(root.file("doc.pdf"), doc);
    }

    std::vector<std::string> Args(int argc)
    {
        std::vector<std::string> args = {"queue", "17", "alice", "Report", "1", "number-up=2"};
        if (argc >= 7) args.push_back(root.file("doc.pdf"));
        if (argc >= 8) args.push_back("extra");
        return args;
    }

    std::string RecordedArgs() { return ReadFile(root.file("b/args")); }

    TempDir tmp;
    std::string doc;
};

struct Stage {
    int result;
    std::string stagedPath;
    int64_t fileSize;
    std::string err;
};

// The job as the CUPS adapter makes it of the filter's arguments.
struct Adapted {
    CupsJob job;
    JobDocument document;
};

Adapted AdaptedOf(std::vector<std::string> args)
{
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    JobArguments arguments = *JobArguments::FromCommandLine(static_cast<int>(args.size()), argv.data());
    JobDocument document;
    document.path = arguments.documentPath;
    const int copies = std::stoi(arguments.copies);
    return {AdaptCupsJob(JobInputs(std::move(arguments), OpenPpd(std::getenv("PPD"))), copies), document};
}

// Stages as a two-up job, through the pre-filter.
Stage Staged(std::vector<std::string> args)
{
    const Adapted adapted = AdaptedOf(args);
    ::testing::internal::CaptureStderr();
    Outcome failure = Outcome::Printed;
    std::optional<StagedDocument> staged =
        StageDocument(adapted.job.ticket, adapted.job.printer, adapted.document, &failure);
    std::string err = ::testing::internal::GetCapturedStderr();
    if (!staged) return {0, "", 0, err};
    return {1, staged->path, staged->size, err};
}

TEST_F(PreFilterLaunch, ExecuteFilterPassesOnSixOrSevenArguments)
{
    const std::string program = Program("layout", kRecordingFilter);
    for (int argc : {6, 7, 8}) {
        SCOPED_TRACE(argc);
        std::vector<std::string> args = Args(argc);
        args[4] = "3";
        const Adapted given = AdaptedOf(args);

        ScopedStdin in(root.file("doc.pdf"));
        fflush(nullptr);
        int out[2];
        ASSERT_EQ(pipe(out), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            dup2(out[1], STDOUT_FILENO);
            ExecuteFilter(program, given.job.ticket, given.job.printer, given.document);
            _exit(42);
        }
        close(out[1]);
        std::string got;
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) got.append(buffer, n);
        close(out[0]);
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_TRUE(got == doc);

        // The shell shows arguments 1 and up; argument 0 is the script's path.
        // The copies are left to the printer: the pre-filter is asked for one;
        // and the filter counts the pages, not the pre-filter.
        std::string expected = argc == 6 ? "5\n" : "6\n";
        for (size_t i = 1; i < 6; ++i)
            expected += (i == 4 ? std::string("1") : i == 5 ? args[i] + " page-logging=off" : args[i]) + "\n";
        if (argc >= 7) expected += args[6] + "\n";
        EXPECT_EQ(RecordedArgs(), expected);
    }
}

TEST_F(PreFilterLaunch, ExecuteFilterReturnsWhenTheProgramCannotStart)
{
    const std::string program = Program("layout", kRecordingFilter, 0644);
    const Adapted given = AdaptedOf(Args(7));
    fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ExecuteFilter(program, given.job.ticket, given.job.printer, given.document);
        _exit(errno == EACCES ? 42 : 43);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 42);
}

TEST_F(PreFilterLaunch, OutputBecomesTheIntakeFile)
{
    // Larger than a pipe's buffer, so the copy and the child overlap.
    doc = MakePdf(2) + std::string(3 << 20, '%');
    WriteFile(root.file("doc.pdf"), doc);
    Program("layout", kRecordingFilter);
    for (int argc : {6, 7}) {
        SCOPED_TRACE(argc);
        ScopedStdin in(root.file("doc.pdf"));
        Stage s = Staged(Args(argc));
        ASSERT_EQ(s.result, 1) << s.err;
        EXPECT_EQ(s.err, "");
        EXPECT_EQ(s.stagedPath.rfind(tmp.path() + "/", 0), 0u) << s.stagedPath;
        EXPECT_EQ(s.fileSize, static_cast<int64_t>(doc.size()));
        EXPECT_TRUE(ReadFile(s.stagedPath) == doc);
        job::RemoveAllTempFiles();
        EXPECT_TRUE(tmp.entries().empty());
    }
}

struct FailureCase {
    const char* name;
    std::string body;       // the pre-filter's commands
    mode_t mode;
    std::string message;    // "@" stands for the program's path
};

class FailingPreFilter : public PreFilterLaunch,
                         public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailingPreFilter, StagingFailsAndLeavesNothingBehind)
{
    std::string program = Program("layout", GetParam().body, GetParam().mode);
    if (GetParam().body.empty()) WriteFile(program, "not a program\n");
    const int descriptors = OpenDescriptorCount();
    Stage s = Staged(Args(7));
    EXPECT_EQ(s.result, 0);
    std::string expected = GetParam().message;
    expected.replace(expected.find('@'), 1, program);
    // One line: the reason, as an error.
    EXPECT_EQ(s.err.rfind("ERROR: " + expected, 0), 0u) << s.err;
    EXPECT_EQ(s.err.find('\n'), s.err.size() - 1) << s.err;
    EXPECT_EQ(s.stagedPath, "");
    EXPECT_TRUE(tmp.entries().empty());
    EXPECT_EQ(OpenDescriptorCount(), descriptors) << "a pipe descriptor was left open";
    EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1) << "a child was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingPreFilter,
    ::testing::Values(
        FailureCase{"ExitStatusOne", "cat \"$6\"\nexit 1\n", 0755,
                    "The pre-filter @ failed with exit status 1"},
        FailureCase{"KilledBySignal", "cat \"$6\"\nkill -KILL $$\n", 0755,
                    "The pre-filter @ was killed by signal 9"},
        FailureCase{"NoOutput", "exit 0\n", 0755, "The pre-filter @ produced no output"},
        FailureCase{"OutputClosedThenFails", "cat \"$6\"\nexec >&-\nsleep 0.2\nexit 3\n", 0755,
                    "The pre-filter @ failed with exit status 3"},
        FailureCase{"NotExecutable", "cat \"$6\"\n", 0644,
                    "Cannot run the pre-filter @: Permission denied"},
        FailureCase{"NotAProgram", "", 0755, "Cannot run the pre-filter @: Exec format error"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

// What the pre-filter says reaches the log at debug level; its errors and
// warnings are shown again, as they were, only when it fails.
TEST_F(PreFilterLaunch, ItsMessagesAreShownOnlyWhenItFails)
{
    const char kSays[] = "echo 'ERROR: pdftopdf: Last filter could not get determined' >&2\n"
                         "echo 'DEBUG: pdftopdf: detail' >&2\nprintf 'PAGE: 1 1\\nno line end' >&2\n"
                         "cat \"$6\"\n";
    for (const bool fails : {false, true}) {
        const std::string program = Program("layout", std::string(kSays) + (fails ? "exit 2\n" : ""));
        Stage s = Staged(Args(7));
        std::string expected =
            "DEBUG: ERROR: pdftopdf: Last filter could not get determined\n"
            "DEBUG: pdftopdf: detail\nDEBUG: PAGE: 1 1\nDEBUG: no line end\n";
        if (fails)
            expected += "ERROR: pdftopdf: Last filter could not get determined\nERROR: The pre-filter " +
                        program + " failed with exit status 2 (its own messages above say why); " +
                        "nothing was sent to the printer\n";
        EXPECT_EQ(s.err, expected);
        EXPECT_EQ(s.result, fails ? 0 : 1);
        job::RemoveAllTempFiles();
    }
}

TEST_F(PreFilterLaunch, FailedSelectionClosesThePipe)
{
    unsetenv("PPD");
    const int descriptors = OpenDescriptorCount();
    Stage s = Staged(Args(7));
    EXPECT_EQ(s.result, 0);
    EXPECT_EQ(s.err.rfind("ERROR: The printer's PPD cannot be read", 0), 0u) << s.err;
    EXPECT_NE(s.err.find("\nppdOpenFile return NULL\n"), std::string::npos) << s.err;
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_TRUE(tmp.entries().empty());
}

}  // namespace
