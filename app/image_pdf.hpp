// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDF.hh>
#include <zlib.h>

#include <cstdio>
#include <memory>
#include <string>

#include "pages/kept_streams.hpp"

// PDF made of images, for documents that do not arrive as PDF: raster pages
// (PWG raster, and PNG through PAPPL) one image each, and a JPEG as it is.
// Colour stays as it came.
namespace pdftopjl::app {

using pdftopjl::KeptStreams;

enum class ImageColor { Gray, InvertedGray, Rgb, Cmyk };

// Writes a PDF page by page, each page one image received line by line,
// built with qpdf and written when closed.  Each image is compressed as its
// lines come and waits in an unlinked temporary file until then, so memory
// stays at a line however many pages come.
class RasterPdf {
public:
    RasterPdf();
    ~RasterPdf();
    RasterPdf(const RasterPdf&) = delete;
    RasterPdf& operator=(const RasterPdf&) = delete;

    bool Open(const std::string& path);
    // An image of `width` x `height` pixels, 8 bits per component, filling a
    // page of the given size in points.
    bool StartPage(unsigned width, unsigned height, ImageColor color, double pageWidth,
                   double pageHeight);
    bool WriteLine(const unsigned char* line);
    bool EndPage();
    // Writes the document; false when anything failed.
    bool Close();
    int Pages() const { return pages_; }

private:
    bool deflateOut(const unsigned char* data, size_t size, int flush);

    FILE* out_ = nullptr;
    bool failed_ = false;
    int pages_ = 0;
    std::unique_ptr<QPDF> pdf_;
    std::shared_ptr<KeptStreams> kept_;
    QPDFObjectHandle image_;
    z_stream zip_{};
    bool inPage_ = false;
    size_t lineBytes_ = 0;
    double pageWidth_ = 0, pageHeight_ = 0;
};

// A one-page PDF of the JPEG in `jpeg`, scaled to fit inside the page's
// margins and turned when its orientation differs from the page's.  Empty
// when the data is no JPEG this can read.
std::string JpegToPdf(const std::string& jpeg, double pageWidth, double pageHeight, double margin);

}  // namespace pdftopjl::app
