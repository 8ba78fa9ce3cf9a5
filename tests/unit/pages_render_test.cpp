// SPDX-License-Identifier: Apache-2.0
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
#include <iterator>
#include <sstream>
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
    // bits a sample ("/Indexed base colours bits" for a palette), and the
    // stencils drawn over it ("+ n stencils").
    std::vector<std::tuple<int, int, std::string>> Images()
    {
        std::vector<std::tuple<int, int, std::string>> images;
        QPDF out;
        out.processFile(output.c_str());
        for (QPDFObjectHandle page : out.getAllPages()) {
            QPDFObjectHandle xobjects = page.getKey("/Resources").getKey("/XObject");
            QPDFObjectHandle image = xobjects.getKey("/Im0").getDict();
            EXPECT_EQ(image.getKey("/Subtype").getName(), "/Image");
            QPDFObjectHandle space = image.getKey("/ColorSpace");
            std::string name =
                space.isArray() ? space.getArrayItem(0).getName() + " " + space.getArrayItem(1).getName() + " " +
                                      std::to_string(space.getArrayItem(2).getIntValueAsInt() + 1)
                                : space.getName();
            name += " " + std::to_string(image.getKey("/BitsPerComponent").getIntValueAsInt());
            if (image.getKey("/Filter").getName() == "/CCITTFaxDecode") name += " G4";
            const size_t stencils = xobjects.getKeys().size() - 1;
            for (size_t i = 1; i <= stencils; ++i)
                EXPECT_TRUE(xobjects.getKey("/Im" + std::to_string(i)).getDict().getKey("/ImageMask").getBoolValue());
            if (stencils > 0) name += " + " + std::to_string(stencils) + " stencils";
            images.emplace_back(image.getKey("/Width").getIntValueAsInt(), image.getKey("/Height").getIntValueAsInt(),
                                name);
        }
        return images;
    }

    // The first page's images as poppler decodes them (pdftoppm's own
    // pdfimages: PBM, PGM or PPM), the first as RGB through its palette,
    // then each stencil's colour where its samples are 0, over the pixels its
    // rectangle covers.
    Picture DecodedImage()
    {
        const std::string prefix = tmp.file("image");
        RunOptions extract;
        extract.program = "/usr/bin/pdfimages";
        extract.args = {"pdfimages", "-f", "1", "-l", "1", output, prefix};
        EXPECT_EQ(RunProgram(extract).exitCode, 0);
        QPDF out;
        out.processFile(output.c_str());
        QPDFObjectHandle page = out.getAllPages().at(0);
        QPDFObjectHandle xobjects = page.getKey("/Resources").getKey("/XObject");
        // Samples of image `i`: a byte each, or three for PPM.
        const auto samples = [&](size_t i, int* width, int* height) {
            char name[16];
            std::snprintf(name, sizeof name, "-%03zu.", i);
            std::string file;
            for (const std::string& entry : tmp.entries())
                if (entry.rfind("image" + std::string(name), 0) == 0) file = tmp.file(entry);
            std::istringstream in(ReadFile(file));
            std::string magic;
            int maximum = 1;
            in >> magic >> *width >> *height;
            if (magic != "P4") in >> maximum;
            in.get();
            std::string body{std::istreambuf_iterator<char>(in), {}};
            unlink(file.c_str());
            if (magic != "P4") return body;
            std::string bits;  // PBM: a byte a sample, 1 black
            const size_t rowBytes = (static_cast<size_t>(*width) + 7) / 8;
            for (int y = 0; y < *height; ++y)
                for (int x = 0; x < *width; ++x)
                    bits += static_cast<char>((body.at(y * rowBytes + x / 8) >> (7 - x % 8)) & 1);
            return bits;
        };
        QPDFObjectHandle dict = xobjects.getKey("/Im0").getDict(), space = dict.getKey("/ColorSpace");
        Picture picture;
        const std::string base = samples(0, &picture.width, &picture.height);
        const std::string palette = space.isArray() ? space.getArrayItem(3).getStringValue() : "";
        const int colours = space.isArray() && space.getArrayItem(1).getName() == "/DeviceRGB" ? 3 : 1;
        const size_t pixels = static_cast<size_t>(picture.width) * picture.height;
        for (size_t i = 0; i < pixels; ++i) {
            unsigned char colour[3];
            if (base.size() == 3 * pixels) {
                std::memcpy(colour, &base[3 * i], 3);
            } else if (dict.getKey("/BitsPerComponent").getIntValueAsInt() == 1) {
                // PBM's 1 is black: pdfimages turns the bits when a sample 0 is black.
                const bool turned = palette.empty() || palette.substr(0, colours) == std::string(colours, '\0');
                const int sample = turned ? !base[i] : base[i];
                for (int c = 0; c < 3; ++c)
                    colour[c] = palette.empty() ? static_cast<unsigned char>(sample * 255)
                                                : static_cast<unsigned char>(palette.at(sample * colours + c % colours));
            } else {
                colour[0] = colour[1] = colour[2] = static_cast<unsigned char>(base[i]);
            }
            picture.rgb.insert(picture.rgb.end(), colour, colour + 3);
        }
        // Each image's line: q [colour g|rg] w 0 0 h x y cm /ImN Do Q
        std::shared_ptr<Buffer> content = page.getKey("/Contents").getStreamData();
        std::istringstream lines(std::string(reinterpret_cast<char*>(content->getBuffer()), content->getSize()));
        std::vector<double> whole;
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
            EXPECT_GE(w.size(), 11u);
            if (w.size() < 11) break;
            const size_t n = w.size();
            const std::vector<double> rect{std::stod(w[n - 6]), std::stod(w[n - 5]), std::stod(w[n - 10]),
                                           std::stod(w[n - 7])};  // x, y, width, height
            if (whole.empty()) {
                whole = rect;
                continue;
            }
            EXPECT_TRUE(xobjects.getKey(w[n - 3]).getDict().getKey("/ImageMask").getBoolValue());
            int sw = 0, sh = 0;
            const std::string mask = samples(std::stoul(w[n - 3].substr(3)), &sw, &sh);  // as the samples are
            const int x0 = static_cast<int>(std::lround((rect[0] - whole[0]) / whole[2] * picture.width));
            const int y0 = static_cast<int>(
                std::lround((whole[1] + whole[3] - rect[1] - rect[3]) / whole[3] * picture.height));
            unsigned char colour[3];
            for (int c = 0; c < 3; ++c)
                colour[c] = static_cast<unsigned char>(std::lround(std::stod(w[w[2] == "g" ? 1 : 1 + c]) * 255));
            for (int y = 0; y < sh && y0 + y < picture.height; ++y)
                for (int x = 0; x < sw && x0 + x < picture.width; ++x)
                    if (mask.at(static_cast<size_t>(y) * sw + x) == 0)
                        std::memcpy(&picture.rgb[(static_cast<size_t>(y0 + y) * picture.width + x0 + x) * 3], colour, 3);
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
    const std::string bw = "/DeviceGray 1 G4";
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

// The smallest lossless format a page's colours allow (a palette, or one bit
// of its two commonest colours under a stencil for each other colour),
// decoded pixel for pixel as poppler painted the page (at 300 dpi, without
// antialiasing).
INSTANTIATE_TEST_SUITE_P(
    Pages, Colours,
    ::testing::Values(
        ColourCase{"BlackAndWhite", kLetter, 0, "/DeviceGray 1 G4"},
        ColourCase{"WiderThanLongestRun", PdfPage{0, 0, 1224, 300, 0, ""}, 180, "/DeviceGray 1 G4"},
        ColourCase{"TwoColours", PdfPage{0, 0, 612, 792, 0, " ", "1 0 0"}, 180, "/Indexed /DeviceRGB 2 1 G4"},
        ColourCase{"ThreeColours", kBlueMarker, 180, "/Indexed /DeviceRGB 2 1 G4 + 1 stencils"},
        ColourCase{"BlackBandAndBlueSquare", PdfPage{0, 0, 612, 792, 0, "", "0 g 0 600 612 100 re f 0 0 1"}, 180,
                   "/DeviceGray 1 G4 + 1 stencils"},
        ColourCase{"ColoursAllOver", PdfPage{0, 0, 612, 792, 0, "", "0 0 1 rg 0 0 2 2 re f 610 790 2 2 re f 1 0 0"},
                   0, "/Indexed /DeviceRGB 4 2"},
        ColourCase{"SixteenColours", Coloured(kLetter, 14), 0, "/Indexed /DeviceRGB 2 1 G4 + 14 stencils"},
        ColourCase{"SeventeenColours", Coloured(kLetter, 15), 0, "/Indexed /DeviceRGB 17 8"},
        ColourCase{"TwoHundredFiftySixColours", Coloured(kLetter, 254), 0, "/Indexed /DeviceRGB 256 8"},
        ColourCase{"MoreColours", Coloured(kLetter, 255), 0, "/DeviceRGB 8"},
        ColourCase{"GreyLevels", kGreyMarker, 0, "/Indexed /DeviceGray 2 1 G4 + 1 stencils"},
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
