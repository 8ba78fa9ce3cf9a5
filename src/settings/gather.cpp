#include "settings/gather.hpp"

#include <cstdio>
#include <cstring>

#include "encoding/convert.hpp"
#include "settings/cups_standins.hpp"
#include "settings/docname.hpp"
#include "settings/job_options.hpp"
#include "settings/ppd.hpp"
#include "settings/ticket_keys.hpp"
#include "settings/tickets.hpp"

namespace {

constexpr int kDocumentNameClearSize = 255;

template <std::size_t Width>
void copyAttribute(ppd_file_t* ppd, const char* keyword, FixedText<Width>& field)
{
    ppd_attr_t* attr = ppdFindAttr_ALT(ppd, keyword, nullptr);
    if (attr != nullptr) field.set(attr->value != nullptr ? attr->value : "");
}

bool hasLineBreak(const char* text) { return std::strpbrk(text, "\r\n") != nullptr; }

void fitDocumentName(char* argv[], bool utf8Mode)
{
    std::memset(StdDocumentName, 0, kDocumentNameClearSize);
    std::memset(PTStdDocumentName, 0, kDocumentNameClearSize);
    const char* title = argv[3] != nullptr ? argv[3] : "";
    // A title that would break the header's lines gets no name at all.
    if (hasLineBreak(title)) return;

    ConvertUTF8ToEncoding(title, StdDocumentName, kDocumentNameClearSize);
    if (!utf8Mode) {
        InvalidateStdDocumentNameForProductType(argv, false);
        return;
    }
    ConvertUTF8ToEncoding(title, PTStdDocumentName, kDocumentNameClearSize);
    InvalidateStdDocumentNameForProductType(argv, true);
    InvalidatePrintTypeDocumentNameForProductType(argv);
}

}  // namespace

bool IsUTF8Encoding(const char* printerLanguageEncoding)
{
    return printerLanguageEncoding != nullptr && std::strcmp(printerLanguageEncoding, "UTF-8") == 0;
}

// The fillers decide the mode again from the PPD itself, as the tables they
// pick must match the printer whatever the record holds.
bool PPDIsUTF8Mode()
{
    JobPPD ppd;
    if (!ppd) return false;
    ppd_attr_t* attr = ppdFindAttr_ALT(ppd.get(), KPPDPrinterLanguageEncodingKey, nullptr);
    return attr != nullptr && IsUTF8Encoding(attr->value);
}

void GetPPDOptions(PPDOption* ppd)
{
    JobPPD file;
    if (!file) return;
    copyAttribute(file.get(), KPPDCharEncoding, ppd->charEncoding);
    copyAttribute(file.get(), KPPDCupsFilterKey, ppd->cupsFilter);
    copyAttribute(file.get(), KPPDPrinterLanguageEncodingKey, ppd->printerLanguageEncoding);
}

void PrintTypeGetTicketFromPDE(char* argv[], PrintTypeOption* printType)
{
    std::memset(&stPrintTypeOption, 0, sizeof stPrintTypeOption);
    const TicketData* table = PPDIsUTF8Mode() ? PrintTypeticketDataForUTF8 : PrintTypeticketData;
    GetTicketFromArray(argv, table, PrintTypeTicketDataNum);
    *printType = stPrintTypeOption;
}

void KVRGetTicketFromPDE(char* argv[], KVROption* kvr)
{
    // Fields the chosen tables do not fill reach the record empty.
    std::memset(&stKVROption, 0, sizeof stKVROption);
    if (PPDIsUTF8Mode()) {
        GetTicketFromArray(argv, KVRticketDataCommonForUTF8, KVRTicketDataNumCommonForUTF8);
        GetTicketFromArray(argv, KVRticketDataAdminForUTF8, KVRTicketDataNumAdmin);
    } else {
        GetTicketFromArray(argv, KVRticketDataCommon, KVRTicketDataNumCommon);
        GetTicketFromArray(argv, KVRticketDataAdmin, KVRTicketDataNumAdmin);
    }
    *kvr = stKVROption;
}

void FeaturesGetTicketFromPDE(char* argv[], FeaturesOption* features)
{
    std::memset(&stFeaturesOption, 0, sizeof stFeaturesOption);
    GetTicketFromArray(argv, FeaturesticketData, FeaturesTicketDataNum);
    if (stFeaturesOption.duplexing == -1)
        stFeaturesOption.duplexing = DuplexingFromCupsOptions(argv[5]);
    *features = stFeaturesOption;
}

void GetTicketFromPDE(char* argv[], PrintOptions* options)
{
    PrintTypeGetTicketFromPDE(argv, &options->printType);
    KVRGetTicketFromPDE(argv, &options->kvr);
    FeaturesGetTicketFromPDE(argv, &options->features);
}

int GetPrintOptions(char* argv[], PrintOptions* options)
{
    // One parse of the options and of the PPD serves every step below.
    GatheringScope scope(argv[5]);

    GetPPDOptions(&options->ppd);
    const bool utf8Mode = IsUTF8Encoding(options->ppd.printerLanguageEncoding.c_str());
    fitDocumentName(argv, utf8Mode);

    // Messages from here on reach the log at once.
    setvbuf(stderr, nullptr, _IONBF, 0);

    GetTicketFromPDE(argv, options);
    return 1;
}
