#include "job_settings.hpp"

#include "ticket/passcode.hpp"

#include <cctype>
#include <cstring>
#include <memory>
#include <string_view>

namespace pdftopjl::app {

namespace {

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};

const char* colorModeKeyword(pappl_color_mode_t mode)
{
    switch (mode) {
    case PAPPL_COLOR_MODE_MONOCHROME: return "monochrome";
    case PAPPL_COLOR_MODE_AUTO: return "auto";
    case PAPPL_COLOR_MODE_AUTO_MONOCHROME: return "auto-monochrome";
    case PAPPL_COLOR_MODE_BI_LEVEL: return "bi-level";
    case PAPPL_COLOR_MODE_PROCESS_MONOCHROME: return "process-monochrome";
    default: return "color";
    }
}

const char* sidesKeyword(pappl_sides_t sides)
{
    switch (sides) {
    case PAPPL_SIDES_TWO_SIDED_LONG_EDGE: return "two-sided-long-edge";
    case PAPPL_SIDES_TWO_SIDED_SHORT_EDGE: return "two-sided-short-edge";
    default: return "one-sided";
    }
}

const char* scalingKeyword(pappl_scaling_t scaling)
{
    switch (scaling) {
    case PAPPL_SCALING_AUTO_FIT: return "auto-fit";
    case PAPPL_SCALING_FILL: return "fill";
    case PAPPL_SCALING_FIT: return "fit";
    case PAPPL_SCALING_NONE: return "none";
    default: return "auto";
    }
}

std::string text(ipp_attribute_t* attr)
{
    const char* value = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
    return value != nullptr ? value : "";
}

// The job's value of a vendor attribute, else the printer's default, as text.
std::string vendorValue(pappl_job_t* job, ipp_t* printerAttrs, const char* name)
{
    ipp_attribute_t* attr = papplJobGetAttribute(job, name);
    if (attr == nullptr)
        attr = ippFindAttribute(printerAttrs, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO);
    if (attr == nullptr) return "";
    char value[256];
    ippAttributeString(attr, value, sizeof value);
    return value;
}

const char* ppdChoice(std::span<const VendorKeyword> table, const std::string& keyword)
{
    for (const VendorKeyword& entry : table)
        if (keyword == entry.ipp) return entry.ppd;
    return nullptr;
}

// What the job asked of the paper: size, tray and type, each empty when not asked.
struct MediaRequest {
    std::string size, source, type;
};

MediaRequest mediaRequest(pappl_job_t* job)
{
    MediaRequest request;
    if (ipp_attribute_t* attr = papplJobGetAttribute(job, "media-col")) {
        ipp_t* col = ippGetCollection(attr, 0);
        if (ipp_attribute_t* name = ippFindAttribute(col, "media-size-name", IPP_TAG_ZERO)) {
            request.size = text(name);
        } else if (ipp_attribute_t* size = ippFindAttribute(col, "media-size", IPP_TAG_BEGIN_COLLECTION)) {
            ipp_t* dims = ippGetCollection(size, 0);
            const int x = ippGetInteger(ippFindAttribute(dims, "x-dimension", IPP_TAG_INTEGER), 0);
            const int y = ippGetInteger(ippFindAttribute(dims, "y-dimension", IPP_TAG_INTEGER), 0);
            if (pwg_media_t* pwg = pwgMediaForSize(x, y)) request.size = pwg->pwg;
        }
        request.source = text(ippFindAttribute(col, "media-source", IPP_TAG_ZERO));
        request.type = text(ippFindAttribute(col, "media-type", IPP_TAG_ZERO));
    } else {
        request.size = text(papplJobGetAttribute(job, "media"));
    }
    // CUPS clients may send the tray and type on their own.
    if (request.source.empty()) request.source = text(papplJobGetAttribute(job, "media-source"));
    if (request.type.empty()) request.type = text(papplJobGetAttribute(job, "media-type"));
    return request;
}

// A finishing template's enum: its IPP keyword, or the PPD-style name CUPS
// 2.4 sends for the templates of an IPP Everywhere queue ("StapleDualLeft").
int finishingValue(const std::string& name)
{
    if (const int value = ippEnumValue("finishings", name.c_str()); value > 0) return value;
    auto squeeze = [](std::string_view text) {
        std::string out;
        for (char c : text)
            if (c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    const std::string wanted = squeeze(name);
    for (int value = IPP_FINISHINGS_STAPLE; value <= IPP_FINISHINGS_PUNCH_MULTIPLE_BOTTOM; ++value)
        if (const char* keyword = ippEnumString("finishings", value); keyword != nullptr && squeeze(keyword) == wanted)
            return value;
    return 0;
}

// The PPD with `choice` as the default of `option`, when the PPD has the line.
void setPpdDefault(std::string& ppd, const std::string& option, const std::string& choice)
{
    const std::string key = "*Default" + option + ":";
    const size_t at = ppd.find("\n" + key);
    if (at == std::string::npos) return;
    const size_t start = at + 1;
    const size_t end = ppd.find('\n', start);
    ppd.replace(start, end - start, key + " " + choice);
}

}  // namespace

void AddOption(std::string& options, const std::string& name, const std::string& value)
{
    if (!options.empty()) options += ' ';
    options += name;
    options += '=';
    if (!value.empty() && value.find_first_of(" \t\r\n'\"\\{}") == std::string::npos) {
        options += value;
        return;
    }
    options += '"';
    for (char c : value) {
        if (c == '"' || c == '\\') options += '\\';
        options += c;
    }
    options += '"';
}

std::string PasscodeError(const JobPassword& password)
{
    if (!password.encryption.empty() && password.encryption != "none")
        return "The job's passcode was sent encrypted (" + password.encryption +
               "); the printer takes it only as sent, 4 to 8 digits";
    if (!PasscodeFollowsTheRule(password.value))
        return "The stored job's passcode must be 4 to 8 digits";
    return "";
}

FilterSettings SettingsForJob(pappl_job_t* job, const Model& model,
                              const std::optional<JobPassword>& password)
{
    FilterSettings out;
    pappl_printer_t* printer = papplJobGetPrinter(job);
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    std::unique_ptr<ipp_t, IppDeleter> printerAttrs(papplPrinterGetDriverAttributes(printer));
    std::string& o = out.options;

    // Paper: the job's, else the default.  A job that names a size but no
    // tray leaves the tray to the printer; one that names no paper at all
    // gets the default's tray and type too.
    MediaRequest media = mediaRequest(job);
    const bool namesPaper = !media.size.empty() || !media.source.empty() || !media.type.empty();
    out.media = !media.size.empty() ? media.size : data.media_default.size_name;
    std::string source = media.source;
    std::string type = media.type;
    if (!namesPaper) {
        source = data.media_default.source;
        type = data.media_default.type;
    }
    if (source.empty()) source = "auto";
    AddOption(o, "media", out.media);
    AddOption(o, "media-source", source);
    if (!type.empty()) AddOption(o, "media-type", type);
    if (source == "by-pass-tray")
        if (const char* edge = ppdChoice(BypassFeedEdges(), vendorValue(job, printerAttrs.get(), kBypassFeedEdge)))
            AddOption(o, "ZRMSILeadingEdge", edge);

    ipp_attribute_t* attr = papplJobGetAttribute(job, "sides");
    AddOption(o, "sides", attr != nullptr ? text(attr) : sidesKeyword(data.sides_default));

    attr = papplJobGetAttribute(job, "print-color-mode");
    AddOption(o, "print-color-mode", attr != nullptr ? text(attr) : colorModeKeyword(data.color_default));

    attr = papplJobGetAttribute(job, "print-quality");
    AddOption(o, "print-quality",
              std::to_string(attr != nullptr ? ippGetInteger(attr, 0) : static_cast<int>(data.quality_default)));

    attr = papplJobGetAttribute(job, "output-bin");
    if (attr != nullptr)
        AddOption(o, "output-bin", text(attr));
    else if (data.num_bin > 0)
        AddOption(o, "output-bin", data.bin[data.bin_default]);

    // Finishings as enums, from either form a client may send.
    std::string finishings;
    auto addFinishing = [&](int value) {
        if (value == IPP_FINISHINGS_NONE || value <= 0) return;
        if (!finishings.empty()) finishings += ',';
        finishings += std::to_string(value);
    };
    if ((attr = papplJobGetAttribute(job, "finishings")) != nullptr) {
        for (int i = 0; i < ippGetCount(attr); ++i) addFinishing(ippGetInteger(attr, i));
    } else if ((attr = papplJobGetAttribute(job, "finishings-col")) != nullptr) {
        for (int i = 0; i < ippGetCount(attr); ++i) {
            const std::string name =
                text(ippFindAttribute(ippGetCollection(attr, i), "finishing-template", IPP_TAG_ZERO));
            if (!name.empty()) addFinishing(finishingValue(name));
        }
    }
    if (finishings.empty() && papplJobGetAttribute(job, "finishings-col") == nullptr)
        addFinishing(finishingValue(vendorValue(job, printerAttrs.get(), kFinishingPreset)));
    if (!finishings.empty()) AddOption(o, "finishings", finishings);

    // Layout, through the same layout filter as under CUPS.
    if ((attr = papplJobGetAttribute(job, "page-ranges")) != nullptr) {
        int last = 0;
        const int first = ippGetRange(attr, 0, &last);
        AddOption(o, "page-ranges", std::to_string(first) + "-" + std::to_string(last));
    }
    AddOption(o, "number-up", vendorValue(job, printerAttrs.get(), kNumberUp));
    // Portrait, the default, is the document as it is.
    attr = papplJobGetAttribute(job, "orientation-requested");
    const int orientation = attr != nullptr ? ippGetInteger(attr, 0) : static_cast<int>(data.orient_default);
    if (orientation > IPP_ORIENT_PORTRAIT && orientation <= IPP_ORIENT_REVERSE_PORTRAIT)
        AddOption(o, "orientation-requested", std::to_string(orientation));
    attr = papplJobGetAttribute(job, "print-scaling");
    AddOption(o, "print-scaling", attr != nullptr ? text(attr) : scalingKeyword(data.scaling_default));

    // Copies are made by the printer; IPP collates them unless told not to.
    attr = papplJobGetAttribute(job, "copies");
    const int copies = attr != nullptr ? ippGetInteger(attr, 0) : 1;
    out.copies = std::to_string(copies);
    if (copies > 1)
        AddOption(o, "collate",
                  text(papplJobGetAttribute(job, "multiple-document-handling")) ==
                          "separate-documents-uncollated-copies"
                      ? "false"
                      : "true");

    for (const char* name : {"job-account-id", "job-accounting-user-id"})
        if ((attr = papplJobGetAttribute(job, name)) != nullptr) AddOption(o, name, text(attr));
    if (papplJobGetAttribute(job, "job-account-id") == nullptr)
        if (const std::string account = vendorValue(job, printerAttrs.get(), kAccountId); !account.empty())
            AddOption(o, "job-account-id", account);

    // The printer's own features.
    const bool printTypeAsked = papplJobGetAttribute(job, kPrintType) != nullptr;
    const std::string printType = vendorValue(job, printerAttrs.get(), kPrintType);
    if (vendorValue(job, printerAttrs.get(), kTurnPage) == "true") AddOption(o, "ZRTurnPage", "true");
    if (vendorValue(job, printerAttrs.get(), kPrintAsImage) == "true")
        AddOption(o, "ZRPDFRasterizedMode", "true");

    // The stored job's passcode goes in the job's own copy of the PPD, as a
    // queue default would, and so never appears on a command line.
    out.ppd = std::string(model.ppd);
    bool passcode = false;
    if (password) {
        if (out.error = PasscodeError(*password); !out.error.empty()) {
            out.error += "; nothing was sent to the printer";
            return out;
        }
        setPpdDefault(out.ppd, "ZRPasscode", "Custom." + password->value);
        passcode = true;
    }
    // A passcode without a print type of the job's own makes a stored job.
    if (passcode && !printTypeAsked)
        setPpdDefault(out.ppd, "ZRPrintType", "Stored");
    else if (const char* choice = ppdChoice(PrintTypes(), printType); choice != nullptr && printType != "normal")
        AddOption(o, "ZRPrintType", choice);
    else if (printTypeAsked)
        AddOption(o, "ZRPrintType", "Normal");
    return out;
}

}  // namespace pdftopjl::app
