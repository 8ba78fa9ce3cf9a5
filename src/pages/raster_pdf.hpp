#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "pages/geometry.hpp"

namespace pdftopjl {

// Writes a PDF of image pages straight into a file, one row at a time, so
// that memory stays at one row and the compressor's window however many or
// however large the pages are.  Each page: an RGB image (8 bits a component,
// Flate) drawn over a rectangle of a page of its own media box.
class RasterPdfWriter {
public:
    explicit RasterPdfWriter(FILE* file);
    ~RasterPdfWriter();
    RasterPdfWriter(const RasterPdfWriter&) = delete;
    RasterPdfWriter& operator=(const RasterPdfWriter&) = delete;

    // Each returns false once any write failed.
    bool beginImage(int width, int height);
    bool writeRow(const unsigned char* rgb);  // width x 3 bytes, top row first
    bool endImage();
    bool addPage(const PageRect& mediaBox, int rotate, double userUnit, const PageRect& imageRect);
    bool finish();

    int pageCount() const { return static_cast<int>(pages_.size()); }
    // The errno of the first failed write into the file, 0 when none failed.
    int writeError() const { return error_; }

private:
    bool put(std::string_view text);
    bool put(const void* data, size_t size);
    void start();
    int beginObject();
    bool pump(int flush);

    FILE* file_;
    bool ok_ = true;
    int error_ = 0;
    bool started_ = false;
    uint64_t offset_ = 0;
    std::vector<uint64_t> offsets_;  // by object number - 1
    std::vector<int> pages_;

    z_stream zs_{};
    bool deflating_ = false;
    std::vector<unsigned char> zbuf_;
    uint64_t streamBytes_ = 0;
    size_t rowBytes_ = 0;
    int imageObject_ = 0;
};

}  // namespace pdftopjl
