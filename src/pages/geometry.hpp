// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDFMatrix.hh>

#include <cstdint>
#include <string>

namespace pdftopjl {

// A page rectangle in points: origin x, origin y, width, height.
struct PageRect {
    double x = 0, y = 0, w = 0, h = 0;
};

inline bool operator==(const PageRect& a, const PageRect& b)
{
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

// A number as PDF writes it: plain decimal, no exponent, at most six decimals.
std::string FormatNumber(double value);

// "a b c d e f", as the cm operator takes it.
std::string MatrixText(const QPDFMatrix& m);
bool IsIdentity(const QPDFMatrix& m);

// The transformation that turns a page whose rectangle is `rect` by
// `rotation` degrees (a multiple of 180) and mirrors it when asked.  The half
// turn is about the rectangle's centre (its translation truncated to whole
// points, as printers have always received it); the mirror is left to right
// as the page is seen, so for a page shown turned by /Rotate 90 or 270 it
// flips the page's own vertical axis.
QPDFMatrix PageTransform(int32_t rotation, bool mirror, const PageRect& rect, int pageRotate = 0);

// The bitmap size of a page area at 300 dpi, trunc(points x 300 / 72) each
// way.  False, with the reason, when the page is too small or too large to
// rasterise.
bool RasterPixelSize(const PageRect& area, int* width, int* height, std::string* why);

}  // namespace pdftopjl
