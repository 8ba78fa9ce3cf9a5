// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDF.hh>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pages/geometry.hpp"
#include "pages/kept_streams.hpp"
#include "pages/raster_colours.hpp"

namespace pdftopjl {

// Builds a PDF of image pages with qpdf and writes it when finished.  Each
// page: a black-and-white (1 bit), grey or RGB image (8 bits a component),
// or one of a palette's colours (1, 2, 4 or 8 bits a pixel), Flate or Group
// 4, drawn over a rectangle of a page of its own media box, then any
// stencils of one colour each over rectangles of their own.  The compressed
// images wait in KeptStreams until qpdf writes them, so that memory stays at
// one image however many or however large the pages are.
class RasterPdfWriter {
public:
    explicit RasterPdfWriter(FILE* file);
    RasterPdfWriter(const RasterPdfWriter&) = delete;
    RasterPdfWriter& operator=(const RasterPdfWriter&) = delete;

    // Each returns false once anything failed.
    bool beginImage(int width, int height, const ImageFormat& format);
    bool writeImageData(const void* compressed, size_t size);
    bool endImage();
    // The images since the last page, drawn in order, each over its rectangle.
    bool addPage(const PageRect& mediaBox, int rotate, double userUnit, const std::vector<PageRect>& imageRects);
    bool finish();

    int pageCount() const { return pages_; }
    // The errno of the first failed write (of the file, or of the images
    // kept for it), 0 when none failed.
    int writeError() const { return error_; }

private:
    FILE* file_;
    bool ok_ = true;
    int error_ = 0;
    int pages_ = 0;
    QPDF pdf_;
    std::shared_ptr<KeptStreams> kept_;
    bool inImage_ = false;
    struct Image {
        QPDFObjectHandle stream;
        std::string paint;  // a stencil's colour operator, else empty
    };
    std::vector<Image> images_;
    // Pages of the same size with stencils in the same places (a letterhead,
    // a report's heading box) share one content stream.
    std::map<std::string, QPDFObjectHandle> contents_;
    QPDFObjectHandle contentStream(const std::string& content);
};

// Compresses an image row by row into the pieces of its Flate stream, handed
// to `sink` as they come: memory stays at one row and the compressor's window.
class ImageDeflater {
public:
    using Sink = std::function<bool(const unsigned char* data, size_t size)>;
    explicit ImageDeflater(Sink sink);
    ~ImageDeflater();
    ImageDeflater(const ImageDeflater&) = delete;
    ImageDeflater& operator=(const ImageDeflater&) = delete;

    // Each returns false once compressing or the sink failed.
    bool begin(size_t rowBytes);
    bool writeRow(const unsigned char* row);
    bool finish();

private:
    bool pump(int flush);

    Sink sink_;
    z_stream zs_{};
    bool deflating_ = false;
    std::vector<unsigned char> buffer_;
    size_t rowBytes_ = 0;
};

}  // namespace pdftopjl
