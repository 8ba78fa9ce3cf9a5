// SPDX-License-Identifier: Apache-2.0
// The job's own bounds as CUPS meets them: pages poppler could not paint
// whole, and inputs built to exhaust the job's memory, disk or time, or a
// cancel's patience.  Every hostile input is generated here, when its test
// runs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>
#include <functional>
#include <string>

#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/heavy_pdfs.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMemoryLimits = false;  // AddressSanitizer builds run without them
#else
constexpr bool kMemoryLimits = true;
#endif

const char kRaster[] = "ZRPDFRasterizedMode=true";
// What opening a document may take beyond the document itself.
constexpr long long kOpeningMarginBytes = 512ll << 20;

class JobBounds : public ::testing::Test {
public:
    // A job as cupsd starts it, of the document at data/doc.pdf (written
    // from `document` unless empty), with a PPD that allows rasterising.
    RunOptions Job(const std::string& document, const std::string& options = "")
    {
        if (!document.empty()) WriteFile(data.file("doc.pdf"), document);
        WriteFile(data.file("printer.ppd"), PrinterPpd());
        RunOptions o;
        o.args = {"pdftopjl", "42", "alice", "Report", "1", options, data.file("doc.pdf")};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = data.file("printer.ppd");
        o.timeoutMs = 120000;
        return o;
    }

    static std::string PrinterPpd() { return MakePpd({"*cupsFilter: \"application/pdf 0 pdftopjl\""}); }

    TempDir tmp;
    TempDir data;
};

struct BoundCase {
    const char* name;
    std::function<RunOptions(JobBounds&)> job;
    bool printed;  // the document goes out unchanged; else the job fails before any output
    const char* message;
    bool needsMemoryLimits = false;
};

class Bounded : public JobBounds, public ::testing::WithParamInterface<BoundCase> {};

INSTANTIATE_TEST_SUITE_P(
    Inputs, Bounded,
    ::testing::Values(
        // Poppler's allocation fails at the page's memory limit.
        BoundCase{"Jbig2Bomb", [](JobBounds& t) { return t.Job(Jbig2Bomb(), kRaster); }, true,
                  "DEBUG: poppler: Out of memory\nWARNING: Page re-rendering failed: page 1 was not "
                  "painted whole (poppler: Out of memory); the document is sent unchanged\n",
                  true},
        BoundCase{"UndecodableImage", [](JobBounds& t) { return t.Job(UndecodableImage(), kRaster); },
                  true,
                  "DEBUG: poppler: error: Could not find start of jpeg data\nWARNING: Page "
                  "re-rendering failed: page 1 was not painted whole (poppler: Could not find start "
                  "of jpeg data); the document is sent unchanged\n"},
        BoundCase{"XrefClaimingFiftyMillionObjects",
                  [](JobBounds& t) { return t.Job(XrefClaimingObjects(50000000)); }, false,
                  "ERROR: The document needs more than its limit of ",
                  true},
        BoundCase{"ObjectStreamPaddedToAGigabyte",
                  [](JobBounds& t) {
                      WritePaddedObjectStream(t.data.file("doc.pdf"), 1ll << 30);
                      return t.Job("");
                  },
                  false, "ERROR: The document needs more than its limit of 1536 MiB of memory", true},
        BoundCase{"EndlessPipe",
                  [](JobBounds& t) {
                      RunOptions o = t.Job("%PDF");
                      o.args.pop_back();
                      o.stdinFile = "/dev/zero";
                      o.env["PDFTOPJL_MAX_STAGING_MIB"] = "16";
                      return o;
                  },
                  false,
                  "ERROR: The document is larger than the limit of 16 MiB for a document that has "
                  "to be copied (PDFTOPJL_MAX_STAGING_MIB)"},
        BoundCase{"TwoHundredThousandBlankPagesRasterised",
                  [](JobBounds& t) {
                      RunOptions o = t.Job(BlankPages(200000), kRaster);
                      o.env["PDFTOPJL_RASTER_BASE_SECONDS"] = "2";
                      o.env["PDFTOPJL_RASTER_SECONDS_PER_PAGE"] = "0.00001";
                      return o;
                  },
                  true,
                  "WARNING: Page re-rendering failed: rasterising the 200000 pages would not end "
                  "within its limit of 4 s ("},
        BoundCase{"FiftyMegabytePpd",
                  [](JobBounds& t) {
                      RunOptions o = t.Job(MakePdf(1));
                      WriteFile(t.data.file("printer.ppd"), PpdOfManyOptions(JobBounds::PrinterPpd(), 50 << 20));
                      return o;
                  },
                  true, "(it is larger than 4 MiB); the job goes without the printer's defaults"},
        BoundCase{"ClosedStandardInput",
                  [](JobBounds& t) {
                      RunOptions o = t.Job(MakePdf(1));
                      o.args.pop_back();
                      o.closeStdin = true;
                      return o;
                  },
                  false, "ERROR: The document is empty"}),
    [](const auto& info) { return std::string(info.param.name); });

// Each ends within its limit, as the table says, nothing left behind; a
// document that fails to open does so with the job's peak memory under the
// opening limit.
TEST_P(Bounded, EndsWithinItsLimit)
{
    const BoundCase& c = GetParam();
    if (c.needsMemoryLimits && !kMemoryLimits) GTEST_SKIP() << "no memory limits in this build";
    RunResult r = RunProgram(c.job(*this));
    EXPECT_FALSE(r.timedOut);
    if (c.printed) {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(ParseJob(r.out).body == ReadFile(data.file("doc.pdf"))) << "the document was changed";
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(tmp.entries(), std::vector<std::string>{});
    } else {
        ExpectJobRefused(r, tmp, c.message, "Process Data fail\n");
    }
    if (c.needsMemoryLimits && !c.printed) {
        struct stat st;
        ASSERT_EQ(stat(data.file("doc.pdf").c_str(), &st), 0);
        EXPECT_LT(r.maxRssKb << 10, kOpeningMarginBytes + st.st_size);
    }
}

// Complaints about the page's syntax leave it as viewers show it: it is
// rasterised, the complaint logged.
TEST_F(JobBounds, SyntaxComplaintsStillRasterise)
{
    const std::string doc = UnknownOperator();
    RunResult r = RunProgram(Job(doc, kRaster));
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(ParseJob(r.out).body == doc) << "the page was not rasterised";
    EXPECT_NE(r.err.find("DEBUG: poppler: error: Unknown operator 'frob'\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Page re-rendering failed"), std::string::npos) << r.err;
}

struct CancelCase {
    const char* name;
    std::function<RunOptions(JobBounds&)> job;
};

class Cancelled : public JobBounds, public ::testing::WithParamInterface<CancelCase> {};

INSTANTIATE_TEST_SUITE_P(
    Busy, Cancelled,
    ::testing::Values(
        // qpdf reading the table, the document from a pipe into a staging file.
        CancelCase{"OpeningTheDocument",
                   [](JobBounds& t) {
                       RunOptions o = t.Job("%PDF");
                       o.args.pop_back();
                       o.input = XrefClaimingObjects(50000000);
                       o.env["PDFTOPJL_OPEN_MEMORY_MIB"] = "100000";
                       return o;
                   }},
        // CUPS reading a PPD just under the size limit: seconds of options.
        CancelCase{"ReadingThePpd",
                   [](JobBounds& t) {
                       RunOptions o = t.Job(MakePdf(1));
                       WriteFile(t.data.file("printer.ppd"),
                                 PpdOfManyOptions(JobBounds::PrinterPpd(), (4 << 20) - 4096));
                       return o;
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// Before any output a cancel ends the job within a second, whatever holds it.
TEST_P(Cancelled, EndsWithinASecond)
{
    RunOptions o = GetParam().job(*this);
    o.signalToSend = SIGTERM;
    o.signalAfterMs = 1000;
    const RunResult r = RunProgram(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(r.msAfterSignal, 1000);
    ExpectJobRefused(r, tmp, "Job cancelled", "INFO: Job cancelled\n");
}

}  // namespace
