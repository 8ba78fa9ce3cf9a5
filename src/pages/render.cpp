#include "pages/render.hpp"

#include <cups/cups.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/output.hpp"
#include "driver/staging.hpp"
#include "driver/tempfiles.hpp"
#include "pages/output_context.hpp"
#include "pages/source_document.hpp"

namespace {

struct CupsFileCloser {
    void operator()(cups_file_t* file) const { cupsFileClose(file); }
};

// Every page the pass would stumble on is found before a page is painted
// (the vector pass costs too little to be worth a look ahead at each page).
bool checkEmittedPages(const PdfDocInfo* info)
{
    const SourceDocument& source = *info->document;
    for (int32_t n : EmittedPages(info)) {
        if (n > static_cast<int64_t>(source.pages.size())) {
            ReportRenderFailure("page %d does not exist", n);
            return false;
        }
        if (!info->rasterMode) continue;
        PageGeometry geometry;
        std::string why;
        int width, height;
        if (!ReadPageGeometry(source.pages[n - 1], &geometry, &why) ||
            !RasterPixelSize(geometry.crop, &width, &height, &why)) {
            ReportRenderFailure("page %d: %s", n, why.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace

std::vector<int32_t> EmittedPages(const PdfDocInfo* info)
{
    std::vector<int32_t> pages;
    const int64_t step = std::max<int64_t>(1, info->pageStep);
    for (int64_t n = 1; n <= info->lastPage; n += step) {
        pages.push_back(static_cast<int32_t>(n));
        if (n > info->pageCount) break;
    }
    return pages;
}

void ReportRenderFailure(const char* format, ...)
{
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    Utlfputs(("Page re-rendering failed: " + std::string(reason) +
              "; the document is sent unchanged\n")
                 .c_str(),
             stderr);
}

int PreProcess(PdfDocInfo* info, char* stagedPath)
{
    // Without pages of its own to draw, a rewrite would replace the document
    // with an empty one.
    if (!info->document) {
        ReportRenderFailure("the document could not be opened");
        return 0;
    }
    if (!info->document->damage.empty()) {
        ReportRenderFailure("the document is damaged (%s)", info->document->damage.c_str());
        return 0;
    }
    if (!checkEmittedPages(info)) return 0;

    std::memset(stagedPath, 0, kStagedPathSize);
    std::unique_ptr<cups_file_t, CupsFileCloser> temp(cupsTempFile2(stagedPath, kStagedPathSize));
    if (!temp) {
        ReportRenderFailure("cannot create a temporary file: %s", std::strerror(errno));
        std::memset(stagedPath, 0, kStagedPathSize);
        return 0;
    }
    RegisterTempFile(stagedPath);

    bool ok = false;
    int fd = dup(cupsFileNumber(temp.get()));
    FILE* file = fd >= 0 ? fdopen(fd, "wb") : nullptr;
    if (file == nullptr) {
        ReportRenderFailure("cannot write the temporary file: %s", std::strerror(errno));
        if (fd >= 0) close(fd);
    } else {
        info->outputContext = info->rasterMode ? MakeRasterOutput(file)
                                               : MakeVectorOutput(file, *info->document);
        const int pass = info->rasterMode ? processImage(info) : processPDF(info);
        ok = pass == 0 && !CancelJob && info->outputContext->close();
        info->outputContext.reset();
        if (std::fclose(file) != 0 && ok) {
            ReportRenderFailure("cannot write the temporary file: %s", std::strerror(errno));
            ok = false;
        }
    }
    temp.reset();

    if (!ok) {
        RemoveTempFile(stagedPath);
        std::memset(stagedPath, 0, kStagedPathSize);
        return 0;
    }
    // Stays registered: the body copy removes it, or the job's end on failure.
    return 1;
}
