#pragma once

#include <string>

// A page rectangle in points: origin x, origin y, width, height.
struct PageRect {
    double x = 0, y = 0, w = 0, h = 0;
};

// An affine transformation in the form the PDF operator cm takes: [a b c d e f],
// points as row vectors.
struct PageMatrix {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;

    // Each concatenates like the cm operator: the new operation applies to
    // points first.
    void concat(const PageMatrix& m);
    void translate(double tx, double ty);
    void rotate(int degrees);
    void scale(double sx, double sy);

    bool isIdentity() const;
    // "a b c d e f"
    std::string text() const;
};

// A number as PDF writes it: plain decimal, no exponent, at most six decimals.
std::string FormatNumber(double value);
