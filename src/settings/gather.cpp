#include "settings/gather.hpp"

#include <cstring>
#include <string_view>

#include "encoding/convert.hpp"
#include "job/text.hpp"
#include "settings/docname.hpp"
#include "settings/standard_options.hpp"
#include "settings/ticket_keys.hpp"
#include "settings/tickets.hpp"

namespace pdftopjl {

namespace {

struct NamedValue {
    const char* name;
    int32_t value;
};

const NamedValue kSides[] = {
    {"one-sided", 1}, {"two-sided-long-edge", 2}, {"two-sided-short-edge", 3}};
const NamedValue kDuplexChoices[] = {{"None", 1}, {"DuplexNoTumble", 2}, {"DuplexTumble", 3}};

template <std::size_t N>
int32_t lookup(const NamedValue (&table)[N], const char* name)
{
    if (name == nullptr) return -1;
    for (const NamedValue& entry : table)
        if (std::strcmp(entry.name, name) == 0) return entry.value;
    return -1;
}

// Bypass-tray names by model code, first matching row wins.
struct ModelRow {
    const char* codes[8];
    const char* name;
};

const ModelRow kBypassTrayNames[] = {
    {{"R612", "DR530", "R517", "DR144", "DR276", "DM276", "DM144", nullptr}, "SMH"},
    {{"7140", "6185", "7145", "K4410", "K7145", "K7390", nullptr}, "TRAY5"},
    {{"820T", "9620K", "9675K", "9730K", nullptr}, "SMH"},
    {{"8310K", nullptr}, "TRAY5"},
    {{"9410", "9580", nullptr}, "SMH"},
};

const char* bypassTrayNameForModel(std::string_view model)
{
    for (const ModelRow& row : kBypassTrayNames)
        for (const char* const* code = row.codes; *code != nullptr; ++code)
            if (model.find(*code) != std::string_view::npos) return row.name;
    return "TRAY5";
}

// A PJL token: what MEDIASOURCE= may carry without quotes.
bool pjlToken(const char* value)
{
    if (value == nullptr || *value == '\0' || std::strlen(value) >= 16) return false;
    for (const char* c = value; *c != '\0'; ++c)
        if (!((*c >= 'A' && *c <= 'Z') || (*c >= '0' && *c <= '9') || *c == '_')) return false;
    return true;
}

}  // namespace

void NameHeldJob(const std::string& user, PrintOptions& record)
{
    PrintTypeOption& printType = record.printType;
    if (printType.printType != 2 && printType.printType != 3) return;
    if (printType.userName.empty() && !user.empty()) {
        std::string converted(user.size() + 4, '\0');
        const int length = record.utf8Mode()
                               ? RebuildAsUTF8(user.c_str(), converted.data(), static_cast<int>(converted.size()))
                               : ConvertToPrinterCodeSet(user.c_str(), converted.data(),
                                                         static_cast<int>(converted.size()));
        converted.resize(static_cast<size_t>(length));
        CopyBounded(printType.userName.data, sizeof printType.userName.data, converted);
    }
    if (printType.documentNameType == -1 && !record.documentName.empty()) printType.documentNameType = 1;
}

void ApplyPrinterDefaults(const ppd_file_t* ppd, PrintOptions& record)
{
    ApplyQueueDefaults(ppd, record);
    // The PPD names the bypass tray; older PPDs leave it to the model name.
    if (ppd_attr_t* tray = FindAttributeByPrefix(ppd, "ZRBypassTray"); tray != nullptr && pjlToken(tray->value))
        record.ppd.bypassTrayName.set(tray->value);
    else if (ppd_attr_t* model = FindAttributeByPrefix(ppd, "ModelName"))
        record.ppd.bypassTrayName.set(
            bypassTrayNameForModel(model->value != nullptr ? model->value : ""));
}

int32_t DuplexingFromCupsOptions(const JobOptions& options, const ppd_file_t* ppd)
{
    int32_t duplexing = lookup(kSides, options.get("sides"));
    if (duplexing < 0) duplexing = lookup(kDuplexChoices, options.get("Duplex"));
    if (duplexing < 0) duplexing = lookup(kDuplexChoices, PpdDefaultChoice(ppd, "Duplex"));
    return duplexing;
}

PrintOptions GatherSettings(const JobInputs& job)
{
    PrintOptions record{};
    const ppd_file_t* ppd = job.ppd.get();
    if (ppd_attr_t* attr = FindAttributeByPrefix(ppd, KPPDPrinterLanguageEncodingKey))
        record.ppd.printerLanguageEncoding.set(attr->value != nullptr ? attr->value : "");
    const bool utf8Mode = record.utf8Mode();

    record.documentName = FitDocumentName(job.args.title, utf8Mode,
                                          ReadTicketInteger(job.options, kPrintTypeProductType));
    ReadTickets(job.options, utf8Mode, record);
    if (record.features.duplexing == -1)
        record.features.duplexing = DuplexingFromCupsOptions(job.options, ppd);
    ApplyStandardOptions(job.options, record);
    ApplyOfficeOptions(job.options, ppd, job.ppdIsTheJobsOwn, record);
    NameHeldJob(job.args.user, record);
    ApplyPrinterDefaults(ppd, record);
    return record;
}

}  // namespace pdftopjl
