// SPDX-License-Identifier: Apache-2.0
// The filter run as CUPS runs it: framing, body copy, failures, signals.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <regex>
#include <string>

#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

const std::string kHead = std::string(kUEL) + "@PJL JOB MODE=PRINTER";

// Bytes that stress the body copy's chunking: line ends, NUL and 0xFF.
std::string Bytes(size_t size)
{
    std::string bytes;
    bytes.reserve(size);
    unsigned state = 12345;
    while (bytes.size() < size) {
        state = state * 1103515245u + 12345u;
        unsigned r = (state >> 16) & 0xFF;
        if (r < 8) bytes += '\r';
        else if (r < 16) bytes += '\n';
        else if (r < 24) bytes += '\0';
        else if (r < 32) bytes += '\xFF';
        else bytes += static_cast<char>(r);
    }
    return bytes;
}

// Documents of about `size` bytes carrying such bytes, with and without a
// final line end.
std::string Document(size_t size, bool finalLineEnd)
{
    return MakePdfCarrying(Bytes(size), finalLineEnd);
}

class FilterRun : public ::testing::Test {
protected:
    RunOptions Options(const std::vector<std::string>& extra = {})
    {
        RunOptions o;
        o.args = {"pdftopjl", "42", "alice", "Report", "1", ""};
        o.args.insert(o.args.end(), extra.begin(), extra.end());
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = std::nullopt;
        return o;
    }

    void ExpectFramedJob(const RunResult& r, const std::string& doc)
    {
        ASSERT_FALSE(HasSanitizerReport(r.err)) << r.err;
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Job job = ParseJob(r.out);
        ASSERT_TRUE(job.framed) << job.error;
        ASSERT_GE(job.header.size(), 6u);
        EXPECT_EQ(job.header[0], kHead);
        EXPECT_EQ(job.header[1], "@PJL SET STRINGCODESET=\"SJISX0208\"");
        EXPECT_EQ(job.header[2], "@PJL COMMENT begin");
        EXPECT_EQ(job.header[3], "@PJL COMMENT Version:4.00");
        EXPECT_EQ(job.header[job.header.size() - 2],
                  "@PJL SET JOBATTR=\"@FSIZ=" + std::to_string(doc.size()) + "\"");
        EXPECT_EQ(job.header.back(), "@PJL ENTER LANGUAGE=PDF");
        EXPECT_EQ(job.fsiz, static_cast<long long>(doc.size()));
        EXPECT_TRUE(job.body == doc) << "body differs from the document";
        EXPECT_EQ(job.trailer, kTrailer);
        EXPECT_EQ(tmp.entries(), std::vector<std::string>{}) << "temporary files left behind";
    }

    TempDir tmp;
    TempDir data;
};

struct DocCase {
    size_t size;
    bool finalLineEnd;
};

class BodyCopy : public FilterRun, public ::testing::WithParamInterface<DocCase> {};

TEST_P(BodyCopy, SixArgumentsReadStandardInput)
{
    std::string doc = Document(GetParam().size, GetParam().finalLineEnd);
    RunOptions o = Options();
    o.input = doc;
    ExpectFramedJob(RunProgram(o), doc);
}

TEST_P(BodyCopy, SixArgumentsWithAFileAsStandardInput)
{
    std::string doc = Document(GetParam().size, GetParam().finalLineEnd);
    WriteFile(data.file("doc.pdf"), doc);
    RunOptions o = Options();
    o.stdinFile = data.file("doc.pdf");
    ExpectFramedJob(RunProgram(o), doc);
}

TEST_P(BodyCopy, SevenArgumentsReadTheFile)
{
    std::string doc = Document(GetParam().size, GetParam().finalLineEnd);
    WriteFile(data.file("doc.pdf"), doc);
    ExpectFramedJob(RunProgram(Options({data.file("doc.pdf")})), doc);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BodyCopy,
                         ::testing::Values(DocCase{0, false}, DocCase{1, false},
                                           DocCase{8064, false}, DocCase{8064, true},
                                           DocCase{8065, false}, DocCase{8065, true},
                                           DocCase{8066, false}, DocCase{(1u << 20) + 17, false},
                                           DocCase{(1u << 20) + 17, true},
                                           DocCase{(3u << 20) + 5, false}),
                         [](const ::testing::TestParamInfo<DocCase>& info) {
                             return std::to_string(info.param.size) +
                                    (info.param.finalLineEnd ? "_LineEnd" : "_NoLineEnd");
                         });

TEST_F(FilterRun, ArgumentsAfterTheSeventhAreIgnored)
{
    std::string doc = Document(1000, true);
    WriteFile(data.file("doc.pdf"), doc);
    ExpectFramedJob(RunProgram(Options({data.file("doc.pdf"), "extra", "more"})), doc);
}

TEST_F(FilterRun, WithoutTheMarkerNoJobCopyIsMade)
{
    if (access(PDFTOPJL_JOBCOPY_MARKER, F_OK) == 0) GTEST_SKIP() << "marker present";
    std::string doc = Document(5000, false);
    RunOptions o = Options();
    o.input = doc;
    RunResult r = RunProgram(o);
    ExpectFramedJob(r, doc);
    EXPECT_TRUE(tmp.entries().empty());
}

struct FailureCase {
    const char* name;
    std::string expectedMessage;
};

// Every failure before the header: a reason, then the phase message.
void ExpectStagingFailure(const RunResult& r, const TempDir& tmp, const std::string& reason)
{
    ExpectJobRefused(r, tmp, reason, "Process Data fail\n");
}

TEST_F(FilterRun, MissingDocumentFailsTheJob)
{
    RunResult r = RunProgram(Options({data.file("absent.pdf")}));
    ExpectStagingFailure(r, tmp, "Cannot open the document " + data.file("absent.pdf") +
                                     ": No such file or directory");
}

TEST_F(FilterRun, UnreadableDocumentFailsTheJob)
{
    // A directory opens but cannot be read; root reads any plain file.
    RunResult r = RunProgram(Options({data.path()}));
    ExpectStagingFailure(r, tmp, "Cannot read the document: Is a directory");
}

TEST_F(FilterRun, MissingTemporaryDirectoryFailsTheJob)
{
    RunOptions o = Options();
    o.input = Document(100, true);
    o.env["TMPDIR"] = tmp.file("missing");
    RunResult r = RunProgram(o);
    ExpectStagingFailure(r, tmp, "Cannot create a temporary file in " + tmp.file("missing"));
}

// A document on a pipe is staged; a regular file is sent from where it is.
TEST_F(FilterRun, FullDiskFailsTheJob)
{
    std::string doc = Document(200000, false);
    RunOptions o = Options();
    o.input = doc;
    o.fileSizeLimit = 65536;  // writes past it fail as on a full disk
    RunResult r = RunProgram(o);
    ExpectStagingFailure(r, tmp, "Cannot write the staging file: File too large");
}

TEST_F(FilterRun, FewerThanSixArgumentsPrintUsage)
{
    for (size_t count = 1; count < 6; ++count) {
        RunOptions o = Options();
        o.args.resize(count);
        RunResult r = RunProgram(o);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "Usage: pdftopjl job-id user title copies options [file]\n");
        EXPECT_TRUE(tmp.entries().empty());
    }
}

TEST_F(FilterRun, ReaderClosingStandardOutputEndsWithStatusOne)
{
    std::string doc = Document(8u << 20, false);
    for (bool fromFile : {false, true}) {
        RunOptions o = Options();
        if (fromFile) {
            WriteFile(data.file("doc.pdf"), doc);
            o.args.push_back(data.file("doc.pdf"));
        } else {
            o.input = doc;
        }
        o.closeStdoutAfter = true;
        o.readLimit = 100;
        RunResult r = RunProgram(o);
        EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err;
        EXPECT_EQ(r.signal, 0) << "the filter died of a signal";
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(tmp.entries().empty());
    }
}

// A FIFO where the document or the PPD should be never holds the job: the
// document is read as a pipe is (a cancel ends the wait at once), a FIFO is
// no PPD (the job goes on without one, saying so).
TEST_F(FilterRun, AFifoNeverHoldsTheJob)
{
    ASSERT_EQ(mkfifo(data.file("fifo").c_str(), 0600), 0);
    const std::string doc = Document(1000, true);
    WriteFile(data.file("doc.pdf"), doc);

    RunOptions atDocument = Options({data.file("fifo")});
    atDocument.signalToSend = SIGTERM;
    atDocument.signalWhen = [&] { return !tmp.entries().empty(); };  // staging, reading
    atDocument.timeoutMs = 10000;
    RunResult r = RunProgram(atDocument);
    EXPECT_FALSE(r.timedOut) << "the filter did not stop on SIGTERM";
    EXPECT_LT(r.msAfterSignal, 2000);
    ExpectJobRefused(r, tmp, "Job cancelled", "INFO: Job cancelled\n");

    RunOptions atPpd = Options({data.file("doc.pdf")});
    atPpd.env["PPD"] = data.file("fifo");
    atPpd.timeoutMs = 10000;
    r = RunProgram(atPpd);
    EXPECT_FALSE(r.timedOut) << "the filter waited on the PPD";
    ExpectFramedJob(r, doc);
    EXPECT_NE(r.err.find("WARNING: The printer's PPD " + data.file("fifo") +
                         " cannot be read (it is not a regular file)"),
              std::string::npos)
        << r.err;
}

// Without a readable PPD the job goes on, and one warning says why and what
// the job goes without.
TEST_F(FilterRun, WithoutAReadablePpdAWarningSaysWhatIsLost)
{
    const std::string doc = Document(1000, true);
    WriteFile(data.file("doc.pdf"), doc);
    WriteFile(data.file("garbage.ppd"), "not a PPD\n");
    struct Case {
        std::optional<std::string> ppd;
        std::string reason;
    };
    for (const Case& c : {Case{std::nullopt, "(none) cannot be read (PPD is not set)"},
                          Case{data.file("absent.ppd"), "No such file or directory"},
                          Case{data.file("garbage.ppd"), "on line 1"}}) {
        SCOPED_TRACE(c.reason);
        RunOptions o = Options({data.file("doc.pdf")});
        o.env["PPD"] = c.ppd;
        o.args[5] = "ZRTurnPage=true";
        RunResult r = RunProgram(o);
        ExpectFramedJob(r, doc);  // not turned: that needs the PPD
        const std::vector<std::string> warnings = LinesStartingWith(r.err, "WARNING: The printer's PPD");
        ASSERT_EQ(warnings.size(), 1u) << r.err;
        EXPECT_NE(warnings[0].find(c.reason), std::string::npos) << warnings[0];
        EXPECT_NE(warnings[0].find("UTF-8 text mode, page turning, rasterising"), std::string::npos);
    }
}

TEST_F(FilterRun, CancelWhileReadingStopsPromptlyAndCleansUp)
{
    RunOptions o = Options();
    o.input = Document(100000, false);  // more is never sent: the writer stalls
    o.keepStdinOpen = true;
    o.signalToSend = SIGTERM;
    // Once the staging file exists the filter is reading.
    o.signalWhen = [&] { return !tmp.entries().empty(); };
    o.timeoutMs = 10000;
    RunResult r = RunProgram(o);
    EXPECT_FALSE(r.timedOut) << "the filter did not stop on SIGTERM";
    ExpectJobRefused(r, tmp, "Job cancelled", "INFO: Job cancelled\n");
}

}  // namespace
