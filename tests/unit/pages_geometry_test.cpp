// SPDX-License-Identifier: Apache-2.0
// Page placement: the transformation each emitted page is drawn through, and
// the page geometry read from the source.
#include <gtest/gtest.h>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <cmath>
#include <string>

#include "pages/document.hpp"
#include "pages/geometry.hpp"

using namespace pdftopjl;

namespace {

struct Point {
    double x, y;
};

Point Apply(const QPDFMatrix& m, Point p)
{
    return {p.x * m.a + p.y * m.c + m.e, p.x * m.b + p.y * m.d + m.f};
}

QPDFMatrix Placement(int rotation, int mirror, PageRect rect, int pageRotate = 0)
{
    return PageTransform(rotation, mirror != 0, rect, pageRotate);
}

struct MatrixCase {
    const char* name;
    int rotation;
    int mirror;
    PageRect rect;
    int pageRotate;
    QPDFMatrix expected;
};

class Transformation : public ::testing::TestWithParam<MatrixCase> {};

INSTANTIATE_TEST_SUITE_P(
    Pages, Transformation,
    ::testing::Values(
        MatrixCase{"None", 0, 0, {0, 0, 612, 792}, 0, {1, 0, 0, 1, 0, 0}},
        MatrixCase{"HalfTurn", 180, 0, {0, 0, 612, 792}, 0, {-1, 0, 0, -1, 612, 792}},
        // The translation is truncated to whole points.
        MatrixCase{"HalfTurnOfHalfPointWidth", 180, 0, {0, 0, 595.5, 842}, 0,
                   {-1, 0, 0, -1, 595, 842}},
        MatrixCase{"FullTurn", 360, 0, {0, 0, 612, 792}, 0, {1, 0, 0, 1, 0, 0}},
        MatrixCase{"TurnAndAHalf", 540, 0, {0, 0, 612, 792}, 0, {-1, 0, 0, -1, 612, 792}},
        MatrixCase{"NegativeHalfTurn", -180, 0, {0, 0, 612, 792}, 0, {-1, 0, 0, -1, 612, 792}},
        MatrixCase{"Mirror", 0, 1, {0, 0, 595.5, 842}, 0, {-1, 0, 0, 1, 595.5, 0}},
        MatrixCase{"MirrorAndHalfTurn", 180, 1, {0, 0, 595.5, 842}, 0, {1, 0, 0, -1, -0.5, 842}},
        // Turned about the box's own centre.
        MatrixCase{"HalfTurnAwayFromOrigin", 180, 0, {100, 200, 612, 792}, 0,
                   {-1, 0, 0, -1, 812, 1192}},
        MatrixCase{"MirrorAwayFromOrigin", 0, 1, {100, 200, 612, 792}, 0, {-1, 0, 0, 1, 812, 0}},
        // Shown turned a quarter, the page's left-right is its own up-down.
        MatrixCase{"MirrorOfQuarterTurnedPage", 0, 1, {0, 0, 612, 792}, 90, {1, 0, 0, -1, 0, 792}},
        MatrixCase{"HalfTurnOfQuarterTurnedPage", 180, 0, {0, 0, 612, 792}, 270,
                   {-1, 0, 0, -1, 612, 792}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Transformation, Matrix)
{
    const MatrixCase& c = GetParam();
    QPDFMatrix m = Placement(c.rotation, c.mirror, c.rect, c.pageRotate);
    EXPECT_DOUBLE_EQ(m.a, c.expected.a);
    EXPECT_DOUBLE_EQ(m.b, c.expected.b);
    EXPECT_DOUBLE_EQ(m.c, c.expected.c);
    EXPECT_DOUBLE_EQ(m.d, c.expected.d);
    EXPECT_DOUBLE_EQ(m.e, c.expected.e);
    EXPECT_DOUBLE_EQ(m.f, c.expected.f);
}

TEST(Transformation, HalfTurnKeepsTheBoxInPlace)
{
    for (PageRect r : {PageRect{0, 0, 612, 792}, PageRect{-300, 50, 400, 300},
                       PageRect{1000, 2000, 200, 100}}) {
        QPDFMatrix m = Placement(180, 0, r);
        Point low = Apply(m, {r.x, r.y}), high = Apply(m, {r.x + r.w, r.y + r.h});
        EXPECT_DOUBLE_EQ(low.x, r.x + r.w);
        EXPECT_DOUBLE_EQ(low.y, r.y + r.h);
        EXPECT_DOUBLE_EQ(high.x, r.x);
        EXPECT_DOUBLE_EQ(high.y, r.y);
    }
}

TEST(Transformation, WrittenAsCmOperands)
{
    EXPECT_EQ(MatrixText(Placement(180, 0, {0, 0, 595.5, 842})), "-1 0 0 -1 595 842");
    EXPECT_TRUE(IsIdentity(Placement(360, 0, {0, 0, 612, 792})));
    EXPECT_EQ(FormatNumber(595.2756), "595.2756");
    EXPECT_EQ(FormatNumber(-0.0), "0");
    EXPECT_EQ(FormatNumber(1e8), "100000000");
    EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
    EXPECT_EQ(FormatNumber(NAN), "0");
}

struct GeometryCase {
    const char* name;
    const char* page;  // the page dictionary
    bool usable;
    PageRect media;
    PageRect crop;
    int rotate;
};

class Geometry : public ::testing::TestWithParam<GeometryCase> {};

INSTANTIATE_TEST_SUITE_P(
    Pages, Geometry,
    ::testing::Values(
        GeometryCase{"Letter", "<< /MediaBox [0 0 612 792] >>", true, {0, 0, 612, 792},
                     {0, 0, 612, 792}, 0},
        GeometryCase{"CornersReversed", "<< /MediaBox [612 792 0 0] >>", true, {0, 0, 612, 792},
                     {0, 0, 612, 792}, 0},
        GeometryCase{"Inherited", "<< /Parent << /MediaBox [10 20 110 220] /Rotate 90 >> >>",
                     true, {10, 20, 100, 200}, {10, 20, 100, 200}, 90},
        GeometryCase{"CropBoxInside", "<< /MediaBox [0 0 612 792] /CropBox [10 10 300 400] >>",
                     true, {0, 0, 612, 792}, {10, 10, 290, 390}, 0},
        GeometryCase{"CropBoxBeyond", "<< /MediaBox [0 0 612 792] /CropBox [-10 -10 900 900] >>",
                     true, {0, 0, 612, 792}, {0, 0, 612, 792}, 0},
        GeometryCase{"CropBoxOutside", "<< /MediaBox [0 0 612 792] /CropBox [700 800 900 900] >>",
                     true, {0, 0, 612, 792}, {0, 0, 612, 792}, 0},
        GeometryCase{"NegativeRotate", "<< /MediaBox [0 0 612 792] /Rotate -90 >>", true,
                     {0, 0, 612, 792}, {0, 0, 612, 792}, 270},
        GeometryCase{"RotateBeyondAFullTurn", "<< /MediaBox [0 0 612 792] /Rotate 450 >>", true,
                     {0, 0, 612, 792}, {0, 0, 612, 792}, 90},
        GeometryCase{"RotateNotAQuarter", "<< /MediaBox [0 0 612 792] /Rotate 45 >>", true,
                     {0, 0, 612, 792}, {0, 0, 612, 792}, 0},
        GeometryCase{"NoMediaBox", "<< /Type /Page >>", false, {}, {}, 0},
        GeometryCase{"ThreeNumbers", "<< /MediaBox [0 0 612] >>", false, {}, {}, 0},
        GeometryCase{"NotNumbers", "<< /MediaBox [0 0 /W 792] >>", false, {}, {}, 0},
        GeometryCase{"ZeroSize", "<< /MediaBox [0 0 0 0] >>", false, {}, {}, 0},
        GeometryCase{"NoHeight", "<< /MediaBox [0 100 612 100] >>", false, {}, {}, 0},
        GeometryCase{"FarOut", "<< /MediaBox [0 0 99999999999 792] >>", false, {}, {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Geometry, ReadFromPage)
{
    const GeometryCase& c = GetParam();
    // Inheritance follows indirect objects, as in a real page tree.
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle page = QPDFObjectHandle::parse(c.page);
    if (page.hasKey("/Parent"))
        page.replaceKey("/Parent", pdf.makeIndirectObject(page.getKey("/Parent")));
    page = pdf.makeIndirectObject(page);
    PageGeometry g;
    std::string why;
    ASSERT_EQ(ReadPageGeometry(page, &g, &why), c.usable) << why;
    if (!c.usable) {
        EXPECT_FALSE(why.empty());
        return;
    }
    for (auto [got, want] : {std::pair{g.media, c.media}, std::pair{g.crop, c.crop}}) {
        EXPECT_DOUBLE_EQ(got.x, want.x);
        EXPECT_DOUBLE_EQ(got.y, want.y);
        EXPECT_DOUBLE_EQ(got.w, want.w);
        EXPECT_DOUBLE_EQ(got.h, want.h);
    }
    EXPECT_EQ(g.rotate, c.rotate);
}

}  // namespace
