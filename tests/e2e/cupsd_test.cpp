// SPDX-License-Identifier: Apache-2.0
// Jobs through a real, private CUPS scheduler: lp -> cupsd -> pdftopjl -> file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <zlib.h>

#include <cmath>
#include <map>

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
        WriteFile(documents_->file("blue.pdf"), MakePdf({PdfPage{0, 0, 595, 842, 0, "", "0 0 1"}}));
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

// Each page's size as "WxH" in whole points.
std::vector<std::string> PageSizes(const std::string& pdf)
{
    std::vector<std::string> sizes;
    try {
        QPDF doc;
        doc.setSuppressWarnings(true);
        doc.processMemoryFile("body", pdf.data(), pdf.size());
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(doc).getAllPages()) {
            QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
            int rotate = page.getAttribute("/Rotate", false).isInteger()
                             ? page.getAttribute("/Rotate", false).getIntValueAsInt()
                             : 0;
            long w = std::lround(box.urx - box.llx), h = std::lround(box.ury - box.lly);
            if (rotate % 180 != 0) std::swap(w, h);
            sizes.push_back(std::to_string(w) + "x" + std::to_string(h));
        }
    } catch (const std::exception&) {
    }
    return sizes;
}

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

// A small PNG whose pixels are all colours.
std::string ColourPng(int width, int height)
{
    std::string rows;
    for (int y = 0; y < height; ++y) {
        rows += '\0';
        for (int x = 0; x < width; ++x) {
            rows += static_cast<char>(x * 4);
            rows += static_cast<char>(y * 5);
            rows += static_cast<char>(200);
        }
    }
    auto be32 = [](uint32_t v) {
        return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    };
    auto chunk = [&](const std::string& type, const std::string& data) {
        const std::string body = type + data;
        return be32(static_cast<uint32_t>(data.size())) + body +
               be32(static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                static_cast<uInt>(body.size()))));
    };
    std::vector<Bytef> packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf packedSize = static_cast<uLongf>(packed.size());
    compress(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(rows.data()),
             static_cast<uLong>(rows.size()));
    return std::string("\x89PNG\r\n\x1a\n", 8) +
           chunk("IHDR", be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5)) +
           chunk("IDAT", std::string(reinterpret_cast<char*>(packed.data()), packedSize)) +
           chunk("IEND", "");
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
    const char* bodyHolds = nullptr;  // a text the body must hold
    const char* document = "four.pdf";
};

class CupsdOptions : public Cupsd, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(CupsdOptions, ReachTheJob)
{
    const OptionCase& c = GetParam();
    std::string state;
    std::string stream = Print("utf8", c.lpArgs, Doc(c.document), &state);
    ASSERT_EQ(state, "completed") << server_->ErrorLog();
    JobStream job = ParseJobStream(stream);
    ASSERT_TRUE(job.valid) << job.error;
    for (const std::string& line : c.lines) EXPECT_TRUE(Has(job.header, line)) << line;
    EXPECT_EQ(PageCount(std::string(job.body)), c.pages);
    EXPECT_EQ(job.body == ReadFile(Doc(c.document)), c.bodyUnchanged);
    if (c.bodyHolds != nullptr) {
        EXPECT_NE(std::string(job.body).find(c.bodyHolds), std::string::npos) << c.bodyHolds;
    }
}

const std::string kTicket = "com.quorvelin.qbd.printsettings.";

INSTANTIATE_TEST_SUITE_P(
    Lp, CupsdOptions,
    ::testing::Values(
        OptionCase{"Tray", {"-o", "ZRInputSlot=2ndTray"}, {"@PJL SET MEDIASOURCE=TRAY2"}, 4, true},
        OptionCase{"BypassTray",
                   {"-o", "ZRInputSlot=BypassTray", "-o", "ZRMSILeadingEdge=LongEdge"},
                   {"@PJL SET MEDIASOURCE=TRAY5", "@PJL SET PAPERDIRECTION=LEF"}, 4, true},
        OptionCase{"Media", {"-o", "media=A3", "-o", "MediaType=Thick"},
                   {"@PJL SET PAPER=A3", "@PJL SET MEDIATYPE=THICK"}, 4, true},
        // Standard attributes, as dialogs and IPP clients send them.
        OptionCase{"Monochrome", {"-o", "print-color-mode=monochrome"},
                   {"@PJL SET RENDERMODE=GRAYSCALE"}, 4, true},
        OptionCase{"QualityHigh", {"-o", "print-quality=5"}, {Attr("DIPQ", "QUALITY2")}, 4, true},
        OptionCase{"QualityDraft", {"-o", "print-quality=3"}, {Attr("DIPQ", "SPEED")}, 4, true},
        OptionCase{"FinishingsStaple", {"-o", "finishings=4"}, {"@PJL SET STAPLE=TOPLEFT"}, 4, true},
        OptionCase{"FinishingsPunch", {"-o", "finishings=5"}, {"@PJL SET PUNCH=LEFT"}, 4, true},
        OptionCase{"FinishingsList", {"-o", "finishings=28,5"},
                   {"@PJL SET STAPLE=LEFTDUAL", "@PJL SET PUNCH=LEFT"}, 4, true},
        OptionCase{"MediaSource", {"-o", "media-source=tray-2"}, {"@PJL SET MEDIASOURCE=TRAY2"}, 4, true},
        OptionCase{"MediaType", {"-o", "media-type=stationery-recycled"},
                   {"@PJL SET MEDIATYPE=RECYCLED"}, 4, true},
        OptionCase{"OutputBin", {"-o", "output-bin=face-up"}, {"@PJL SET OUTBIN=FACEUPTRAY"}, 4, true},
        OptionCase{"PwgA4", {"-o", "media=iso_a4_210x297mm"}, {"@PJL SET PAPER=A4"}, 4, true},
        OptionCase{"PwgLetter", {"-o", "media=na_letter_8.5x11in"}, {"@PJL SET PAPER=LETTER"}, 4, true},
        OptionCase{"PageSize", {"-o", "PageSize=A3"}, {"@PJL SET PAPER=A3"}, 4, true},
        OptionCase{"MediaList", {"-o", "media=A5,tray-3,stationery"},
                   {"@PJL SET PAPER=A5", "@PJL SET MEDIASOURCE=TRAY3", "@PJL SET MEDIATYPE=PLAIN"},
                   4, true},
        OptionCase{"StandardInputSlot", {"-o", "InputSlot=MPTray"}, {"@PJL SET MEDIASOURCE=TRAY5"}, 4,
                   true},
        OptionCase{"ExplicitOptionWins", {"-o", "ZRInputSlot=1stTray", "-o", "media-source=tray-2"},
                   {"@PJL SET MEDIASOURCE=TRAY1"}, 4, true},
        // A dialog that sends every option: the legacy one at its default yields.
        OptionCase{"LegacyDefaultYields", {"-o", "InputSlot=Tray2", "-o", "ZRInputSlot=AutoSelect"},
                   {"@PJL SET MEDIASOURCE=TRAY2"}, 4, true},
        // Office features from the PPD's options and IPP attributes alone.
        OptionCase{"StoredWithPasscode", {"-o", "ZRPrintType=Stored", "-o", "ZRPasscode=Custom.1234"},
                   {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE",
                    "@PJL SET HOLDENCRYPTKEY=\"1234\""}, 4, true},
        OptionCase{"StoredWithoutPasscode", {"-o", "ZRPrintType=Stored"}, {"@PJL SET HOLD=STORE"}, 4,
                   true},
        OptionCase{"Proof", {"-o", "ZRPrintType=Proof"}, {"@PJL SET HOLD=PROOF"}, 4, true},
        OptionCase{"UserAndJobName", {"-o", "ZRUserName=Custom.hanako", "-o", "ZRJobName=Custom.Budget"},
                   {"@PJL SET USERNAME=\"hanako\"", "@PJL SET JOBNAME=\"Budget\""}, 4, true},
        OptionCase{"Account", {"-o", "ZRAccountId=Custom.dept7"}, {Attr("JOAU", "dept7")}, 4, true},
        OptionCase{"JobPassword", {"-o", "job-password=4711"},
                   {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE",
                    "@PJL SET HOLDENCRYPTKEY=\"4711\""}, 4, true},
        OptionCase{"JobAccountId", {"-o", "job-account-id=acct9"}, {Attr("JOAU", "acct9")}, 4, true},
        OptionCase{"TicketOverridesThePpdChoice",
                   {"-o", kTicket + "PrintTypeTicketKey=3", "-o", "ZRPrintType=Stored"},
                   {"@PJL SET HOLD=PROOF"}, 4, true},
        // Layout through the layout filter.
        OptionCase{"PageRanges", {"-o", "page-ranges=2-3"}, {}, 2, false},
        OptionCase{"DuplexShortEdge", {"-o", "sides=two-sided-short-edge"},
                   {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"}, 4, true},
        OptionCase{"DuplexTicket", {"-o", "com.apple.print.PrintSettings.PMDuplexing..n.=2"},
                   {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=LONGEDGE"}, 4, true},
        OptionCase{"StapleLandscape",
                   {"-o", "ZRStaple=UpperLeftSinglePort", "-o", "orientation-requested=4"},
                   {"@PJL SET FINISH=ON", "@PJL SET STAPLE=BOTTOMLEFT"}, 4, false},
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
        // Black-and-white pages, painted without antialiasing: one bit a pixel.
        OptionCase{"Rasterized", {"-o", "ZRPDFRasterizedMode=true"}, {}, 4, false,
                   "/BitsPerComponent 1 /ColorSpace /DeviceGray"},
        // White, blue and black: the commonest two at one bit, the black text a stencil over them.
        OptionCase{"RasterizedColour", {"-o", "ZRPDFRasterizedMode=true"}, {}, 1, false,
                   "/BitsPerComponent 1 /ColorSpace [ /Indexed /DeviceRGB 1 <ffffff0000ff> ]", "blue.pdf"}),
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
    const std::string utf8Stream = Print("utf8", {"-t", title}, Doc("four.pdf"), &state);
    JobStream utf8 = ParseJobStream(utf8Stream);
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

// Landscape and fitting come out as the layout filter lays them out.
TEST_F(Cupsd, LayoutAsTheLayoutFilterMakesIt)
{
    WriteFile(Doc("letter.pdf"), MakePdf(2, 612, 792));
    struct Case {
        std::vector<std::string> lpArgs;
        std::string options;  // the same for pdftopdf itself
    };
    for (const Case& c : {Case{{"-o", "landscape"}, "landscape"},
                          Case{{"-o", "orientation-requested=4"}, "orientation-requested=4"},
                          Case{{"-o", "fit-to-page"}, "fit-to-page"}}) {
        std::string state;
        const std::string stream = Print("utf8", c.lpArgs, Doc("letter.pdf"), &state);
        JobStream job = ParseJobStream(stream);
        ASSERT_EQ(state, "completed");
        ASSERT_TRUE(job.valid) << job.error;
        RunOptions o;
        o.program = "/usr/lib/cups/filter/pdftopdf";
        o.args = {"pdftopdf", "1", "root", "t", "1", c.options, Doc("letter.pdf")};
        o.env["PPD"] = server_->Root() + "/utf8.ppd";
        RunResult expected = RunProgram(o);
        ASSERT_EQ(expected.exitCode, 0) << expected.err;
        EXPECT_EQ(PageSizes(std::string(job.body)), PageSizes(expected.out)) << c.options;
    }
    // Letter pages fitted onto the queue's A4 paper.
    std::string state;
    const std::string fittedStream = Print("utf8", {"-o", "fit-to-page"}, Doc("letter.pdf"), &state);
    JobStream fitted = ParseJobStream(fittedStream);
    ASSERT_TRUE(fitted.valid);
    EXPECT_EQ(PageSizes(std::string(fitted.body)), (std::vector<std::string>{"595x842", "595x842"}));
}

// Two pages per sheet, once, for a PDF and for a photo; the photo stays in
// colour at its own resolution.
TEST_F(Cupsd, TwoUpOnceAndImagesInColour)
{
    std::string state;
    const std::string pdfStream = Print("utf8", {"-o", "number-up=2"}, Doc("four.pdf"), &state);
    JobStream pdf = ParseJobStream(pdfStream);
    ASSERT_EQ(state, "completed");
    EXPECT_EQ(PageCount(std::string(pdf.body)), 2);

    WriteFile(Doc("photo.png"), ColourPng(64, 48));
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"-o", "number-up=2"}}) {
        const std::string stream = Print("utf8", args, Doc("photo.png"), &state);
        JobStream photo = ParseJobStream(stream);
        ASSERT_EQ(state, "completed") << server_->ErrorLog();
        ASSERT_TRUE(photo.valid) << photo.error;
        const std::string body(photo.body);
        EXPECT_EQ(PageCount(body), 1);
        EXPECT_NE(body.find("/DeviceRGB"), std::string::npos) << "the image is not in colour";
        EXPECT_EQ(body.find("/BitsPerComponent 1"), std::string::npos);
        // Laid out once: one form for the n-up sheet at most.
        EXPECT_LE(Occurrences(body, "/Subtype /Form"), args.empty() ? 0 : 1) << args.size();
    }
}

// The queue's defaults apply to a plain job; the job's own options win.
TEST_F(Cupsd, QueueDefaultsApplyAndJobOptionsWin)
{
    std::string error;
    ASSERT_TRUE(server_->AddQueue("defaults", SamplePpd(ServeBuiltFilter(server_->Root()), "UTF-8"),
                                  &error))
        << error;
    ASSERT_TRUE(server_->SetDefaults("defaults", {"ZRInputSlot=2ndTray", "ZRStaple=UpperLeftSinglePort",
                                                  "ZRColorMode=Black", "PageSize=A3",
                                                  "ZRPrintType=Stored", "ZRAccountId=Custom.dept7"},
                                     &error))
        << error;
    std::string state;
    const std::string plainStream = Print("defaults", {}, Doc("four.pdf"), &state);
    JobStream plain = ParseJobStream(plainStream);
    ASSERT_TRUE(plain.valid) << plain.error;
    for (const char* line : {"@PJL SET MEDIASOURCE=TRAY2", "@PJL SET STAPLE=TOPLEFT",
                             "@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET PAPER=A3",
                             "@PJL SET HOLD=STORE"})
        EXPECT_TRUE(Has(plain.header, line)) << line;
    EXPECT_TRUE(Has(plain.header, Attr("JOAU", "dept7")));

    const std::string ownStream = Print("defaults",
                                    {"-o", "media-source=tray-3", "-o", "ZRStaple=None", "-o",
                                     "ZRColorMode=Color", "-o", "media=A4", "-o",
                                     "ZRPrintType=Normal"},
                                    Doc("four.pdf"), &state);
    JobStream own = ParseJobStream(ownStream);
    ASSERT_TRUE(own.valid) << own.error;
    for (const char* line : {"@PJL SET MEDIASOURCE=TRAY3", "@PJL SET RENDERMODE=AUTOCOLOR",
                             "@PJL SET PAPER=A4"})
        EXPECT_TRUE(Has(own.header, line)) << line;
    EXPECT_FALSE(Has(own.header, "@PJL SET STAPLE=TOPLEFT"));
    EXPECT_FALSE(Has(own.header, "@PJL SET HOLD=STORE"));
}

// IPP clients see what the printer can do.
TEST_F(Cupsd, IppClientsSeeTheSupportedValues)
{
    std::map<std::string, std::string> attrs = server_->PrinterAttributes("utf8");
    const std::pair<const char*, const char*> expected[] = {
        {"media-source-supported", "tray-2"},       {"media-source-supported", "by-pass-tray"},
        {"finishings-supported", "staple-top-left"}, {"finishings-supported", "punch"},
        {"print-quality-supported", "draft"},        {"print-quality-supported", "high"},
        {"print-color-mode-supported", "monochrome"}, {"output-bin-supported", "face-up"},
        {"media-type-supported", "stationery-recycled"},
        {"job-password-supported", "8"},            {"job-account-id-supported", "true"}};
    for (const auto& [name, value] : expected)
        EXPECT_NE(attrs[name].find(value), std::string::npos) << name << " = " << attrs[name];
}

}  // namespace
