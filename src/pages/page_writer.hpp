// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <qpdf/QPDFObjectHandle.hh>

#include <cstdio>
#include <memory>

#include "pages/document.hpp"
#include "pages/edit_decision.hpp"

namespace pdftopjl {

// Where the rewritten pages go: a new PDF written into a file the caller
// owns.  Each step returns false once the document cannot be written: after
// a message when it cannot be written faithfully, without one when the file
// could not be written (writeError()).
class PageWriter {
public:
    virtual ~PageWriter() = default;
    virtual bool begin() = 0;
    // Page n of the source, whose geometry has been checked.
    virtual bool addPage(int32_t n, QPDFObjectHandle page, const PageGeometry& geometry) = 0;
    virtual bool finish() = 0;
    // The errno of the first failed write into the caller's file, 0 when
    // none failed: a full disk, a quota or an I/O error, not the document.
    virtual int writeError() const = 0;
};

// "Page re-rendering failed: <reason>; the document is sent unchanged"
void ReportRenderFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));

// While one lives, ReportRenderFailure keeps its reasons instead, for work
// whose end decides what the job is told: a failure that was the memory
// limit's doing is reported as that, not as what the library made of it.
class HeldRenderFailures {
public:
    HeldRenderFailures();
    ~HeldRenderFailures();  // reports what it holds
    HeldRenderFailures(const HeldRenderFailures&) = delete;
    HeldRenderFailures& operator=(const HeldRenderFailures&) = delete;
    // Forgets what it holds; reasons from now on are reported again.
    void drop();
};

}  // namespace pdftopjl
