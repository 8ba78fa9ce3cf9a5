// SPDX-License-Identifier: Apache-2.0
// Page editing as CUPS runs the filter: re-rendered jobs, and damaged or
// hostile documents that must go out unchanged, never as pages of garbage.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "../unit/pages_pixels.hpp"
#include "support/heavy_pdfs.hpp"
#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using namespace pagetest;

namespace {

class PageEditing : public ::testing::Test {
protected:
    // The layout settings go through the system's pre-filter.
    void SetUp() override
    {
        WriteFile(data.file("printer.ppd"), MakePpd({"*cupsFilter: \"application/pdf 0 pdftopjl\""}));
    }

    RunResult Print(const std::string& document, const std::string& options,
                    long long fileSizeLimit = 0, const std::string& tmpDir = "")
    {
        WriteFile(data.file("doc.pdf"), document);
        RunOptions o;
        o.program = program;
        o.args = {"pdftopjl", "42", "alice", "Report", "1", options, data.file("doc.pdf")};
        o.env["TMPDIR"] = tmpDir.empty() ? tmp.path() : tmpDir;
        o.env["PPD"] = data.file("printer.ppd");
        o.timeoutMs = 120000;
        o.fileSizeLimit = fileSizeLimit;
        return RunProgram(o);
    }

    // The job's body, checked for its frame.
    std::string Body(const RunResult& r)
    {
        EXPECT_FALSE(r.timedOut);
        EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err;
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Job job = ParseJob(r.out);
        EXPECT_TRUE(job.framed) << job.error;
        EXPECT_EQ(job.fsiz, static_cast<long long>(job.body.size()));
        EXPECT_EQ(tmp.entries(), std::vector<std::string>{}) << "temporary files left behind";
        WriteFile(data.file("body.pdf"), job.body);
        return job.body;
    }

    void ExpectHalfTurned(int pages)
    {
        for (int i = 0; i < pages; ++i) {
            Picture got = Paint(data.file("body.pdf"), i);
            EXPECT_LT(Mismatch(got, HalfTurn(Paint(data.file("doc.pdf"), i))), 0.005) << "page " << i + 1;
            EXPECT_GT(Ink(got), 0.01);
        }
        EXPECT_TRUE(Paint(data.file("body.pdf"), pages).rgb.empty()) << "more pages than the source";
    }

    TempDir tmp;
    TempDir data;
    std::string program;  // empty: the built filter
};

TEST_F(PageEditing, TurnedPagesAsVectors)
{
    std::string doc = MakePdf({PdfPage{}, PdfPage{100, 200, 520, 795, 0, ""}, PdfPage{0, 0, 612, 792, 90, ""}});
    std::string body = Body(Print(doc, "ZRTurnPage=true"));
    EXPECT_NE(body, doc);
    EXPECT_EQ(body.rfind("%PDF-", 0), 0u);
    ExpectHalfTurned(3);
}

TEST_F(PageEditing, TurnedPagesAsImages)
{
    std::string doc = MakePdf({PdfPage{}, PdfPage{0, 0, 420, 595, 0, ""}});
    std::string body = Body(Print(doc, "ZRInputSlot=BypassTray ZRMSILeadingEdge=LongEdgeR ZRPDFRasterizedMode=true"));
    EXPECT_NE(body.find("/Height 3300 /Subtype /Image /Type /XObject /Width 2550"), std::string::npos);
    EXPECT_NE(body.find("/Height 2479 /Subtype /Image /Type /XObject /Width 1750"), std::string::npos);
    ExpectHalfTurned(2);
}

// Temporary paths are as long as the system allows, not cut to a buffer.
TEST_F(PageEditing, LongTemporaryDirectory)
{
    std::string dir = tmp.path();
    while (dir.size() < 200) {
        dir += "/" + std::string(std::min<size_t>(60, 199 - dir.size()), 'd');
        ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    }
    ASSERT_EQ(dir.size(), 200u);
    std::string doc = MakePdf(2);
    RunResult r = Print(doc, "ZRTurnPage=true", 0, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    Job job = ParseJob(r.out);
    ASSERT_TRUE(job.framed) << job.error;
    WriteFile(data.file("body.pdf"), job.body);
    ExpectHalfTurned(2);
    DIR* left = opendir(dir.c_str());
    ASSERT_NE(left, nullptr);
    int entries = 0;
    while (readdir(left) != nullptr) ++entries;
    closedir(left);
    EXPECT_EQ(entries, 2) << "temporary files left behind";  // . and ..
}

TEST_F(PageEditing, FullTurnRedrawsWithoutTurning)
{
    std::string doc = MakePdf(2);
    std::string body = Body(Print(doc, "orientation-requested=6 ZRTurnPage=true"));
    EXPECT_NE(body, doc);
    for (int i = 0; i < 2; ++i)
        EXPECT_LT(Mismatch(Paint(data.file("body.pdf"), i), Paint(data.file("doc.pdf"), i)), 0.005);
}

// The print dialog's copies tickets never cost a page: a document that is
// not exactly copies of what they say one copy is keeps every page (with a
// warning), and the page set alone never shortens it.
TEST_F(PageEditing, CopiesTicketsNeverCostPages)
{
    const std::string copies = "com.apple.print.PrintSettings.PMCopies..n.=";
    const std::string sides = " com.apple.print.PrintSettings.PMTotalSidesImaged..n.=";
    struct Case {
        int pages;
        std::string options;
        bool warns;
    };
    for (const Case& c : {Case{4, copies + "2" + sides + "6 Collate=true", true},
                          Case{1, copies + "2" + sides + "0 Collate=true", true},
                          Case{1, copies + "3 page-set=odd", false}}) {
        SCOPED_TRACE(c.options);
        RunResult r = Print(MakePdf(c.pages), c.options + " ZRTurnPage=true");
        Body(r);
        ExpectHalfTurned(c.pages);
        EXPECT_EQ(LinesStartingWith(r.err, "WARNING: The document's").size(), c.warns ? 1u : 0u)
            << r.err;
    }
}

TEST_F(PageEditing, NoRuleFiringSendsTheDocumentAsItIs)
{
    std::string doc = MakePdf(2);
    EXPECT_TRUE(Body(Print(doc, "ZRTurnPage=false media=A4")) == doc);
}

std::string Truncated()
{
    std::string pdf = MakePdf(3);
    return pdf.substr(0, pdf.size() / 2);
}

std::string BrokenXref()
{
    std::string pdf = MakePdf(3);
    pdf.replace(pdf.find("xref\n"), 4, "xrex");
    return pdf;
}

std::string PageTreeLoop()
{
    std::string pdf = MakePdf(3);
    pdf.replace(pdf.find("/Kids ["), 7, "/Kids [2 0 R ");
    return pdf;
}

std::string WithPage(PdfPage page)
{
    return MakePdf({PdfPage{}, page});
}

// A two-page document changed by `change`, in a file that is otherwise sound.
std::string Rewritten(const std::function<void(QPDF&)>& change)
{
    std::string pdf = MakePdf(2);
    QPDF qpdf;
    qpdf.processMemoryFile("doc", pdf.data(), pdf.size());
    change(qpdf);
    QPDFWriter writer(qpdf);
    writer.setOutputMemory();
    writer.write();
    std::shared_ptr<Buffer> out = writer.getBufferSharedPointer();
    return std::string(reinterpret_cast<char*>(out->getBuffer()), out->getSize());
}

std::string WithMediaBox(const char* box)
{
    return Rewritten([box](QPDF& qpdf) {
        QPDFObjectHandle page = qpdf.getAllPages().at(1);
        page.replaceKey("/MediaBox", QPDFObjectHandle::parse(box));
    });
}

// Two pages drawn by one content stream that carries a comment of bytes
// that do not compress: the second page's copy of it makes the rewritten
// document about twice the size of the original.
std::string SharedIncompressibleContents()
{
    return Rewritten([](QPDF& qpdf) {
        std::vector<QPDFObjectHandle> pages = qpdf.getAllPages();
        std::string noise = "%";
        unsigned state = 7;
        while (noise.size() < 20000) {
            state = state * 1103515245u + 12345u;
            noise += static_cast<char>(' ' + (state >> 16) % 94);
        }
        QPDFObjectHandle contents = pages[0].getKey("/Contents");
        std::shared_ptr<Buffer> drawing = contents.getStreamData(qpdf_dl_all);
        contents.replaceStreamData(
            std::string(reinterpret_cast<const char*>(drawing->getBuffer()), drawing->getSize()) +
                noise + "\n",
            QPDFObjectHandle::newNull(), QPDFObjectHandle::newNull());
        pages[1].replaceKey("/Contents", contents);
    });
}

// A page of 300 colours, which rasterises to RGB: far more bytes than the
// document.
std::string ManyColours()
{
    std::string squares;
    for (int i = 0; i < 300; ++i)
        squares += std::to_string(i % 17 / 16.0) + " " + std::to_string(i / 17 / 17.0) + " 0.5 rg " +
                   std::to_string(i % 20 * 8) + " " + std::to_string(400 + i / 20 * 8) + " 6 6 re f ";
    return MakePdf({PdfPage{0, 0, 612, 792, 0, "", squares + "0 0 0"}});
}

// A full disk (or a quota, or an I/O error) while the new document is written
// fails the job: nothing is sent, nothing is left behind.
TEST_F(PageEditing, FullDiskWhileRewritingFailsTheJob)
{
    struct Case {
        std::string document;
        const char* options;
    };
    for (const Case& c : {Case{ManyColours(), "ZRTurnPage=true ZRPDFRasterizedMode=true"},
                          Case{SharedIncompressibleContents(), "ZRTurnPage=true"}}) {
        SCOPED_TRACE(c.options);
        // Room for the staging copy, not for the new document.
        RunResult r = Print(c.document, c.options, static_cast<long long>(c.document.size()) + 4096);
        ExpectJobRefused(r, tmp, "Cannot write the re-rendered document: File too large",
                         "Process Data fail\n");
        EXPECT_EQ(r.err.find("sent unchanged"), std::string::npos) << r.err;
    }
}

// The page tree claims far more pages than it holds.
std::string CountLies()
{
    return Rewritten([](QPDF& qpdf) {
        qpdf.getRoot().getKey("/Pages").replaceKey("/Count", QPDFObjectHandle::newInteger(99999999));
    });
}

std::string DeeplyNested()
{
    std::string pdf = MakePdf(1);
    pdf.replace(pdf.find("/Type /Page "), 12,
                "/Type /Page /Junk " + std::string(20000, '[') + std::string(20000, ']') + " ");
    return pdf;  // the xref offsets no longer match either
}


// A filled form field whose look is left to the viewer: qpdf cannot draw it,
// so a rewrite would lose it.
std::string FormNeedingAppearances()
{
    return Rewritten([](QPDF& qpdf) {
        QPDFObjectHandle page = qpdf.getAllPages().at(0);
        QPDFObjectHandle field = qpdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Filled in) "
            "/DA (/Helv 12 Tf 0 g) /Rect [300 400 550 430] /F 4 >>"));
        page.replaceKey("/Annots", QPDFObjectHandle::newArray({field}));
        QPDFObjectHandle form = QPDFObjectHandle::parse("<< /NeedAppearances true >>");
        form.replaceKey("/Fields", QPDFObjectHandle::newArray({field}));
        qpdf.getRoot().replaceKey("/AcroForm", form);
    });
}

struct HostileCase {
    const char* name;
    std::string document;
    const char* options;
    const char* message;
    bool rerenderTried = true;  // else the decision found nothing to do
};

class Hostile : public PageEditing, public ::testing::WithParamInterface<HostileCase> {};

const char kTurn[] = "ZRTurnPage=true";
const char kRaster[] = "ZRPDFRasterizedMode=true";
// After a failed open the vendor options go by their bare names.

INSTANTIATE_TEST_SUITE_P(
    Documents, Hostile,
    ::testing::Values(
        HostileCase{"BrokenXref", BrokenXref(), kTurn, "the document is damaged"},
        HostileCase{"BrokenXrefRaster", BrokenXref(), kRaster, "the document is damaged"},
        HostileCase{"DeeplyNested", DeeplyNested(), kTurn, "Page re-rendering failed"},
        HostileCase{"CountLiesRaster", CountLies(), kRaster, "Page re-rendering failed"},
        HostileCase{"FormNeedingAppearances", FormNeedingAppearances(), kTurn,
                    "form fields will not be flattened"},
        HostileCase{"HugeMediaBoxRaster", WithPage(PdfPage{0, 0, 14400, 14400, 0, ""}), kRaster,
                    "page 2: it is too large to rasterise (14400 x 14400 points)"},
        HostileCase{"FarOutMediaBox", WithMediaBox("[0 0 99999999999 792]"), kTurn,
                    "page 2: it has no usable media box"},
        HostileCase{"MediaBoxOfNames", WithMediaBox("[/a /b /c /d]"), kTurn,
                    "page 2: it has no usable media box"},
        HostileCase{"MissingMediaBox", WithMediaBox("null"), kRaster,
                    "page 2: it has no usable media box"},
        HostileCase{"ZeroSizePage", WithPage(PdfPage{0, 0, 0, 0, 0, ""}), kTurn,
                    "page 2: its media box has no area"},
        HostileCase{"ZeroSizePageRaster", WithPage(PdfPage{0, 0, 0, 0, 0, ""}), kRaster,
                    "page 2: its media box has no area"},
        HostileCase{"SliverPageRaster", WithPage(PdfPage{0, 0, 612, 0.1, 0, ""}), kRaster,
                    "page 2: it is too small to rasterise"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Hostile, GoesOutUnchanged)
{
    const HostileCase& c = GetParam();
    RunResult r = Print(c.document, c.options);
    EXPECT_TRUE(Body(r) == c.document) << "the document was changed";
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("the document is sent unchanged\n") != std::string::npos, c.rerenderTried)
        << r.err;
}

// A filter installed without its painting module: a rasterised job goes out
// as it came, saying what is missing.
TEST_F(PageEditing, RasterWithoutThePaintingModuleGoesOutUnchanged)
{
    program = data.file("pdftopjl");  // with no module beside it
    std::filesystem::copy_file(PDFTOPJL_BINARY, program);
    const std::string doc = MakePdf(1);
    RunResult r = Print(doc, kRaster);
    EXPECT_TRUE(Body(r) == doc) << "the document was changed";
    EXPECT_NE(r.err.find("WARNING: Page re-rendering failed: rasterising needs poppler's module "
                         "pdftopjl-poppler.so, which cannot be loaded: "),
              std::string::npos)
        << r.err;
}

struct EndlessCase {
    const char* name;
    std::string (*document)();  // made when its test runs: some take a moment
};

class EndlessPage : public PageEditing, public ::testing::WithParamInterface<EndlessCase> {};

INSTANTIATE_TEST_SUITE_P(Documents, EndlessPage,
                         ::testing::Values(EndlessCase{"NestedForms", EndlessNestedForms},
                                           EndlessCase{"FieldDrawingForms", EndlessFieldDrawingForms},
                                           EndlessCase{"MillionsOfPaths", MillionsOfPaths}),
                         [](const auto& info) { return std::string(info.param.name); });

// A page that would never finish painting ends the re-rendering at its time
// limit, and the document goes out unchanged; a cancel while it paints ends
// the job at once.  Nothing is left behind either way.
TEST_P(EndlessPage, IsGivenUpAtItsLimitAndCancelsAtOnce)
{
    const std::string doc = GetParam().document();
    RunResult r = Print(doc, kRaster);
    EXPECT_TRUE(Body(r) == doc) << "the document was changed";
    EXPECT_NE(r.err.find("WARNING: Page re-rendering failed: page 1 was not painted within its "
                         "limit of 6 s of processor time; the document is sent unchanged\n"),
              std::string::npos)
        << r.err;

    WriteFile(data.file("doc.pdf"), doc);
    RunOptions o;
    o.args = {"pdftopjl", "42", "alice", "Report", "1", kRaster, data.file("doc.pdf")};
    o.env["TMPDIR"] = tmp.path();
    o.env["PPD"] = data.file("printer.ppd");
    o.signalToSend = SIGTERM;
    o.signalWhen = [&] { return tmp.entries().size() == 1; };  // the new file begun
    o.timeoutMs = 60000;
    r = RunProgram(o);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(r.msAfterSignal, 2000);
    ExpectJobRefused(r, tmp, "Job cancelled", "INFO: Job cancelled\n");
}

// Redrawing it runs into its memory limit, in a worker or (a small file) in
// the job's own process; the document goes out unchanged, with one warning.
TEST_F(PageEditing, ContentInflatingBeyondTheMemoryLimitGoesOutUnchanged)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer builds run without memory limits";
#endif
    for (bool smallFile : {false, true}) {
        const std::string doc = InflatingTo(smallFile ? 700 : 1024, smallFile);
        RunResult r = Print(doc, kTurn);
        EXPECT_TRUE(Body(r) == doc) << "the document was changed";
        const std::vector<std::string> warnings = LinesStartingWith(r.err, "WARNING: ");
        ASSERT_EQ(warnings.size(), 1u) << r.err;
        EXPECT_EQ(warnings[0].find("WARNING: Page re-rendering failed: redrawing the pages needs more "
                                   "than its limit of "),
                  0u)
            << r.err;
    }
}

// A PDF locked with a password: for opening it (user) or only for changes
// (owner).
std::string Encrypted(const std::string& userPassword)
{
    TempDir dir;
    WriteFile(dir.file("in.pdf"), MakePdf(2));
    RunOptions o;
    o.program = "/usr/bin/qpdf";
    o.args = {"qpdf", "--encrypt", userPassword, "owner-secret", "256", "--", dir.file("in.pdf"),
              dir.file("out.pdf")};
    EXPECT_EQ(RunProgram(o).exitCode, 0);
    return ReadFile(dir.file("out.pdf"));
}

struct RefusedCase {
    const char* name;
    std::string document;
    const char* reason;
};

class Refused : public PageEditing, public ::testing::WithParamInterface<RefusedCase> {};

INSTANTIATE_TEST_SUITE_P(
    Documents, Refused,
    ::testing::Values(
        RefusedCase{"Empty", "", "The document is empty"},
        RefusedCase{"OneByte", "%", "The document is not a readable PDF"},
        RefusedCase{"HeaderOnly", "%PDF-1.4\n", "The document is not a readable PDF"},
        RefusedCase{"NotAPdf", std::string(5000, 'x'), "The document is not a readable PDF"},
        RefusedCase{"Truncated", Truncated(), "The document is not a readable PDF"},
        RefusedCase{"PageTreeLoop", PageTreeLoop(), "Loop detected in /Pages structure"},
        RefusedCase{"NoPages", MakePdf(0), "The document has no pages"},
        RefusedCase{"UserPassword", Encrypted("open-secret"), "needs a password"}),
    [](const auto& info) { return std::string(info.param.name); });

// What cannot print fails the job before any output, with its reason.
TEST_P(Refused, FailsTheJobBeforeAnyOutput)
{
    RunResult r = Print(GetParam().document, "ZRTurnPage=true");
    ExpectJobRefused(r, tmp, GetParam().reason, "Process Data fail\n");
}

TEST_F(PageEditing, OwnerPasswordOnlyGoesOutAsItIs)
{
    const std::string doc = Encrypted("");
    EXPECT_TRUE(Body(Print(doc, "media=A4")) == doc);
}

}  // namespace
