// SPDX-License-Identifier: Apache-2.0
// Whole jobs through the pre-filter: the real cups-filters pdftopdf for the
// layout settings, and fake pre-filters for the arguments and the failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <poppler-document.h>
#include <poppler-page.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <memory>
#include <string>
#include <vector>

#include "core/platform.hpp"
#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
namespace platform = pdftopjl::platform;

namespace {

const char* const kCupsDirs[] = {"CUPS_DATADIR", "CUPS_SERVERROOT", "CUPS_SERVERBIN"};

// The text of each page of a PDF, for telling its pages apart.
std::vector<std::string> PageTexts(const std::string& pdf)
{
    std::vector<char> bytes(pdf.begin(), pdf.end());
    std::unique_ptr<poppler::document> doc(
        poppler::document::load_from_raw_data(bytes.data(), static_cast<int>(bytes.size())));
    std::vector<std::string> texts;
    if (!doc) return {"<not a PDF>"};
    for (int i = 0; i < doc->pages(); ++i) {
        std::unique_ptr<poppler::page> page(doc->create_page(i));
        std::vector<char> utf8 = page ? page->text().to_utf8() : std::vector<char>();
        texts.emplace_back(utf8.begin(), utf8.end());
    }
    return texts;
}

bool Mentions(const std::string& text, const std::string& what)
{
    return text.find(what) != std::string::npos;
}

class PreFilterJob : public ::testing::Test {
protected:
    void SetUp() override
    {
        WriteFile(data.file("doc.pdf"), MakePdf(4));
        WriteFile(data.file("p.ppd"), MakePpd({"*cupsFilter: \"application/pdf 0 pdftopjl\""}));
    }

    RunOptions Options(const std::string& options, bool fromFile = true,
                       const std::string& copies = "1")
    {
        RunOptions o;
        o.args = {"queue", "42", "alice", "Report", copies, options};
        if (fromFile)
            o.args.push_back(data.file("doc.pdf"));
        else
            o.input = ReadFile(data.file("doc.pdf"));
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = data.file("p.ppd");
        for (const char* name : kCupsDirs) o.env[name] = std::nullopt;
        return o;
    }

    // A successful job: framed, the announced size is the body's, nothing left.
    Job ExpectJob(const RunResult& r)
    {
        EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err;
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Job job = ParseJob(r.out);
        EXPECT_TRUE(job.framed) << job.error;
        EXPECT_EQ(job.fsiz, static_cast<long long>(job.body.size()));
        EXPECT_EQ(job.trailer, kTrailer);
        EXPECT_EQ(tmp.entries(), std::vector<std::string>{}) << "temporary files left behind";
        return job;
    }

    TempDir tmp;
    TempDir data;
};

class SystemPdfToPdf : public PreFilterJob {
protected:
    void SetUp() override
    {
        const std::string program =
            std::string(platform::kDefaultCupsServerBin) + "/filter/pdftopdf";
        if (access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "cups-filters is not installed";
        PreFilterJob::SetUp();
    }
};

TEST_F(SystemPdfToPdf, NumberUpTwoPutsFourPagesOnTwo)
{
    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "seven arguments" : "six arguments");
        Job job = ExpectJob(RunProgram(Options("number-up=2", fromFile)));
        std::vector<std::string> pages = PageTexts(job.body);
        ASSERT_EQ(pages.size(), 2u);
        EXPECT_TRUE(Mentions(pages[0], "Page 1") && Mentions(pages[0], "Page 2")) << pages[0];
        EXPECT_TRUE(Mentions(pages[1], "Page 3") && Mentions(pages[1], "Page 4")) << pages[1];
    }
}

TEST_F(SystemPdfToPdf, OddPageSetKeepsPagesOneAndThree)
{
    Job job = ExpectJob(RunProgram(Options("page-set=odd")));
    std::vector<std::string> pages = PageTexts(job.body);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(Mentions(pages[0], "Page 1")) << pages[0];
    EXPECT_TRUE(Mentions(pages[1], "Page 3")) << pages[1];
}

// The copies are made once, by the printer: the body holds one copy's
// sheets, collated or not, and the header asks for the copies.
TEST_F(SystemPdfToPdf, CopiesAreMadeOnceByThePrinter)
{
    for (const char* collate : {"true", "false"}) {
        SCOPED_TRACE(collate);
        Job job = ExpectJob(RunProgram(Options(
            std::string("com.apple.print.PrintSettings.PMCopies..n.=3 Collate=") + collate +
                " number-up=2",
            true, "3")));
        std::vector<std::string> pages = PageTexts(job.body);
        ASSERT_EQ(pages.size(), 2u);
        EXPECT_TRUE(Mentions(pages[0], "Page 1") && Mentions(pages[0], "Page 2")) << pages[0];
        EXPECT_TRUE(Mentions(pages[1], "Page 3") && Mentions(pages[1], "Page 4")) << pages[1];
        const std::string copies = std::string(collate) == "true" ? "@PJL SET QTY=3" : "@PJL SET COPIES=3";
        EXPECT_NE(std::find(job.header.begin(), job.header.end(), copies), job.header.end());
    }
}

// Fake pre-filters in a private CUPS installation.
class FakePreFilter : public PreFilterJob {
protected:
    void SetUp() override
    {
        PreFilterJob::SetUp();
        for (const char* dir : {"d", "d/mime", "r", "b", "b/filter"})
            ASSERT_EQ(mkdir(data.file(dir).c_str(), 0755), 0);
        WriteFile(data.file("d/mime/cupsfilters.convs"),
                  "application/pdf\tapplication/vnd.cups-pdf\t66\tlayout\n");
    }

    RunOptions Options(const std::string& options, bool fromFile = true)
    {
        RunOptions o = PreFilterJob::Options(options, fromFile);
        o.env["CUPS_DATADIR"] = data.file("d");
        o.env["CUPS_SERVERROOT"] = data.file("r");
        o.env["CUPS_SERVERBIN"] = data.file("b");
        return o;
    }

    std::string Program(const std::string& body, mode_t mode = 0755)
    {
        std::string path = data.file("b/filter/layout");
        WriteFile(path, "#!/bin/sh\n" + body);
        chmod(path.c_str(), mode);
        return path;
    }

    std::string Recorded() { return data.file("args"); }
};

// Records its arguments, then copies the document as a CUPS filter reads it.
std::string RecordingFilter(const std::string& record)
{
    return "printf '%s\\n' \"$#\" \"$@\" > '" + record +
           "'\n"
           "if [ $# -ge 6 ]; then exec cat \"$6\"; else exec cat; fi\n";
}

TEST_F(FakePreFilter, ReceivesSixOrSevenArguments)
{
    Program(RecordingFilter(Recorded()));
    const std::string doc = ReadFile(data.file("doc.pdf"));
    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "seven arguments" : "six arguments");
        RunOptions o = Options("number-up=2 media=A4", fromFile);
        o.args[4] = "3";
        if (fromFile) o.args.push_back("ignored");
        Job job = ExpectJob(RunProgram(o));
        EXPECT_TRUE(job.body == doc);
        // Asked for one copy: the header's COPIES makes them; and not to count
        // pages, which the filter does.
        std::string expected = fromFile ? "6\n" : "5\n";
        for (size_t i = 1; i < 6; ++i)
            expected += (i == 4 ? std::string("1") : i == 5 ? o.args[i] + " page-logging=off" : o.args[i]) + "\n";
        if (fromFile) expected += o.args[6] + "\n";
        EXPECT_EQ(ReadFile(Recorded()), expected);
    }
}

TEST_F(FakePreFilter, NotRunWithoutLayoutSettings)
{
    Program(RecordingFilter(Recorded()));
    // number-up=1, which cupsd adds to every job, asks for no layout either.
    Job job = ExpectJob(RunProgram(Options("media=A4 OutputOrder=Normal number-up=1")));
    EXPECT_TRUE(job.body == ReadFile(data.file("doc.pdf")));
    EXPECT_NE(access(Recorded().c_str(), F_OK), 0) << "the pre-filter ran";
}

struct FailureCase {
    const char* name;
    std::string body;     // the pre-filter's commands; empty: none installed
    mode_t mode;
    std::string table;    // replaces the conversion table when not empty
    std::string message;  // "@" stands for the program's path
};

class FailingPreFilterJob : public FakePreFilter,
                            public ::testing::WithParamInterface<FailureCase> {};

// The job fails before its header: a reason, "Process Data fail" last,
// nothing on standard output, status 1, no temporary file left.
TEST_P(FailingPreFilterJob, FailsTheJobCleanly)
{
    const FailureCase& c = GetParam();
    std::string program = data.file("b/filter/layout");
    if (!c.body.empty()) Program(c.body, c.mode);
    if (!c.table.empty()) WriteFile(data.file("d/mime/cupsfilters.convs"), c.table);
    std::string message = c.message;
    if (size_t at = message.find('@'); at != std::string::npos) message.replace(at, 1, program);

    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "seven arguments" : "six arguments");
        ExpectJobRefused(RunProgram(Options("number-up=2", fromFile)), tmp, message,
                         "Process Data fail\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingPreFilterJob,
    ::testing::Values(
        FailureCase{"ExitStatusOne", "cat \"${6:--}\"\nexit 1\n", 0755, "",
                    "The pre-filter @ failed with exit status 1"},
        FailureCase{"KilledBySignal", "cat \"${6:--}\"\nkill -USR1 $$\n", 0755, "",
                    "The pre-filter @ was killed by signal 10"},
        FailureCase{"NoOutput", "exit 0\n", 0755, "", "The pre-filter @ produced no output"},
        FailureCase{"NotExecutable", "cat \"${6:--}\"\n", 0644, "",
                    "Cannot run the pre-filter @: Permission denied"},
        FailureCase{"ProgramMissing", "", 0, "", "The layout filter @ is missing"},
        FailureCase{"NoAcceptableLine", "cat \"${6:--}\"\n", 0755,
                    "application/pdf application/vnd.cups-pdf 1000 layout\n",
                    "No layout filter turns application/pdf into"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(FakePreFilter, PpdWithoutCupsFilterFailsTheJob)
{
    Program(RecordingFilter(Recorded()));
    WriteFile(data.file("p.ppd"), MakePpd({}));
    RunResult r = RunProgram(Options("number-up=2"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    ExpectJobRefused(r, tmp, "gives no input type in its cupsFilter line",
                     "get srcFormat error\naccess bestFilterPath error\nProcess Data fail\n");
}

TEST_F(FakePreFilter, CancelWhileThePreFilterRunsStopsIt)
{
    // Still writing, done writing but not yet ended, or deaf to SIGTERM.
    const std::string started = data.file("b/started");
    for (const char* body : {"echo '%PDF-1.4'\nexec sleep 30\n",
                             "echo '%PDF-1.4'\nexec >&-\nexec sleep 30\n",
                             "trap '' TERM\necho '%PDF-1.4'\nexec sleep 30\n"}) {
        SCOPED_TRACE(body);
        unlink(started.c_str());
        Program(std::string(": > \"$(dirname \"$0\")/../started\"\n") + body);
        RunOptions o = Options("number-up=2");
        o.signalToSend = SIGTERM;
        o.signalWhen = [&] { return access(started.c_str(), F_OK) == 0; };
        o.timeoutMs = 10000;
        RunResult r = RunProgram(o);
        EXPECT_FALSE(r.timedOut) << "the filter did not stop on SIGTERM";
        EXPECT_LT(r.msAfterSignal, 2000);
        ExpectJobRefused(r, tmp, "Job cancelled", "INFO: Job cancelled\n");
    }
}

}  // namespace
