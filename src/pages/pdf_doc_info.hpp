#pragma once

#include <cstdint>
#include <memory>

class QPDF;

// The job's PDF document and the page-editing decisions taken on it.
struct PdfDocInfo {
    std::shared_ptr<QPDF> document;        // the intake document, when opened
    std::shared_ptr<void> outputContext;   // the re-rendering target, while it runs
    char optionPrefix[8];
    int32_t pageCount;
    int32_t lastPage;
    int32_t pageStep;
    int32_t rotation;
    int32_t mirror;
    int32_t rasterMode;
};

extern PdfDocInfo PDFDocInfo;

// Opens the intake file into the record.  0 on success (also for an empty
// path), -1 when the document cannot be opened.
int pdfDocInfo_init(const char* path, PdfDocInfo* info);

// 1 when the pages must be rewritten, 0 when not, -1 when no decision could be
// taken (no options, no PPD).
int CheckIfNeedEdit(char* argv[], PdfDocInfo* info, int preFiltered);
