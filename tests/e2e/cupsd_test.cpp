// Jobs through a real, private CUPS scheduler: lp -> cupsd -> pdftopjl -> file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>

#include "pjl/jobstream.hpp"
#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using pdftopjl::JobStream;
using pdftopjl::ParseJobStream;

namespace {

constexpr int kJobTimeoutMs = 20000;

class Cupsd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = PrivateCupsd::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<PrivateCupsd>();
        std::string error;
        if (!server_->Start(&error)) {
            startError_ = error;
            return;
        }
        const std::string filter = ServeBuiltFilter(server_->Root());
        if (!server_->AddQueue("utf8", SamplePpd(filter, "UTF-8"), &error) ||
            !server_->AddQueue("sjis", SamplePpd(filter, "SJIS"), &error))
            startError_ = error;
        documents_ = std::make_unique<TempDir>();
        chmod(documents_->path().c_str(), 0755);
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

    // Prints a document and returns the captured job stream ("" on failure).
    std::string Print(const std::string& queue, const std::vector<std::string>& lpArgs,
                      const std::string& document, std::string* state)
    {
        std::string error;
        unlink(server_->OutputFile(queue).c_str());
        int id = server_->Submit(queue, lpArgs, document, &error);
        EXPECT_GT(id, 0) << error;
        if (id <= 0) return "";
        *state = server_->WaitForJob(id, kJobTimeoutMs);
        return ReadFile(server_->OutputFile(queue));
    }

    static std::string Doc(const std::string& name) { return documents_->file(name); }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<PrivateCupsd> server_;
    static std::unique_ptr<TempDir> documents_;
};

std::string Cupsd::skip_;
std::string Cupsd::startError_;
std::unique_ptr<PrivateCupsd> Cupsd::server_;
std::unique_ptr<TempDir> Cupsd::documents_;

// The pages of a PDF body, or -1 when it is not a readable PDF.
int PageCount(const std::string& pdf)
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

std::string Attr(const std::string& name, const std::string& value)
{
    return "@PJL SET JOBATTR=\"@" + name + "=" + value + "\"";
}

TEST_F(Cupsd, PlainJobIsFramedAndComplete)
{
    std::string state;
    std::string stream = Print("utf8", {"-t", "Plain"}, Doc("four.pdf"), &state);
    ASSERT_EQ(state, "completed") << server_->ErrorLog();
    JobStream job = ParseJobStream(stream);
    ASSERT_TRUE(job.valid) << job.error;
    // cupsd's own options (number-up=1 among them) ask for no layout: the
    // document goes out as it came.
    EXPECT_TRUE(job.body == ReadFile(Doc("four.pdf")));
    for (const std::string& line :
         {std::string("@PJL SET STRINGCODESET=\"UTF8\""), std::string("@PJL COMMENT DNAME=Plain"),
          Attr("JOAU", "root"), std::string("@PJL SET COPIES=1"),
          std::string("@PJL SET JOBATTR=\"@DIPQ=STANDARD\""), std::string("@PJL SET RENDERMODE=AUTOCOLOR"),
          std::string("@PJL SET AUTOSELECT=ON"), std::string("@PJL SET MEDIATYPE=NORMAL"),
          std::string("@PJL SET DUPLEX=OFF"), Attr("NLPP", "N1")})
        EXPECT_TRUE(Has(job.header, line)) << line;
}

struct OptionCase {
    const char* name;
    std::vector<std::string> lpArgs;
    std::vector<std::string> lines;  // header lines that must be there
    int pages;                       // pages of the body
    bool bodyUnchanged;
};

class CupsdOptions : public Cupsd, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(CupsdOptions, ReachTheJob)
{
    const OptionCase& c = GetParam();
    std::string state;
    std::string stream = Print("utf8", c.lpArgs, Doc("four.pdf"), &state);
    ASSERT_EQ(state, "completed") << server_->ErrorLog();
    JobStream job = ParseJobStream(stream);
    ASSERT_TRUE(job.valid) << job.error;
    for (const std::string& line : c.lines) EXPECT_TRUE(Has(job.header, line)) << line;
    EXPECT_EQ(PageCount(std::string(job.body)), c.pages);
    EXPECT_EQ(job.body == ReadFile(Doc("four.pdf")), c.bodyUnchanged);
}

const std::string kTicket = "com.quorvelin.qbd.printsettings.";

INSTANTIATE_TEST_SUITE_P(
    Lp, CupsdOptions,
    ::testing::Values(
        OptionCase{"Tray", {"-o", "ZRInputSlot=2ndTray"}, {"@PJL SET MEDIASOURCE=TRAY2"}, 4, true},
        OptionCase{"BypassTray",
                   {"-o", "ZRInputSlot=BypassTray", "-o", "ZRMSILeadingEdge=LongEdge"},
                   {"@PJL SET MEDIASOURCE=TRAY5", "@PJL SET PAPERDIRECTION=LEF"}, 4, true},
        OptionCase{"Media", {"-o", "media=A3", "-o", "MediaType=Thick"}, {"@PJL SET PAPER=A3"}, 4, true},
        OptionCase{"DuplexShortEdge", {"-o", "sides=two-sided-short-edge"},
                   {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"}, 4, true},
        OptionCase{"DuplexTicket", {"-o", "com.apple.print.PrintSettings.PMDuplexing..n.=2"},
                   {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=LONGEDGE"}, 4, true},
        OptionCase{"StapleLandscape",
                   {"-o", "ZRStaple=UpperLeftSinglePort", "-o", "orientation-requested=4"},
                   {"@PJL SET FINISH=ON", "@PJL SET STAPLE=BOTTOMLEFT"}, 4, true},
        OptionCase{"Punch", {"-o", "ZRPunch=true"}, {"@PJL SET FINISH=ON", "@PJL SET PUNCH=LEFT"}, 4, true},
        OptionCase{"ReverseLandscapeTurnsThePages",
                   {"-o", "orientation-requested=5", "-o", "ZRStaple=TopDoublePort"},
                   {"@PJL SET STAPLE=RIGHTDUAL"}, 4, false},
        OptionCase{"HoldWithPasscode",
                   {"-o", kTicket + "PrintTypeTicketKey=2", "-o", kTicket + "PrintTypePasswordTicketKey=2468",
                    "-o", kTicket + "PrintTypeUserNameTicketKey=hanako"},
                   {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE", "@PJL SET HOLDENCRYPTKEY=\"2468\"",
                    "@PJL SET USERNAME=\"hanako\""},
                   4, true},
        OptionCase{"Accounting",
                   {"-o", kTicket + "KVRManageTypeListTicketKey=2", "-o", kTicket + "KVRUserIDListCtrlTicket=2",
                    "-o", kTicket + "KVRUserIDTextEditTicket=taro", "-o",
                    kTicket + "KVRUserPasswordTextEditTicket=pw42", "-o",
                    kTicket + "KVRIPAddressStringTicket=192.168.1.20"},
                   {Attr("JOAU", "taro"), Attr("JOEP", "pw42"), Attr("HOAD", "192.168.1.20")}, 4, true},
        OptionCase{"TwoUp", {"-o", "number-up=2"}, {Attr("NLPP", "N2")}, 2, false},
        OptionCase{"OddPages", {"-o", "page-set=odd"}, {}, 2, false},
        OptionCase{"TurnPage", {"-o", "ZRTurnPage=true"}, {}, 4, false},
        OptionCase{"Rasterized", {"-o", "ZRPDFRasterizedMode=true"}, {}, 4, false}),
    [](const ::testing::TestParamInfo<OptionCase>& info) { return std::string(info.param.name); });

// Copies are made exactly once: the body holds one copy and the header asks
// the printer for all of them, collated or not, with or without layout.
TEST_F(Cupsd, CopiesAreMadeExactlyOnce)
{
    struct Case {
        std::vector<std::string> lpArgs;
        const char* copiesLine;
        int pages;
    };
    for (const Case& c : {Case{{"-n", "3"}, "@PJL SET COPIES=3", 4},
                          Case{{"-n", "3", "-o", "collate=true"}, "@PJL SET QTY=3", 4},
                          Case{{"-n", "3", "-o", "collate=true", "-o", "number-up=2"}, "@PJL SET QTY=3", 2},
                          Case{{"-n", "3", "-o", "collate=false", "-o", "number-up=2"}, "@PJL SET COPIES=3", 2}}) {
        std::string state;
        std::string stream = Print("utf8", c.lpArgs, Doc("four.pdf"), &state);
        ASSERT_EQ(state, "completed");
        JobStream job = ParseJobStream(stream);
        ASSERT_TRUE(job.valid) << job.error;
        EXPECT_TRUE(Has(job.header, c.copiesLine)) << c.copiesLine;
        EXPECT_EQ(PageCount(std::string(job.body)), c.pages) << c.copiesLine;
    }
}

// A Japanese title: UTF-8 for a UTF-8 printer, Shift-JIS for the others.
TEST_F(Cupsd, JapaneseTitleInBothCodeSets)
{
    const std::string title = "\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8";  // 報告書
    std::string state;
    JobStream utf8 = ParseJobStream(Print("utf8", {"-t", title}, Doc("four.pdf"), &state));
    ASSERT_EQ(state, "completed");
    ASSERT_TRUE(utf8.valid) << utf8.error;
    EXPECT_TRUE(Has(utf8.header, "@PJL COMMENT DNAME=" + title));

    std::string sjisStream = Print("sjis", {"-t", title}, Doc("four.pdf"), &state);
    ASSERT_EQ(state, "completed");
    JobStream sjis = ParseJobStream(sjisStream);
    ASSERT_TRUE(sjis.valid) << sjis.error;
    EXPECT_TRUE(Has(sjis.header, "@PJL SET STRINGCODESET=\"SJISX0208\""));
    EXPECT_TRUE(Has(sjis.header, "@PJL COMMENT DNAME=\x95\xF1\x8D\x90\x8F\x91"));

    // The inspector shows it readably.
    WriteFile(Doc("sjis.pjl"), sjisStream);
    RunOptions o;
    o.program = std::string(PDFTOPJL_BUILD_DIR) + "/pjlinspect";
    o.args = {"pjlinspect", Doc("sjis.pjl")};
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("DNAME=" + title), std::string::npos) << r.out;
}

TEST_F(Cupsd, UnprocessableDocumentEndsAsAFailedJob)
{
    // A truncated PDF that the layout pre-filter cannot read.
    std::string pdf = MakePdf(4);
    WriteFile(Doc("broken.pdf"), pdf.substr(0, 200));
    std::string state;
    Print("utf8", {"-o", "number-up=2"}, Doc("broken.pdf"), &state);
    // cupsd stops a job whose filter failed (the job is kept, not printed).
    EXPECT_TRUE(state == "stopped" || state == "aborted") << state;
    EXPECT_EQ(ReadFile(server_->OutputFile("utf8")), "");
}

}  // namespace
