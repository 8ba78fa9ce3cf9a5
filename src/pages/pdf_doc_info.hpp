#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <cstdint>
#include <memory>

struct SourceDocument;
class OutputContext;

// The job's PDF document and the page-editing decisions taken on it.
struct PdfDocInfo {
    std::shared_ptr<SourceDocument> document;      // the intake document, when opened
    std::shared_ptr<OutputContext> outputContext;  // the re-rendering target, while it runs
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

// The decision rules, run in this order by CheckIfNeedEdit.  Each returns 1
// when it fired.
int checkNumPages(PdfDocInfo* info, int numOptions, cups_option_t* options, int preFiltered);
int checkPageOrientation(PdfDocInfo* info, int numOptions, cups_option_t* options, ppd_file_t* ppd);
int checkMSIOrientation(PdfDocInfo* info, int numOptions, cups_option_t* options);
int checkTurnPage(PdfDocInfo* info, int numOptions, cups_option_t* options);
int checkRasterMode(PdfDocInfo* info, int numOptions, cups_option_t* options);
