// SPDX-License-Identifier: Apache-2.0
#include "pages/document.hpp"

#include <fcntl.h>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace pdftopjl {

namespace {

// Far beyond any page (PDF itself stops at 14,400 units), near enough to keep
// every coordinate exact in the numbers written.
constexpr double kMaxCoordinate = 1e9;

// A rectangle of four finite numbers, normalised; false otherwise.
bool readRectangle(QPDFObjectHandle box, PageRect* rect)
{
    if (!box.isArray() || box.getArrayNItems() != 4) return false;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = box.getArrayItem(i);
        if (!item.isNumber()) return false;
        v[i] = item.getNumericValue();
        if (!std::isfinite(v[i]) || std::fabs(v[i]) > kMaxCoordinate) return false;
    }
    rect->x = std::min(v[0], v[2]);
    rect->y = std::min(v[1], v[3]);
    rect->w = std::fabs(v[2] - v[0]);
    rect->h = std::fabs(v[3] - v[1]);
    return true;
}

}  // namespace

MappedFile::~MappedFile()
{
    if (data_ != nullptr) munmap(data_, size_);
}

bool MappedFile::map(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        void* at = mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (at != MAP_FAILED) {
            data_ = static_cast<char*>(at);
            size_ = static_cast<size_t>(st.st_size);
        }
    }
    return data_ != nullptr;
}

void OpenSourceDocument(SourceDocument* document, int fd, const std::string& name)
{
    document->name = name;
    document->fd = fd;
    // Warnings go out through the output channel, if at all.
    document->pdf.setSuppressWarnings(true);
    if (document->file.map(fd)) {
        document->pdf.processMemoryFile(name.c_str(), document->file.data(), document->file.size());
    } else {
        // Read through a descriptor of its own, from the start.
        const int own = fcntl(fd, F_DUPFD_CLOEXEC, 0);
        FILE* file = own >= 0 ? fdopen(own, "rb") : nullptr;
        if (file == nullptr) {
            if (own >= 0) close(own);
            throw std::runtime_error(name + ": cannot read the document");
        }
        std::rewind(file);
        document->pdf.processFile(name.c_str(), file, /*close_file=*/true);
    }
    document->pages = document->pdf.getAllPages();
    if (document->pdf.anyWarnings()) document->damage = document->pdf.getWarnings()[0].what();
}

bool ReadPageGeometry(QPDFObjectHandle page, PageGeometry* geometry, std::string* why)
{
    QPDFPageObjectHelper helper(page);
    geometry->mediaBox = helper.getAttribute("/MediaBox", false);
    if (!readRectangle(geometry->mediaBox, &geometry->media)) {
        *why = "it has no usable media box";
        return false;
    }
    const PageRect& m = geometry->media;
    if (!(m.w > 0 && m.h > 0)) {
        *why = "its media box has no area";
        return false;
    }

    // Viewers show the crop box's part of the media box.
    geometry->crop = m;
    PageRect c;
    if (readRectangle(helper.getAttribute("/CropBox", false), &c)) {
        const double x0 = std::max(c.x, m.x), y0 = std::max(c.y, m.y);
        const double x1 = std::min(c.x + c.w, m.x + m.w), y1 = std::min(c.y + c.h, m.y + m.h);
        if (x1 > x0 && y1 > y0) geometry->crop = PageRect{x0, y0, x1 - x0, y1 - y0};
    }

    geometry->rotate = 0;
    QPDFObjectHandle rotate = helper.getAttribute("/Rotate", false);
    if (rotate.isInteger()) {
        const long long r = ((rotate.getIntValue() % 360) + 360) % 360;
        if (r % 90 == 0) geometry->rotate = static_cast<int>(r);
    }

    geometry->userUnit = 0;
    QPDFObjectHandle unit = page.getKey("/UserUnit");
    if (unit.isNumber()) {
        const double u = unit.getNumericValue();
        if (std::isfinite(u) && u > 0 && u != 1) geometry->userUnit = u;
    }
    return true;
}

}  // namespace pdftopjl
