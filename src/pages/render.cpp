#include "pages/render.hpp"

#include <cups/cups.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "driver/output.hpp"
#include "driver/tempfiles.hpp"
#include "pages/output_context.hpp"
#include "pages/source_document.hpp"

namespace {

constexpr int kStagedPathBytes = 128;

struct CupsFileCloser {
    void operator()(cups_file_t* file) const { cupsFileClose(file); }
};

}  // namespace

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

    std::memset(stagedPath, 0, kStagedPathBytes);
    std::unique_ptr<cups_file_t, CupsFileCloser> temp(cupsTempFile2(stagedPath, kStagedPathBytes));
    if (!temp) {
        ReportRenderFailure("cannot create a temporary file: %s", std::strerror(errno));
        std::memset(stagedPath, 0, kStagedPathBytes);
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
        std::memset(stagedPath, 0, kStagedPathBytes);
        return 0;
    }
    // The caller owns the new file from here on.
    ForgetTempFile(stagedPath);
    return 1;
}
