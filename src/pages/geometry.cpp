#include "pages/geometry.hpp"

#include <cmath>
#include <cstdio>

#include "pages/render.hpp"

void PageMatrix::concat(const PageMatrix& m)
{
    PageMatrix r;
    r.a = m.a * a + m.b * c;
    r.b = m.a * b + m.b * d;
    r.c = m.c * a + m.d * c;
    r.d = m.c * b + m.d * d;
    r.e = m.e * a + m.f * c + e;
    r.f = m.e * b + m.f * d + f;
    *this = r;
}

void PageMatrix::translate(double tx, double ty)
{
    concat(PageMatrix{1, 0, 0, 1, tx, ty});
}

void PageMatrix::rotate(int degrees)
{
    // Quarter turns exactly: cos(pi) in doubles leaves a residue that would
    // otherwise show up in every cm written.
    double cosine, sine;
    switch (((degrees % 360) + 360) % 360) {
    case 0: cosine = 1, sine = 0; break;
    case 90: cosine = 0, sine = 1; break;
    case 180: cosine = -1, sine = 0; break;
    case 270: cosine = 0, sine = -1; break;
    default: {
        const double radians = degrees * 3.141592653589793 / 180;
        cosine = std::cos(radians);
        sine = std::sin(radians);
    }
    }
    concat(PageMatrix{cosine, sine, -sine, cosine, 0, 0});
}

void PageMatrix::scale(double sx, double sy)
{
    concat(PageMatrix{sx, 0, 0, sy, 0, 0});
}

bool PageMatrix::isIdentity() const
{
    return a == 1 && b == 0 && c == 0 && d == 1 && e == 0 && f == 0;
}

std::string PageMatrix::text() const
{
    return FormatNumber(a) + " " + FormatNumber(b) + " " + FormatNumber(c) + " " +
           FormatNumber(d) + " " + FormatNumber(e) + " " + FormatNumber(f);
}

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

void setContextCTM(const PdfDocInfo* info, PageMatrix* ctm, const PageRect& rect, int pageRotate)
{
    const int a = ((info->rotation % 360) + 360) % 360;
    // Work in the box's own coordinates, so a box away from the origin turns
    // about its own centre; at the origin these two steps do nothing.
    const bool shifted = rect.x != 0 || rect.y != 0;
    if (shifted) ctm->translate(rect.x, rect.y);
    if (a == 180) ctm->translate(std::trunc(rect.w), std::trunc(rect.h));
    ctm->rotate(a);
    if (info->mirror != 0) {
        if (pageRotate == 90 || pageRotate == 270) {
            ctm->translate(0, rect.h);
            ctm->scale(1, -1);
        } else {
            ctm->translate(rect.w, 0);
            ctm->scale(-1, 1);
        }
    }
    if (shifted) ctm->translate(-rect.x, -rect.y);
}
