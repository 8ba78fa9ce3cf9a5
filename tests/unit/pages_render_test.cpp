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
    // bits a sample ("/Indexed base colours bits" for a palette).
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
            QPDFObjectHandle space = image.getKey("/ColorSpace");
            const std::string name =
                space.isArray() ? space.getArrayItem(0).getName() + " " + space.getArrayItem(1).getName() + " " +
                                      std::to_string(space.getArrayItem(2).getIntValueAsInt() + 1)
                                : space.getName();
            images.emplace_back(image.getKey("/Width").getIntValueAsInt(),
                                image.getKey("/Height").getIntValueAsInt(),
                                name + " " + std::to_string(image.getKey("/BitsPerComponent").getIntValueAsInt()));
        }
        return images;
    }

    // The first page's image as any reader takes it: its samples decoded,
    // through its palette, as RGB.
    Picture DecodedImage()
    {
        QPDF out;
        out.processFile(output.c_str());
        QPDFObjectHandle page = out.getAllPages().at(0);
        QPDFObjectHandle xobjects = page.getKey("/Resources").getKey("/XObject");
        QPDFObjectHandle image = xobjects.getKey(*xobjects.getKeys().begin());
        QPDFObjectHandle dict = image.getDict(), space = dict.getKey("/ColorSpace");
        Picture picture;
        picture.width = dict.getKey("/Width").getIntValueAsInt();
        picture.height = dict.getKey("/Height").getIntValueAsInt();
        const int bits = dict.getKey("/BitsPerComponent").getIntValueAsInt();
        const std::string base = space.isArray() ? space.getArrayItem(1).getName() : space.getName();
        const int colours = base == "/DeviceRGB" ? 3 : 1;
        const std::string palette = space.isArray() ? space.getArrayItem(3).getStringValue() : "";
        const int samples = palette.empty() ? colours : 1;  // a pixel's
        std::shared_ptr<Buffer> data = image.getStreamData(qpdf_dl_generalized);
        const size_t rowBytes = (static_cast<size_t>(picture.width) * samples * bits + 7) / 8;
        EXPECT_EQ(data->getSize(), rowBytes * picture.height);
        for (int y = 0; y < picture.height; ++y)
            for (int i = 0; i < picture.width * samples; i += samples) {
                unsigned char colour[3];
                for (int c = 0; c < samples; ++c) {
                    const size_t bit = static_cast<size_t>(i + c) * bits;
                    const unsigned char byte = data->getBuffer()[y * rowBytes + bit / 8];
                    const int v = (byte >> (8 - bits - bit % 8)) & ((1 << bits) - 1);
                    colour[c] = static_cast<unsigned char>(bits == 1 && palette.empty() ? v * 255 : v);
                }
                const size_t entry = colour[0] * colours;
                if (!palette.empty())
                    for (int c = 0; c < colours; ++c) colour[c] = static_cast<unsigned char>(palette.at(entry + c));
                for (int c = 0; c < 3; ++c) picture.rgb.push_back(colour[colours == 3 ? c : 0]);
            }
        return picture;
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

// Each page's own pixel size.
TEST_F(Rendering, RasterImagesHaveEachPagesPixelSize)
{
    Open(MakePdf({kLetter, kA5, kA4Landscape, kHalfPointWide, PdfPage{0, 0, 595, 842, 0, ""}}));
    info.raster = true;
    ASSERT_EQ(Run(), 1);
    const std::string bw = "/DeviceGray 1";
    std::vector<std::tuple<int, int, std::string>> want = {
        {2550, 3300, bw}, {1750, 2479, bw}, {3508, 2479, bw}, {2481, 3508, bw}, {2479, 3508, bw}};
    EXPECT_EQ(Images(), want);
}

// A page whose marker is `count` squares, each of a colour of its own (a
// grey level when `grey`), beside the black text on white.
PdfPage Coloured(PdfPage page, int count, bool grey = false)
{
    std::string marker;
    for (int i = 1; i <= count; ++i) {
        const auto level = [](int byte) { return std::to_string(byte / 255.0) + " "; };
        const std::string colour = grey ? level(10 * i) + level(10 * i) + level(10 * i)
                                        : level(16 * (i % 16) + 8) + level(16 * (i / 16) + 8) + level(128);
        // The last one is the fixture's own square.  On whole pixels: poppler
        // rounds edges halfway between two a pixel apart when it paints in bands.
        marker += i < count ? colour + "rg " + std::to_string(i % 40 * 6) + " " + std::to_string(432 + i / 40 * 6) +
                                  " 5 5 re f "
                            : colour;
    }
    page.marker = marker;
    return page;
}

struct ColourCase {
    const char* name;
    PdfPage page;
    int rotation;
    const char* image;  // as Images() gives it
};

void PrintTo(const ColourCase& c, std::ostream* os) { *os << c.name; }

class Colours : public Rendering, public ::testing::WithParamInterface<ColourCase> {};

// The smallest lossless format a page's colours allow, painted back pixel for
// pixel as poppler painted the page (at 300 dpi, without antialiasing).
INSTANTIATE_TEST_SUITE_P(
    Pages, Colours,
    ::testing::Values(
        ColourCase{"BlackAndWhite", kLetter, 0, "/DeviceGray 1"},
        ColourCase{"TwoColours", PdfPage{0, 0, 612, 792, 0, " ", "1 0 0"}, 180, "/Indexed /DeviceRGB 2 1"},
        ColourCase{"ThreeColours", kBlueMarker, 180, "/Indexed /DeviceRGB 3 2"},
        ColourCase{"SixteenColours", Coloured(kLetter, 14), 0, "/Indexed /DeviceRGB 16 4"},
        ColourCase{"SeventeenColours", Coloured(kLetter, 15), 0, "/Indexed /DeviceRGB 17 8"},
        ColourCase{"TwoHundredFiftySixColours", Coloured(kLetter, 254), 0, "/Indexed /DeviceRGB 256 8"},
        ColourCase{"MoreColours", Coloured(kLetter, 255), 0, "/DeviceRGB 8"},
        ColourCase{"GreyLevels", kGreyMarker, 0, "/Indexed /DeviceGray 3 2"},
        ColourCase{"ManyGreyLevels", Coloured(kLetter, 20, true), 0, "/DeviceGray 8"},
        ColourCase{"BandsInBlackAndWhite", kTwoBands, 180, "/DeviceGray 1"},
        ColourCase{"BandsInColour", PdfPage{0, 0, 1224, 1584, 0, "", "0 0 1"}, 180, "/Indexed /DeviceRGB 3 2"},
        ColourCase{"BandsInMoreColours", Coloured(kTwoBands, 255), 0, "/DeviceRGB 8"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Colours, PagesAreWrittenSmallAndLossless)
{
    const ColourCase& c = GetParam();
    Open(MakePdf({c.page}));
    info.raster = true;
    info.rotation = c.rotation;
    ASSERT_EQ(Run(), 1);
    const std::vector<std::tuple<int, int, std::string>> images = Images();
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(std::get<2>(images[0]), c.image);
    const Picture painted = Paint(source, 0, 300);
    const Picture got = DecodedImage();
    EXPECT_TRUE(got.rgb == (c.rotation == 0 ? painted : HalfTurn(painted)).rgb);
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
