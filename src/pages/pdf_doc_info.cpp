#include "pages/pdf_doc_info.hpp"

#include <cstring>

PdfDocInfo PDFDocInfo{};

int pdfDocInfo_init(const char* /*path*/, PdfDocInfo* info)
{
    info->pageCount = 0;
    info->lastPage = 0;
    info->pageStep = 1;
    info->rotation = 0;
    info->mirror = 0;
    info->rasterMode = 0;
    std::strncpy(info->optionPrefix, "ZR", sizeof info->optionPrefix);
    return 0;
}

int CheckIfNeedEdit(char* /*argv*/[], PdfDocInfo* /*info*/, int /*preFiltered*/)
{
    return 0;
}
