// SPDX-License-Identifier: Apache-2.0
// Jobs through pdftopjl-app: ipptool -> PAPPL -> the core -> file device.
#include <gtest/gtest.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <memory>
#include <thread>

#include "app_server.hpp"
#include "pjl/jobstream.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using apptest::AppServer;
using pdftopjl::JobStream;
using pdftopjl::ParseJobStream;

namespace {

constexpr int kJobTimeoutMs = 60000;
const char kPrinter[] = "zx";

class AppJobs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = apptest::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<AppServer>();
        if (!server_->Start(&startError_) || !server_->AddPrinter(kPrinter, &startError_)) return;
        for (const char* model : {"zx2100", "zx6500c"})
            if (!server_->AddPrinter(model, &startError_, "", std::string("zarelle_") + model)) return;
        documents_ = std::make_unique<TempDir>();
        WriteFile(documents_->file("four.pdf"), MakePdf(4, 595, 842));
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

    // Prints through ipptool; the finished job's attributes and its stream.
    static std::map<std::string, std::string> Print(const std::string& jobName, const std::string& document,
                                                    const std::string& format,
                                                    const std::vector<std::string>& operationAttrs,
                                                    const std::vector<std::string>& jobAttrs,
                                                    std::string* stream, const char* printer = kPrinter)
    {
        std::string report;
        const int id = apptest::PrintWithIpptool(server_->PrinterUri(printer), document, format, jobName,
                                                 operationAttrs, jobAttrs, documents_->path(), &report);
        EXPECT_GT(id, 0) << report;
        if (id <= 0) return {};
        auto job = server_->WaitForJob(printer, id, kJobTimeoutMs);
        *stream = ReadFile(server_->JobFile(printer, jobName, id));
        return job;
    }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<AppServer> server_;
    static std::unique_ptr<TempDir> documents_;
};

std::string AppJobs::skip_;
std::string AppJobs::startError_;
std::unique_ptr<AppServer> AppJobs::server_;
std::unique_ptr<TempDir> AppJobs::documents_;

int PageCount(std::string_view pdf)
{
    try {
        QPDF doc;
        doc.setSuppressWarnings(true);
        doc.processMemoryFile("body", pdf.data(), pdf.size());
        return static_cast<int>(QPDFPageDocumentHelper(doc).getAllPages().size());
    } catch (const std::exception&) {
        return -1;
    }
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The header without the lines that carry the time of printing.
std::vector<std::string> Settled(const std::vector<std::string>& header)
{
    std::vector<std::string> lines;
    for (const std::string& line : header)
        if (line.rfind("@PJL COMMENT DATE=", 0) != 0 && line.rfind("@PJL COMMENT TIME=", 0) != 0)
            lines.push_back(line);
    return lines;
}

// The same settings given to the filter as CUPS gives them, with the model's
// generated PPD.
JobStream RunFilter(const std::string& title, const std::string& copies, const std::string& options,
                    const std::string& document, std::string* out, const std::string& model = "zx4200")
{
    TempDir tmp;
    RunOptions o;
    o.args = {"pdftopjl", "1", "alice", title, copies, options, document};
    o.env["PPD"] = std::string(PDFTOPJL_BUILD_DIR) + "/ppd/" + model + ".ppd";
    o.env["TMPDIR"] = tmp.path();
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    *out = r.out;
    return ParseJobStream(*out);
}

struct IppCase {
    const char* name;
    std::vector<std::string> operationAttrs;  // ipptool ATTR lines
    std::vector<std::string> jobAttrs;
    // What the filter gets under CUPS for the same request (lp adds
    // number-up=1 to every job).
    const char* copies;
    const char* filterOptions;
    std::vector<std::string> lines;  // header lines the request must bring
    int pages;
};

class AppIppJobs : public AppJobs, public ::testing::WithParamInterface<IppCase> {};

// The application's job stream has the filter's header for the same
// settings, line for line, and the same body.
TEST_P(AppIppJobs, MatchTheFilter)
{
    const IppCase& c = GetParam();
    std::string stream;
    auto job = Print(c.name, documents_->file("four.pdf"), "application/pdf", c.operationAttrs, c.jobAttrs,
                     &stream);
    ASSERT_EQ(job["job-state"], "completed") << job["job-state-message"] << server_->Log();
    JobStream app = ParseJobStream(stream);
    ASSERT_TRUE(app.valid) << app.error;
    for (const std::string& line : c.lines) EXPECT_TRUE(Has(app.header, line)) << line;
    EXPECT_EQ(PageCount(app.body), c.pages);
    EXPECT_EQ(job["job-impressions-completed"], std::to_string(c.pages * std::stoi(c.copies)));

    std::string reference;
    JobStream filter = RunFilter(c.name, c.copies, c.filterOptions, documents_->file("four.pdf"), &reference);
    ASSERT_TRUE(filter.valid) << filter.error;
    EXPECT_EQ(Settled(app.header), Settled(filter.header));
    EXPECT_EQ(PageCount(app.body), PageCount(filter.body));
}

INSTANTIATE_TEST_SUITE_P(
    Ipptool, AppIppJobs,
    ::testing::Values(
        IppCase{"Plain", {}, {}, "1", "number-up=1",
                {"@PJL SET AUTOSELECT=ON", "@PJL SET PAPER=A4", "@PJL SET DUPLEX=OFF",
                 "@PJL SET JOBATTR=\"@JOAU=alice\"", "@PJL COMMENT DNAME=Plain"}, 4},
        IppCase{"Sides", {}, {"ATTR keyword sides two-sided-short-edge"}, "1",
                "number-up=1 sides=two-sided-short-edge", {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"}, 4},
        IppCase{"MediaSource", {}, {"ATTR collection media-col { MEMBER keyword media-source tray-3 }"}, "1",
                "number-up=1 media-source=tray-3", {"@PJL SET MEDIASOURCE=TRAY3"}, 4},
        IppCase{"MediaSizeAndType", {},
                {"ATTR collection media-col { MEMBER keyword media-size-name iso_a3_297x420mm "
                 "MEMBER keyword media-type stationery-recycled }"},
                "1", "number-up=1 media=iso_a3_297x420mm media-type=stationery-recycled",
                {"@PJL SET PAPER=A3", "@PJL SET MEDIATYPE=RECYCLED", "@PJL SET AUTOSELECT=ON"}, 4},
        IppCase{"Staple", {}, {"ATTR enum finishings 28"}, "1", "number-up=1 finishings=28",
                {"@PJL SET FINISH=ON", "@PJL SET STAPLE=LEFTDUAL"}, 4},
        IppCase{"StapleAndPunch", {}, {"ATTR enum finishings 4,5"}, "1", "number-up=1 finishings=4,5",
                {"@PJL SET STAPLE=TOPLEFT", "@PJL SET PUNCH=LEFT"}, 4},
        IppCase{"Punch", {}, {"ATTR enum finishings 5"}, "1", "number-up=1 finishings=5",
                {"@PJL SET FINISH=ON", "@PJL SET PUNCH=LEFT"}, 4},
        // Landscape moves the staple and goes through the layout filter.
        IppCase{"LandscapeStaple", {}, {"ATTR enum finishings 20", "ATTR enum orientation-requested 4"}, "1",
                "number-up=1 finishings=20 orientation-requested=4", {"@PJL SET STAPLE=BOTTOMLEFT"}, 4},
        IppCase{"FinishingTemplate", {},
                {"ATTR collection finishings-col { MEMBER keyword finishing-template staple-dual-top }"}, "1",
                "number-up=1 finishings=29", {"@PJL SET STAPLE=TOPDUAL"}, 4},
        IppCase{"Monochrome", {}, {"ATTR keyword print-color-mode monochrome"}, "1",
                "number-up=1 print-color-mode=monochrome", {"@PJL SET RENDERMODE=GRAYSCALE"}, 4},
        IppCase{"QualityHigh", {}, {"ATTR enum print-quality 5"}, "1", "number-up=1 print-quality=5",
                {"@PJL SET JOBATTR=\"@DIPQ=QUALITY2\""}, 4},
        IppCase{"OutputBin", {}, {"ATTR keyword output-bin face-up"}, "1", "number-up=1 output-bin=face-up",
                {"@PJL SET OUTBIN=FACEUPTRAY"}, 4},
        // IPP collates copies unless asked not to.
        IppCase{"Copies", {}, {"ATTR integer copies 3"}, "3", "number-up=1 collate=true", {"@PJL SET QTY=3"}, 4},
        IppCase{"UncollatedCopies", {},
                {"ATTR integer copies 2",
                 "ATTR keyword multiple-document-handling separate-documents-uncollated-copies"},
                "2", "number-up=1 collate=false", {"@PJL SET COPIES=2"}, 4},
        IppCase{"PageRanges", {}, {"ATTR rangeOfInteger page-ranges 2-3"}, "1", "number-up=1 page-ranges=2-3",
                {}, 2},
        IppCase{"NumberUp", {}, {"ATTR integer number-up 2"}, "1", "number-up=2",
                {"@PJL SET JOBATTR=\"@NLPP=N2\""}, 2},
        IppCase{"JobPassword", {"ATTR octetString job-password 1234", "ATTR keyword job-password-encryption none"},
                {}, "1", "number-up=1 job-password=1234",
                {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE", "@PJL SET HOLDENCRYPTKEY=\"1234\""}, 4},
        IppCase{"Account", {}, {"ATTR name job-account-id dept7"}, "1", "number-up=1 job-account-id=dept7",
                {"@PJL SET JOBATTR=\"@JOAU=dept7\""}, 4},
        // The printer's own options, as vendor attributes.
        IppCase{"ProofPrint", {}, {"ATTR keyword print-type proof"}, "1", "number-up=1 ZRPrintType=Proof",
                {"@PJL SET HOLD=PROOF"}, 4},
        IppCase{"TurnPage", {}, {"ATTR boolean turn-page true"}, "1", "number-up=1 ZRTurnPage=true", {}, 4},
        IppCase{"BypassTrayFeedEdge", {},
                {"ATTR collection media-col { MEMBER keyword media-source by-pass-tray }",
                 "ATTR keyword bypass-feed-edge long-edge"},
                "1", "number-up=1 media-source=by-pass-tray ZRMSILeadingEdge=LongEdge",
                {"@PJL SET MEDIASOURCE=TRAY5", "@PJL SET PAPERDIRECTION=LEF"}, 4}),
    [](const ::testing::TestParamInfo<IppCase>& info) { return std::string(info.param.name); });

// The other models: the app's printer of that model against the filter on
// its generated PPD, where the rows differ from the ZX-4200 (code set, bypass
// tray, mono, no punch).
struct ModelCase {
    const char* name;
    const char* model;  // the printer's name in the app and its PPD's
    std::vector<std::string> jobAttrs;
    const char* filterOptions;
    std::vector<std::string> lines;
};

class AppModelJobs : public AppJobs, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(AppModelJobs, MatchTheFilterOnTheModelsPpd)
{
    const ModelCase& c = GetParam();
    std::string stream;
    auto job = Print(c.name, documents_->file("four.pdf"), "application/pdf", {}, c.jobAttrs, &stream, c.model);
    ASSERT_EQ(job["job-state"], "completed") << job["job-state-message"] << server_->Log();
    JobStream app = ParseJobStream(stream);
    ASSERT_TRUE(app.valid) << app.error;
    for (const std::string& line : c.lines) EXPECT_TRUE(Has(app.header, line)) << line;

    std::string reference;
    JobStream filter = RunFilter(c.name, "1", c.filterOptions, documents_->file("four.pdf"), &reference, c.model);
    ASSERT_TRUE(filter.valid) << filter.error;
    EXPECT_EQ(Settled(app.header), Settled(filter.header));
}

INSTANTIATE_TEST_SUITE_P(
    Models, AppModelJobs,
    ::testing::Values(
        ModelCase{"MonoPlain", "zx2100", {}, "number-up=1",
                  {"@PJL SET STRINGCODESET=\"SJISX0208\"", "@PJL SET AUTOSELECT=ON"}},
        ModelCase{"MonoBypass", "zx2100", {"ATTR collection media-col { MEMBER keyword media-source by-pass-tray }"},
                  "number-up=1 media-source=by-pass-tray", {"@PJL SET MEDIASOURCE=SMH"}},
        ModelCase{"MonoStoredJob", "zx2100", {"ATTR keyword print-type stored"}, "number-up=1 ZRPrintType=Stored",
                  {"@PJL SET HOLD=STORE"}},
        ModelCase{"ColourBypass", "zx6500c", {"ATTR collection media-col { MEMBER keyword media-source by-pass-tray }"},
                  "number-up=1 media-source=by-pass-tray", {"@PJL SET MEDIASOURCE=TRAY5"}},
        ModelCase{"ColourStaple", "zx6500c", {"ATTR enum finishings 28"}, "number-up=1 finishings=28",
                  {"@PJL SET STAPLE=LEFTDUAL"}},
        ModelCase{"ColourMonochrome", "zx6500c", {"ATTR keyword print-color-mode monochrome"},
                  "number-up=1 print-color-mode=monochrome", {"@PJL SET RENDERMODE=GRAYSCALE"}}),
    [](const ::testing::TestParamInfo<ModelCase>& info) { return std::string(info.param.name); });

// A colour JPEG made with cjpeg, or "" when cjpeg is not installed.
std::string Jpeg(const std::string& dir)
{
    if (access("/usr/bin/cjpeg", X_OK) != 0) return "";
    std::string ppm = "P6\n64 48\n255\n";
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) ppm += {static_cast<char>(x * 4), static_cast<char>(y * 5), '\x80'};
    WriteFile(dir + "/photo.ppm", ppm);
    RunOptions o;
    o.program = "/usr/bin/cjpeg";
    o.args = {"cjpeg", "-outfile", dir + "/photo.jpg", dir + "/photo.ppm"};
    return RunProgram(o).exitCode == 0 ? dir + "/photo.jpg" : "";
}

// What IPP Everywhere clients send instead of PDF becomes a PDF of images,
// in colour.
TEST_F(AppJobs, ImagesArePrintedAsPdf)
{
    struct Case {
        const char* name;
        std::string document;
        const char* format;
        const char* imageFilter;
    };
    apptest::WritePwgRaster(documents_->file("page.pwg"), "iso_a4_210x297mm", "srgb_8", 150);
    for (const Case& c : {Case{"Raster", documents_->file("page.pwg"), "image/pwg-raster", "/FlateDecode"},
                          Case{"Photo", Jpeg(documents_->path()), "image/jpeg", "/DCTDecode"}}) {
        if (c.document.empty()) {
            ADD_FAILURE() << c.name << ": cjpeg (libjpeg-turbo-progs) is needed";
            continue;
        }
        std::string stream;
        auto job = Print(c.name, c.document, c.format, {}, {"ATTR keyword sides two-sided-long-edge"}, &stream);
        ASSERT_EQ(job["job-state"], "completed") << c.name << job["job-state-message"] << server_->Log();
        JobStream parsed = ParseJobStream(stream);
        ASSERT_TRUE(parsed.valid) << c.name << parsed.error;
        EXPECT_TRUE(Has(parsed.header, "@PJL SET DUPLEX=ON")) << c.name;
        EXPECT_EQ(PageCount(parsed.body), 1) << c.name;
        const std::string body(parsed.body);
        EXPECT_NE(body.find("/DeviceRGB"), std::string::npos) << c.name;
        EXPECT_NE(body.find(c.imageFilter), std::string::npos) << c.name;
    }
}

// A job that cannot print ends aborted, saying why, and nothing reaches the
// printer.
TEST_F(AppJobs, FailedJobsSayWhy)
{
    struct Case {
        const char* name;
        std::string document;
        std::vector<std::string> operationAttrs;
        const char* message;
        const char* reason;
    };
    WriteFile(documents_->file("broken.pdf"), "%PDF-1.7\nthis is not a PDF\n");
    WriteFile(documents_->file("locked.pdf"), LockedPdf(2));
    for (const Case& c :
         {Case{"Unreadable", documents_->file("broken.pdf"), {}, "not a readable PDF", "document-format-error"},
          Case{"Locked", documents_->file("locked.pdf"), {}, "needs a password", "document-password-error"}}) {
        std::string stream;
        auto job = Print(c.name, c.document, "application/pdf", c.operationAttrs, {}, &stream);
        EXPECT_EQ(job["job-state"], "aborted") << c.name;
        EXPECT_NE(job["job-state-message"].find(c.message), std::string::npos)
            << c.name << ": " << job["job-state-message"];
        EXPECT_NE(job["job-state-reasons"].find(c.reason), std::string::npos)
            << c.name << ": " << job["job-state-reasons"];
        EXPECT_EQ(stream, "") << c.name;
    }
}

// Jobs sent together by several clients: PAPPL 1.3 then starts some of them
// at once.  Each still prints whole, and the server stays up.
TEST_F(AppJobs, JobsSentTogetherAllPrint)
{
    constexpr int kClients = 4, kJobsEach = 4;
    std::vector<std::vector<int>> ids(kClients);
    std::vector<std::thread> clients;
    auto name = [](int client, int job) {
        return "Together-" + std::to_string(client) + "-" + std::to_string(job);
    };
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            for (int j = 0; j < kJobsEach; ++j) {
                std::string report;
                ids[c].push_back(apptest::PrintWithIpptool(server_->PrinterUri(kPrinter),
                                                           documents_->file("four.pdf"), "application/pdf",
                                                           name(c, j), {}, {}, documents_->path(), &report));
            }
        });
    for (std::thread& client : clients) client.join();
    for (int c = 0; c < kClients; ++c)
        for (int j = 0; j < kJobsEach; ++j) {
            ASSERT_GT(ids[c][j], 0) << name(c, j) << server_->Log();
            auto job = server_->WaitForJob(kPrinter, ids[c][j], kJobTimeoutMs);
            ASSERT_EQ(job["job-state"], "completed") << name(c, j) << server_->Log();
            // A job PAPPL started twice is still counted once.
            EXPECT_EQ(job["job-impressions-completed"], "4") << name(c, j);
            // The parsed body points into the stream, which must outlive it.
            const std::string stream = ReadFile(server_->JobFile(kPrinter, name(c, j), ids[c][j]));
            JobStream parsed = ParseJobStream(stream);
            ASSERT_TRUE(parsed.valid) << name(c, j) << parsed.error;
            EXPECT_EQ(PageCount(parsed.body), 4) << name(c, j);
        }
}

}  // namespace
