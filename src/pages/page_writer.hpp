#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdio>
#include <memory>

#include "pages/document.hpp"
#include "pages/edit_decision.hpp"

namespace pdftopjl {

// Where the rewritten pages go: a new PDF written into a file the caller
// owns.  Each step returns false after a message once the document cannot be
// written faithfully.
class PageWriter {
public:
    virtual ~PageWriter() = default;
    virtual bool begin() = 0;
    // Page n of the source, whose geometry has been checked.
    virtual bool addPage(int32_t n, QPDFObjectHandle page, const PageGeometry& geometry) = 0;
    virtual bool finish() = 0;
};

// "Page re-rendering failed: <reason>; the document is sent unchanged"
void ReportRenderFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace pdftopjl
