#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pages/geometry.hpp"
#include "pages/pdf_doc_info.hpp"

// Writes the re-rendered document into a new temporary file whose path goes
// into stagedPath (128 bytes).  1 on success, 0 on failure (after a message;
// nothing is left behind and stagedPath is cleared).
int PreProcess(PdfDocInfo* info, char* stagedPath);

// The two passes over the emitted pages (1, 1 + pageStep, ... up to lastPage)
// into info->outputContext.  0 when every page was written, -1 after a message.
int processPDF(PdfDocInfo* info);
int processImage(PdfDocInfo* info);

// Concatenates the record's rotation and mirror for a page whose rectangle is
// `rect` onto `ctm`.  The half turn is about the rectangle's centre (its
// translation truncated to whole points, as printers have always received
// it); the mirror is left to right as the page is seen, so for a page shown
// turned by /Rotate 90 or 270 it flips the page's own vertical axis.
void setContextCTM(const PdfDocInfo* info, PageMatrix* ctm, const PageRect& rect,
                   int pageRotate = 0);

// The page numbers the passes emit: 1, 1 + pageStep, ... while not above
// lastPage.  A number beyond the document's pages ends the list.
std::vector<int32_t> EmittedPages(const PdfDocInfo* info);

// The bitmap size of a page area at 300 dpi, trunc(points x 300 / 72) each
// way.  False, with the reason, when the page is too small or too large to
// rasterise.
bool RasterPixelSize(const PageRect& area, int* width, int* height, std::string* why);
