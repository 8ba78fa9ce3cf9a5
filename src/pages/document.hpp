// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>

#include <string>
#include <vector>

#include "pages/geometry.hpp"

namespace pdftopjl {

// A file mapped into memory, read-only, for as long as it lives.
class MappedFile {
public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    // False when the file cannot be mapped (an empty file among others).
    bool map(int fd);
    const char* data() const { return data_; }
    size_t size() const { return size_; }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
};

// The intake document, opened once for the edit decision and the rewrite,
// from the descriptor of its staging file (which stays the caller's).
struct SourceDocument {
    std::string name;  // for messages
    int fd = -1;
    // qpdf reads the mapping: its file reader asks the system for the
    // position at every token, which costs more than the rest of the parse.
    MappedFile file;  // declared before pdf, so it outlives it
    QPDF pdf;
    std::vector<QPDFObjectHandle> pages;
    // The first warning qpdf gave while opening: the file is damaged and was
    // reconstructed, so its pages are not trusted for re-rendering.
    std::string damage;
};

// Opens the file behind `fd` into document->pdf, with warnings kept, not
// printed, and the first of them noted as damage.  Throws what qpdf throws.
void OpenSourceDocument(SourceDocument* document, int fd, const std::string& name);

// What a page needs to be drawn again on a page of its own size.
struct PageGeometry {
    QPDFObjectHandle mediaBox;  // the page's own /MediaBox array
    PageRect media;          // normalised media box
    PageRect crop;           // crop box within the media box (the media box when absent)
    int rotate = 0;          // /Rotate as viewers apply it: 0, 90, 180 or 270
    double userUnit = 0;     // /UserUnit, 0 when absent
};

// Reads a page's geometry.  False, with the reason, when its media box is
// missing or unusable (not four finite numbers, or no area).
bool ReadPageGeometry(QPDFObjectHandle page, PageGeometry* geometry, std::string* why);

}  // namespace pdftopjl
