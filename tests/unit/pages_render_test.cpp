// Re-rendering checked on the written file: its pages, boxes and images as
// qpdf reads them, and its pictures as poppler paints them.
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>
#include <fcntl.h>
#include <stdlib.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <set>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "job/fd.hpp"
#include "pages/document.hpp"
#include "pages/edit_decision.hpp"
#include "pages/rewrite.hpp"
#include "pages_pixels.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using namespace pagetest;
using namespace pdftopjl;

namespace {

enum class Look { Same, HalfTurned, Mirrored, HalfTurnedMirrored };

Picture Expected(const Picture& source, Look look)
{
    switch (look) {
    case Look::HalfTurned: return HalfTurn(source);
    case Look::Mirrored: return Mirror(source);
    case Look::HalfTurnedMirrored: return Flip(source, false, true);
    default: return source;
    }
}

std::vector<double> Box(QPDFObjectHandle page, const char* key = "/MediaBox")
{
    std::vector<double> v;
    QPDFObjectHandle box = QPDFPageObjectHelper(page).getAttribute(key, false);
    for (int i = 0; i < box.getArrayNItems(); ++i) v.push_back(box.getArrayItem(i).getNumericValue());
    return v;
}

int Rotate(QPDFObjectHandle page)
{
    QPDFObjectHandle r = QPDFPageObjectHelper(page).getAttribute("/Rotate", false);
    return r.isInteger() ? r.getIntValueAsInt() : 0;
}

class Rendering : public ::testing::Test {
protected:
    // Opens `pdf` as the intake document; the plan then as the decision
    // would leave it.
    void Open(const std::string& pdf)
    {
        source = data.file("intake.pdf");
        WriteFile(source, pdf);
        document = std::make_unique<SourceDocument>();
        sourceFd.reset(open(source.c_str(), O_RDONLY | O_CLOEXEC));
        OpenSourceDocument(document.get(), sourceFd.get(), source);
        info = EditPlan{};
        info.pageCount = info.lastPage = static_cast<int32_t>(document->pages.size());
    }

    int Run()
    {
        const std::string path = tmp.file("rewritten.pdf");
        FILE* file = fopen(path.c_str(), "wb");
        bool ok = RewritePages(document.get(), info, file).status == RewriteStatus::Done;
        ok = fclose(file) == 0 && ok;
        if (ok)
            output = path;
        else
            unlink(path.c_str());
        return ok ? 1 : 0;
    }

    // Every output page against the source page it came from.
    void ExpectPages(const std::vector<int>& sourcePages, Look look)
    {
        ASSERT_FALSE(output.empty());
        RunOptions check;
        check.program = "/usr/bin/qpdf";
        check.args = {"qpdf", "--check", output};
        RunResult r = RunProgram(check);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

        QPDF in, out;
        in.processFile(source.c_str());
        out.processFile(output.c_str());
        std::vector<QPDFObjectHandle> inPages = in.getAllPages(), outPages = out.getAllPages();
        ASSERT_EQ(outPages.size(), sourcePages.size());
        for (size_t i = 0; i < sourcePages.size(); ++i) {
            SCOPED_TRACE("output page " + std::to_string(i + 1));
            QPDFObjectHandle from = inPages[sourcePages[i] - 1], to = outPages[i];
            EXPECT_EQ(Box(to), Box(from));
            EXPECT_EQ(Rotate(to), Rotate(from));
            Picture want = Expected(Paint(source, sourcePages[i] - 1), look);
            Picture got = Paint(output, static_cast<int>(i));
            EXPECT_LT(Mismatch(got, want), 0.005);
            EXPECT_GT(Ink(got), 0.01);
            if (look != Look::Same) {
                EXPECT_GT(Mismatch(got, Paint(source, sourcePages[i] - 1)), 0.02);
            }
        }
    }

    // The image each raster page is made of: its pixel size, colour space and
    // bits a component.
    std::vector<std::tuple<int, int, std::string>> Images()
    {
        std::vector<std::tuple<int, int, std::string>> images;
        QPDF out;
        out.processFile(output.c_str());
        for (QPDFObjectHandle page : out.getAllPages()) {
            QPDFObjectHandle xobjects = page.getKey("/Resources").getKey("/XObject");
            EXPECT_EQ(xobjects.getKeys().size(), 1u);
            QPDFObjectHandle image = xobjects.getKey(*xobjects.getKeys().begin()).getDict();
            EXPECT_EQ(image.getKey("/Subtype").getName(), "/Image");
            EXPECT_EQ(image.getKey("/Filter").getName(), "/FlateDecode");
            images.emplace_back(image.getKey("/Width").getIntValueAsInt(),
                                image.getKey("/Height").getIntValueAsInt(),
                                image.getKey("/ColorSpace").getName() + " " +
                                    std::to_string(image.getKey("/BitsPerComponent").getIntValueAsInt()));
        }
        return images;
    }

    TempDir tmp;   // where the new file goes
    TempDir data;  // the intake file
    std::string source, output;
    job::UniqueFd sourceFd;  // declared before the document, so it outlives it
    std::unique_ptr<SourceDocument> document;
    EditPlan info{};
};

struct RenderCase {
    const char* name;
    std::vector<PdfPage> pages;
    int rotation;
    int mirror;
    int raster;
    int lastPage;  // -1: the page count
    int pageStep;
    std::vector<int> sourcePages;
    Look look;
};

class Passes : public Rendering, public ::testing::WithParamInterface<RenderCase> {};

const PdfPage kLetter{};
const PdfPage kA5{0, 0, 420, 595, 0, ""};
const PdfPage kA4Landscape{0, 0, 842, 595, 0, ""};
const PdfPage kAwayFromOrigin{100, 200, 712, 992, 0, ""};
const PdfPage kShownSideways{0, 0, 612, 792, 90, ""};
const PdfPage kHalfPointWide{0, 0, 595.5, 842, 0, ""};
const PdfPage kBlueMarker{0, 0, 612, 792, 0, "", "0 0 1"};
const PdfPage kGreyMarker{0, 0, 612, 792, 0, "", "0.5 0.5 0.5"};
const PdfPage kTwoBands{0, 0, 1224, 1584, 0, ""};  // painted in two bands

std::vector<PdfPage> Twelve()
{
    std::vector<PdfPage> pages(12);
    return pages;
}

INSTANTIATE_TEST_SUITE_P(
    Pages, Passes,
    ::testing::Values(
        RenderCase{"VectorHalfTurn", {kLetter, kA5, kLetter}, 180, 0, 0, -1, 1, {1, 2, 3}, Look::HalfTurned},
        RenderCase{"VectorFullTurn", {kLetter, kA5}, 360, 0, 0, -1, 1, {1, 2}, Look::Same},
        RenderCase{"VectorTurnAndAHalf", {kLetter}, 540, 0, 0, -1, 1, {1}, Look::HalfTurned},
        RenderCase{"VectorMirror", {kLetter, kA4Landscape}, 0, 1, 0, -1, 1, {1, 2}, Look::Mirrored},
        RenderCase{"VectorMirrorAndHalfTurn", {kLetter}, 180, 1, 0, -1, 1, {1}, Look::HalfTurnedMirrored},
        RenderCase{"VectorEveryThirdPage", Twelve(), 0, 0, 0, 12, 3, {1, 4, 7, 10}, Look::Same},
        RenderCase{"VectorFirstCopy", Twelve(), 180, 0, 0, 4, 1, {1, 2, 3, 4}, Look::HalfTurned},
        RenderCase{"VectorAwayFromOrigin", {kAwayFromOrigin}, 180, 0, 0, -1, 1, {1}, Look::HalfTurned},
        RenderCase{"VectorMirrorAwayFromOrigin", {kAwayFromOrigin}, 0, 1, 0, -1, 1, {1}, Look::Mirrored},
        RenderCase{"VectorShownSideways", {kShownSideways}, 180, 0, 0, -1, 1, {1}, Look::HalfTurned},
        RenderCase{"VectorMirrorShownSideways", {kShownSideways}, 0, 1, 0, -1, 1, {1}, Look::Mirrored},
        RenderCase{"RasterSame", {kLetter}, 0, 0, 1, -1, 1, {1}, Look::Same},
        RenderCase{"RasterHalfTurn", {kLetter, kLetter}, 180, 0, 1, -1, 1, {1, 2}, Look::HalfTurned},
        RenderCase{"RasterMirror", {kLetter}, 0, 1, 1, -1, 1, {1}, Look::Mirrored},
        RenderCase{"RasterMirrorAndHalfTurn", {kLetter}, 180, 1, 1, -1, 1, {1}, Look::HalfTurnedMirrored},
        RenderCase{"RasterMixedSizes", {kLetter, kA5, kA4Landscape}, 180, 0, 1, -1, 1, {1, 2, 3},
                   Look::HalfTurned},
        RenderCase{"RasterEveryThirdPage", Twelve(), 0, 0, 1, 12, 3, {1, 4, 7, 10}, Look::Same},
        RenderCase{"RasterAwayFromOrigin", {kAwayFromOrigin}, 180, 0, 1, -1, 1, {1}, Look::HalfTurned},
        RenderCase{"RasterShownSideways", {kShownSideways}, 180, 0, 1, -1, 1, {1}, Look::HalfTurned},
        RenderCase{"RasterMirrorShownSideways", {kShownSideways}, 0, 1, 1, -1, 1, {1}, Look::Mirrored},
        RenderCase{"RasterGreyAndColour", {kBlueMarker, kLetter, kGreyMarker}, 180, 0, 1, -1, 1, {1, 2, 3},
                   Look::HalfTurned},
        RenderCase{"RasterTwoBands", {kTwoBands}, 180, 0, 1, -1, 1, {1}, Look::HalfTurned}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Passes, PagesLookAsAsked)
{
    const RenderCase& c = GetParam();
    Open(MakePdf(c.pages));
    info.rotation = c.rotation;
    info.mirror = c.mirror;
    info.raster = c.raster != 0;
    if (c.lastPage >= 0) info.lastPage = c.lastPage;
    info.pageStep = c.pageStep;
    ASSERT_EQ(Run(), 1);
    ExpectPages(c.sourcePages, c.look);
}

// Black and white when every pixel is, grey unless a pixel has colour; pages
// painted in bands stay RGB.
TEST_F(Rendering, RasterImagesHaveEachPagesPixelSizeAndColours)
{
    Open(MakePdf({kLetter, kA5, kA4Landscape, kBlueMarker, kHalfPointWide,
                  PdfPage{0, 0, 595, 842, 0, ""}, kGreyMarker, kTwoBands}));
    info.raster = true;
    ASSERT_EQ(Run(), 1);
    const std::string bw = "/DeviceGray 1", grey = "/DeviceGray 8", rgb = "/DeviceRGB 8";
    std::vector<std::tuple<int, int, std::string>> want = {
        {2550, 3300, bw},   {1750, 2479, bw},   {3508, 2479, bw},   {2550, 3300, rgb},
        {2481, 3508, bw},   {2479, 3508, bw},   {2550, 3300, grey}, {5100, 6600, rgb}};
    EXPECT_EQ(Images(), want);
}

TEST_F(Rendering, HalfPointWidthTurnsOnWholePoints)
{
    Open(MakePdf({kHalfPointWide}));
    info.rotation = 180;
    ASSERT_EQ(Run(), 1);
    QPDF out;
    out.processFile(output.c_str());
    QPDFObjectHandle page = out.getAllPages().at(0);
    EXPECT_EQ(page.getKey("/Contents").getStreamData()->getSize(), 0u + std::string("q -1 0 0 -1 595 842 cm /Fm0 Do Q\n").size());
    std::shared_ptr<Buffer> content = page.getKey("/Contents").getStreamData();
    EXPECT_EQ(std::string(reinterpret_cast<char*>(content->getBuffer()), content->getSize()),
              "q -1 0 0 -1 595 842 cm /Fm0 Do Q\n");
    EXPECT_EQ(Box(page), (std::vector<double>{0, 0, 595.5, 842}));
}

TEST_F(Rendering, VectorContentCarriedByteForByte)
{
    Open(MakePdf(10));
    info.rotation = 180;
    ASSERT_EQ(Run(), 1);
    QPDF in, out;
    in.processFile(source.c_str());
    out.processFile(output.c_str());
    std::vector<QPDFObjectHandle> inPages = in.getAllPages(), outPages = out.getAllPages();
    ASSERT_EQ(outPages.size(), 10u);
    std::set<QPDFObjGen> fonts, contents;
    for (size_t i = 0; i < outPages.size(); ++i) {
        QPDFObjectHandle form = outPages[i].getKey("/Resources").getKey("/XObject").getKey("/Fm0");
        ASSERT_TRUE(form.isStream());
        EXPECT_EQ(form.getDict().getKey("/Subtype").getName(), "/Form");
        std::shared_ptr<Buffer> a = form.getRawStreamData();
        std::shared_ptr<Buffer> b = inPages[i].getKey("/Contents").getRawStreamData();
        EXPECT_EQ(std::string(reinterpret_cast<char*>(a->getBuffer()), a->getSize()),
                  std::string(reinterpret_cast<char*>(b->getBuffer()), b->getSize()));
        fonts.insert(form.getDict().getKey("/Resources").getKey("/Font").getKey("/F1").getObjGen());
        contents.insert(outPages[i].getKey("/Contents").getObjGen());
    }
    EXPECT_EQ(fonts.size(), 1u);     // one font for all pages
    EXPECT_EQ(contents.size(), 1u);  // same size, same placement: one content stream
}

// Pages the simple path does not cover: several content streams, a stream
// shared by two pages, a printable annotation.
TEST_F(Rendering, VectorPagesOfOtherMakes)
{
    WriteFile(data.file("plain.pdf"), MakePdf(3));
    QPDF pdf;
    pdf.processFile(data.file("plain.pdf").c_str());
    std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    QPDFPageObjectHelper(pages[0]).addPageContents(
        QPDFObjectHandle::newStream(&pdf, "q 0 0 1 rg 400 500 80 80 re f Q\n"), false);
    pages[1].replaceKey("/Contents", pages[2].getKey("/Contents"));
    QPDFObjectHandle appearance = QPDFObjectHandle::newStream(&pdf, "1 0 0 rg 0 0 60 30 re f\n");
    appearance.getDict().replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 60 30]"));
    appearance.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
    QPDFObjectHandle annot = QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Square /Rect [450 100 510 130] /F 4 >>");
    QPDFObjectHandle ap = QPDFObjectHandle::newDictionary();
    ap.replaceKey("/N", appearance);
    annot.replaceKey("/AP", ap);
    pages[2].replaceKey("/Annots", QPDFObjectHandle::newArray({pdf.makeIndirectObject(annot)}));
    QPDFWriter writer(pdf);
    writer.setOutputMemory();
    writer.write();
    std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();

    Open(std::string(reinterpret_cast<char*>(written->getBuffer()), written->getSize()));
    info.rotation = 180;
    ASSERT_EQ(Run(), 1);
    ExpectPages({1, 2, 3}, Look::HalfTurned);
}

TEST_F(Rendering, NoPagesToEmitGivesAnEmptyDocument)
{
    Open(MakePdf(3));
    info.rotation = 180;
    info.lastPage = 0;
    ASSERT_EQ(Run(), 1);
    QPDF out;
    out.processFile(output.c_str());
    EXPECT_TRUE(out.getAllPages().empty());
}

struct FailureCase {
    const char* name;
    int raster;
    std::function<void(EditPlan&)> change;
    const char* message;
    bool withoutDocument = false;
};

class Failures : public Rendering, public ::testing::WithParamInterface<FailureCase> {};

INSTANTIATE_TEST_SUITE_P(
    Pages, Failures,
    ::testing::Values(
        FailureCase{"VectorPageBeyondTheEnd", 0, [](EditPlan& i) { i.lastPage = 4; }, "page 4 does not exist"},
        FailureCase{"RasterPageBeyondTheEnd", 1, [](EditPlan& i) { i.lastPage = 4; }, "page 4 does not exist"},
        FailureCase{"NoDocument", 0, [](EditPlan&) {}, "could not be opened", true},
        FailureCase{"RasterQuarterTurn", 1, [](EditPlan& i) { i.rotation = 90; }, "cannot be rasterised"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Failures, AreReportedAndTheDocumentIsSentUnchanged)
{
    Open(MakePdf(3));
    info.rotation = 180;
    info.raster = GetParam().raster != 0;
    GetParam().change(info);
    if (GetParam().withoutDocument) document.reset();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Run(), 0);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(GetParam().message), std::string::npos) << err;
    EXPECT_NE(err.find("the document is sent unchanged"), std::string::npos) << err;
}

}  // namespace
