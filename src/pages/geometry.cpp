// SPDX-License-Identifier: Apache-2.0
#include "pages/geometry.hpp"

#include <cmath>
#include <cstdio>

namespace pdftopjl {

namespace {

constexpr double kDotsPerInch = 300;
constexpr double kPointsPerInch = 72;
// A page larger than this many pixels (A0 at 300 dpi holds 140 million) is
// not rasterised: no printer of this kind takes such a page.
constexpr double kMaxPagePixels = 150e6;

}  // namespace

std::string FormatNumber(double value)
{
    char text[64];
    if (!std::isfinite(value) || std::fabs(value) >= 1e15) return "0";
    std::snprintf(text, sizeof text, "%.6f", value);
    std::string s = text;
    s.erase(s.find_last_not_of('0') + 1);
    if (s.back() == '.') s.pop_back();
    if (s == "-0") s = "0";
    return s;
}

std::string MatrixText(const QPDFMatrix& m)
{
    return FormatNumber(m.a) + " " + FormatNumber(m.b) + " " + FormatNumber(m.c) + " " +
           FormatNumber(m.d) + " " + FormatNumber(m.e) + " " + FormatNumber(m.f);
}

bool IsIdentity(const QPDFMatrix& m)
{
    return m.a == 1 && m.b == 0 && m.c == 0 && m.d == 1 && m.e == 0 && m.f == 0;
}

QPDFMatrix PageTransform(int32_t rotation, bool mirror, const PageRect& rect, int pageRotate)
{
    QPDFMatrix ctm;
    const int a = ((rotation % 360) + 360) % 360;
    // Work in the box's own coordinates, so a box away from the origin turns
    // about its own centre; at the origin these two steps do nothing.
    const bool shifted = rect.x != 0 || rect.y != 0;
    if (shifted) ctm.translate(rect.x, rect.y);
    if (a == 180) ctm.translate(std::trunc(rect.w), std::trunc(rect.h));
    ctm.rotatex90(a);
    if (mirror) {
        if (pageRotate == 90 || pageRotate == 270) {
            ctm.translate(0, rect.h);
            ctm.scale(1, -1);
        } else {
            ctm.translate(rect.w, 0);
            ctm.scale(-1, 1);
        }
    }
    if (shifted) ctm.translate(-rect.x, -rect.y);
    return ctm;
}

bool RasterPixelSize(const PageRect& area, int* width, int* height, std::string* why)
{
    const double w = std::trunc(area.w * kDotsPerInch / kPointsPerInch);
    const double h = std::trunc(area.h * kDotsPerInch / kPointsPerInch);
    if (!(w >= 1 && h >= 1)) {
        *why = "it is too small to rasterise";
        return false;
    }
    if (w * h > kMaxPagePixels) {
        *why = "it is too large to rasterise (" + FormatNumber(area.w) + " x " +
               FormatNumber(area.h) + " points)";
        return false;
    }
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

}  // namespace pdftopjl
