#include "pages/pdf_doc_info.hpp"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "driver/output.hpp"
#include "pages/source_document.hpp"
#include "settings/decimal.hpp"
#include "settings/job_options.hpp"
#include "settings/ppd.hpp"

PdfDocInfo PDFDocInfo{};

namespace {

constexpr char kCopiesOption[] = "com.apple.print.PrintSettings.PMCopies..n.";
constexpr char kTotalSidesOption[] = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.";
constexpr char kPageSetOption[] = "page-set";
constexpr char kCollateOption[] = "Collate";
constexpr char kOrientationOption[] = "orientation-requested";
constexpr char kLandscapeOrientationKey[] = "LandscapeOrientation";
constexpr size_t kOptionNameSize = 255;

bool equals(const char* value, const char* expected)
{
    return value != nullptr && std::strcmp(value, expected) == 0;
}

// A vendor option: the record's prefix followed by the suffix.
const char* vendorOption(const PdfDocInfo* info, const char* suffix, int numOptions,
                         cups_option_t* options)
{
    char name[kOptionNameSize];
    std::snprintf(name, sizeof name, "%.*s%s",
                  static_cast<int>(strnlen(info->optionPrefix, sizeof info->optionPrefix)),
                  info->optionPrefix, suffix);
    return cupsGetOption(name, numOptions, options);
}

int32_t toInt32(int64_t v)
{
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

void addHalfTurn(PdfDocInfo* info)
{
    // Only three rules add to it, so it never nears the limit; hold it anyway.
    if (info->rotation <= INT32_MAX - 180) info->rotation += 180;
}

}  // namespace

int pdfDocInfo_init(const char* path, PdfDocInfo* info)
{
    info->pageCount = 0;
    info->lastPage = 0;
    info->pageStep = 1;
    info->rotation = 0;
    info->mirror = 0;
    info->rasterMode = 0;

    if (path != nullptr && path[0] != '\0') {
        if (std::strlen(path) >= PATH_MAX) {
            Utlfputs("CFURLCreateFromFileSystemRepresentation error\n", stderr);
            return -1;
        }
        auto document = std::make_shared<SourceDocument>();
        try {
            OpenSourceDocument(document.get(), path);
        } catch (const std::exception& e) {
            info->document.reset();
            Utlfputs("CGPDFDocumentCreateWithURL error\n", stderr);
            Utlfputs(("The document cannot be read as PDF: " + std::string(e.what()) + "\n").c_str(),
                     stderr);
            return -1;
        }
        if (document->pdf.anyWarnings()) document->damage = document->pdf.getWarnings()[0].what();
        info->document = std::move(document);
        info->pageCount = toInt32(static_cast<int64_t>(info->document->pages.size()));
        info->lastPage = info->pageCount;
    }

    std::memset(info->optionPrefix, 0, sizeof info->optionPrefix);
    std::strncpy(info->optionPrefix, "ZR", sizeof info->optionPrefix - 1);
    return 0;
}

int CheckIfNeedEdit(char* argv[], PdfDocInfo* info, int preFiltered)
{
    JobOptions options(argv[5]);
    if (options.count() <= 0) return -1;
    PpdHandle ppd = OpenJobPPD();
    if (!ppd) return -1;

    // Every rule runs, whatever the others said.
    int fired = 0;
    fired |= checkNumPages(info, options.count(), options.list(), preFiltered);
    fired |= checkPageOrientation(info, options.count(), options.list(), ppd.get());
    fired |= checkMSIOrientation(info, options.count(), options.list());
    fired |= checkTurnPage(info, options.count(), options.list());
    fired |= checkRasterMode(info, options.count(), options.list());
    return fired ? 1 : 0;
}

// The intake file may hold every copy (the pre-filter writes them out); keep
// the pages of one copy and let the printer make the copies.
int checkNumPages(PdfDocInfo* info, int numOptions, cups_option_t* options, int preFiltered)
{
    const char* copiesText = cupsGetOption(kCopiesOption, numOptions, options);
    if (copiesText == nullptr) return 0;
    const int64_t copies = ParseDecimalInt32(copiesText);
    if (copies < 2) return 0;

    // 64-bit: pages times copies must not wrap.
    const int64_t pages = info->pageCount;
    int64_t totalSides;
    if (const char* sides = cupsGetOption(kTotalSidesOption, numOptions, options))
        totalSides = ParseDecimalInt32(sides);
    else
        totalSides = preFiltered ? pages / copies : pages * copies;

    const char* pageSet = cupsGetOption(kPageSetOption, numOptions, options);
    if (equals(pageSet, "odd"))
        info->lastPage = toInt32(totalSides / 2 + totalSides % 2);
    else if (equals(pageSet, "even"))
        info->lastPage = toInt32(totalSides / 2);

    if (pages <= totalSides / copies) return 0;

    const char* collate = cupsGetOption(kCollateOption, numOptions, options);
    if (collate == nullptr) return 1;
    if (equals(collate, "true")) {
        info->lastPage = toInt32(pages / copies);
        info->pageStep = 1;
    } else {
        info->lastPage = toInt32(pages);
        info->pageStep = toInt32(copies);
    }
    return 1;
}

int checkPageOrientation(PdfDocInfo* info, int numOptions, cups_option_t* options, ppd_file_t* ppd)
{
    const char* orientation = cupsGetOption(kOrientationOption, numOptions, options);
    if (orientation == nullptr) return 0;
    if (equals(orientation, "6")) {
        addHalfTurn(info);
        return 1;
    }
    ppd_attr_t* attr = ppd != nullptr ? ppdFindAttr(ppd, kLandscapeOrientationKey, nullptr) : nullptr;
    if (attr == nullptr) return 0;
    // An attribute without a value counts as any value other than "Minus90".
    const char* turning = equals(attr->value, "Minus90") ? "4" : "5";
    if (!equals(orientation, turning)) return 0;
    addHalfTurn(info);
    return 1;
}

int checkMSIOrientation(PdfDocInfo* info, int numOptions, cups_option_t* options)
{
    const char* slot = vendorOption(info, "InputSlot", numOptions, options);
    const char* edge = vendorOption(info, "MSILeadingEdge", numOptions, options);
    if (!equals(slot, "BypassTray") || !(equals(edge, "LongEdgeR") || equals(edge, "ShortEdgeR")))
        return 0;
    addHalfTurn(info);
    return 1;
}

int checkTurnPage(PdfDocInfo* info, int numOptions, cups_option_t* options)
{
    if (!equals(vendorOption(info, "TurnPage", numOptions, options), "true")) return 0;
    addHalfTurn(info);
    return 1;
}

int checkRasterMode(PdfDocInfo* info, int numOptions, cups_option_t* options)
{
    if (!equals(vendorOption(info, "PDFRasterizedMode", numOptions, options), "true")) return 0;
    info->rasterMode = 1;
    return 1;
}
