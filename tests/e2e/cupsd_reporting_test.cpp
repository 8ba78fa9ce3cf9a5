// SPDX-License-Identifier: Apache-2.0
// What administrators and users see through a private cupsd running at the
// default LogLevel warn: why a job failed, and how many pages it printed.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "pjl/jobstream.hpp"
#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/heavy_pdfs.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

constexpr int kJobTimeoutMs = 20000;

class CupsdReporting : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = PrivateCupsd::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<PrivateCupsd>("warn");
        std::string error;
        if (!server_->Start(&error) ||
            !server_->AddQueue("zx", SamplePpd(ServeBuiltFilter(server_->Root()), "UTF-8"), &error))
            startError_ = error;
        documents_ = std::make_unique<TempDir>();
        chmod(documents_->path().c_str(), 0755);
    }
    static void TearDownTestSuite()
    {
        server_.reset();
        documents_.reset();
    }
    void SetUp() override
    {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(startError_.empty()) << startError_;
    }

    // Prints `content` with lp; the job's id, its end state in `state`.
    int Print(const std::string& content, const std::vector<std::string>& lpArgs,
              std::string* state)
    {
        const std::string file = documents_->file("doc" + std::to_string(++printed_) + ".pdf");
        WriteFile(file, content);
        chmod(file.c_str(), 0644);
        unlink(server_->OutputFile("zx").c_str());
        std::string error;
        const int id = server_->Submit("zx", lpArgs, file, &error);
        EXPECT_GT(id, 0) << error;
        *state = id > 0 ? server_->WaitForJob(id, kJobTimeoutMs) : "";
        return id;
    }

    // A rasterised job that could not be painted: it completes with the
    // document as it came, and the error log says why.
    void ExpectRasterisedJobSentUnchanged(const std::string& doc, const std::string& logged)
    {
        std::string state;
        Print(doc, {"-o", "ZRPDFRasterizedMode=true"}, &state);
        ASSERT_EQ(state, "completed") << server_->ErrorLog();
        const std::string stream = ReadFile(server_->OutputFile("zx"));
        pdftopjl::JobStream job = pdftopjl::ParseJobStream(stream);
        ASSERT_TRUE(job.valid) << job.error;
        EXPECT_TRUE(job.body == doc) << "the document was changed";
        EXPECT_NE(server_->ErrorLog().find(logged), std::string::npos) << server_->ErrorLog();
    }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<PrivateCupsd> server_;
    static std::unique_ptr<TempDir> documents_;
    int printed_ = 0;
};

std::string CupsdReporting::skip_;
std::string CupsdReporting::startError_;
std::unique_ptr<PrivateCupsd> CupsdReporting::server_;
std::unique_ptr<TempDir> CupsdReporting::documents_;

struct FailureCase {
    const char* name;
    std::string document;
    std::vector<std::string> lpArgs;
    const char* reason;  // in the job's state message
};

class FailureReason : public CupsdReporting, public ::testing::WithParamInterface<FailureCase> {};

// The reason reaches the job's state message (lpstat -l, the print dialog's
// job list) and the error log, though the log is at warn level.
TEST_P(FailureReason, IsShownToTheUser)
{
    const FailureCase& c = GetParam();
    std::string state;
    const int id = Print(c.document, c.lpArgs, &state);
    EXPECT_TRUE(state == "stopped" || state == "aborted") << state;
    EXPECT_EQ(ReadFile(server_->OutputFile("zx")), "");
    EXPECT_NE(server_->JobAttributes(id)["job-printer-state-message"].find(c.reason),
              std::string::npos)
        << server_->JobAttributes(id)["job-printer-state-message"];
    EXPECT_NE(server_->ErrorLog().find(c.reason), std::string::npos) << server_->ErrorLog();
}

const std::string kTicket = "com.quorvelin.qbd.printsettings.";

INSTANTIATE_TEST_SUITE_P(
    Jobs, FailureReason,
    ::testing::Values(
        FailureCase{"TruncatedPdf", MakePdf(4).substr(0, 300), {}, "not a readable PDF"},
        FailureCase{"Garbage", std::string(4000, 'g'), {}, "not a readable PDF"},
        FailureCase{"UserPassword", LockedPdf(2), {}, "needs a password"},
        FailureCase{"PasscodeTooLong", MakePdf(1),
                    {"-o", kTicket + "PrintTypeTicketKey=2", "-o",
                     kTicket + "PrintTypePasswordTicketKey=" + std::string(300, '7')},
                    "The stored job's passcode must be 4 to 8 digits"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

struct CountCase {
    const char* name;
    std::vector<std::string> lpArgs;
    int impressions;
};

class PageCount : public CupsdReporting, public ::testing::WithParamInterface<CountCase> {};

// Four pages: every copy the printer makes counts, and n-up counts sheets'
// faces, in the job's attributes and in page_log.
TEST_P(PageCount, ReachesTheJobAndThePageLog)
{
    std::string state;
    const int id = Print(MakePdf(4), GetParam().lpArgs, &state);
    ASSERT_EQ(state, "completed");
    EXPECT_EQ(server_->JobAttributes(id)["job-impressions-completed"],
              std::to_string(GetParam().impressions));
    // page_log: the job's total.
    const std::string total = "zx root " + std::to_string(id) + " ";
    const std::string log = server_->PageLog();
    const size_t at = log.find(total);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log.substr(at, log.find('\n', at) - at)
                  .find("] total " + std::to_string(GetParam().impressions) + " "),
              std::string::npos)
        << log;
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, PageCount,
    ::testing::Values(CountCase{"OneCopy", {}, 4},
                      CountCase{"ThreeCollated", {"-n", "3", "-o", "collate=true"}, 12},
                      CountCase{"ThreeUncollated", {"-n", "3"}, 12},
                      CountCase{"TwoUp", {"-o", "number-up=2"}, 2}),
    [](const ::testing::TestParamInfo<CountCase>& info) { return std::string(info.param.name); });

// The filter's own temporary files in the scheduler's temporary directory.
std::vector<std::string> FilterTempFiles(const std::string& dir)
{
    std::vector<std::string> ours;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (std::string(e->d_name).rfind("pdftopjl-", 0) == 0) ours.push_back(e->d_name);
        closedir(d);
    }
    return ours;
}

// Under the scheduler too, a page that would never finish painting is given
// up at its limit: the job completes with the document unchanged, and the
// log says why.  A cancel while it paints ends the job at once, leaving
// nothing behind.
TEST_F(CupsdReporting, EndlessPageIsGivenUpOrCancelled)
{
    const std::string doc = EndlessNestedForms();
    ExpectRasterisedJobSentUnchanged(doc, "page 1 was not painted within its limit of 6 s");
    if (HasFatalFailure()) return;

    const std::string file = documents_->file("endless.pdf");
    WriteFile(file, doc);
    chmod(file.c_str(), 0644);
    std::string error;
    const int id = server_->Submit("zx", {"-o", "ZRPDFRasterizedMode=true"}, file, &error);
    ASSERT_GT(id, 0) << error;
    // The new document begun (the spooled one is read in place): the page
    // is being painted.
    const std::string tmp = server_->FilterTempDir();
    for (int waited = 0; FilterTempFiles(tmp).empty() && waited < 10000; waited += 10)
        usleep(10000);
    ASSERT_EQ(FilterTempFiles(tmp).size(), 1u) << server_->ErrorLog();
    const auto cancelled = std::chrono::steady_clock::now();
    ASSERT_TRUE(server_->CancelJob(id));
    EXPECT_EQ(server_->WaitForJob(id, kJobTimeoutMs), "cancelled");
    while (!FilterTempFiles(tmp).empty() &&
           std::chrono::steady_clock::now() - cancelled < std::chrono::seconds(10))
        usleep(10000);
    EXPECT_LT(std::chrono::steady_clock::now() - cancelled, std::chrono::seconds(2));
    EXPECT_TRUE(FilterTempFiles(tmp).empty()) << "temporary files left behind";
}

// A page poppler could not paint whole is never printed as an image: the
// job completes with the document as it came, and the log names the page.
TEST_F(CupsdReporting, PageNotPaintedWholeGoesOutUnchanged)
{
    ExpectRasterisedJobSentUnchanged(UndecodableImage(), "Page re-rendering failed: page 1 was not painted whole "
                                                         "(poppler: Could not find start of jpeg data)");
}

// A banner sheet is a job of its own before the document's, in one stream,
// and pjlinspect reads both.
TEST_F(CupsdReporting, BannerAndDocumentAreTwoJobs)
{
    std::string state;
    Print(MakePdf(2), {"-o", "job-sheets=standard"}, &state);
    ASSERT_EQ(state, "completed");
    RunOptions o;
    o.program = std::string(PDFTOPJL_BUILD_DIR) + "/pjlinspect";
    o.args = {"pjlinspect", server_->OutputFile("zx")};
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("job 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("job 2"), std::string::npos) << r.out;
}

}  // namespace
