// SPDX-License-Identifier: Apache-2.0
#include "job_ticket_ipp.hpp"

#include <cctype>
#include <cstring>
#include <string_view>

#include "ticket/passcode.hpp"

namespace pdftopjl::app {

namespace {

template <typename T>
struct Keyword {
    const char* ipp;
    T value;
};

template <typename T, std::size_t N>
std::optional<T> lookup(const Keyword<T> (&table)[N], std::string_view keyword)
{
    for (const Keyword<T>& entry : table)
        if (keyword == entry.ipp) return entry.value;
    return std::nullopt;
}

// "manual" and "main" are what CUPS clients send for the bypass and the first tray.
const Keyword<Tray> kTrays[] = {
    {"auto", Tray::Auto},   {"tray-1", Tray::Tray1}, {"main", Tray::Tray1},
    {"tray-2", Tray::Tray2}, {"tray-3", Tray::Tray3}, {"tray-4", Tray::Tray4},
    {"by-pass-tray", Tray::Bypass}, {"manual", Tray::Bypass},
};
const Keyword<MediaType> kMediaTypes[] = {
    {"auto", MediaType::Default},
    {"stationery", MediaType::Plain},
    {"stationery-recycled", MediaType::Recycled},
    {"stationery-heavyweight", MediaType::Thick},
    {"cardstock", MediaType::Thick},
};
// The PPD's names of the sizes the printer knows.
const Keyword<Paper> kPapers[] = {
    {"A3", Paper::A3}, {"B4", Paper::JisB4}, {"A4", Paper::A4},         {"B5", Paper::JisB5},
    {"A5", Paper::A5}, {"Letter", Paper::Letter}, {"Legal", Paper::Legal}, {"Tabloid", Paper::Ledger},
};
const Keyword<OutputBin> kBins[] = {
    {"face-down", OutputBin::Main},
    {"face-up", OutputBin::FaceUp},
    {"stacker-1", OutputBin::Stacker1},
    {"stacker-2", OutputBin::Stacker2},
};
const Keyword<FeedEdge> kFeedEdges[] = {
    {"short-edge", FeedEdge::Short},
    {"long-edge", FeedEdge::Long},
    {"short-edge-rotated", FeedEdge::ShortTurned},
    {"long-edge-rotated", FeedEdge::LongTurned},
};
const Keyword<PrintType> kPrintTypes[] = {
    {"normal", PrintType::Normal}, {"stored", PrintType::Store}, {"proof", PrintType::Proof}};

std::string text(ipp_attribute_t* attr)
{
    const char* value = attr != nullptr ? ippGetString(attr, 0, nullptr) : nullptr;
    return value != nullptr ? value : "";
}

// The job's value of a vendor attribute, else the printer's default, as text.
// PAPPL 1.3's own reading looks for the default among the job's attributes.
std::string vendorValue(const IppJob& job, const char* name)
{
    ipp_attribute_t* attr = job.attribute(name);
    if (attr == nullptr && job.printerAttributes != nullptr)
        attr = ippFindAttribute(job.printerAttributes, (std::string(name) + "-default").c_str(), IPP_TAG_ZERO);
    if (attr == nullptr) return "";
    char value[256];
    ippAttributeString(attr, value, sizeof value);
    return value;
}

// What the job asked of the paper: size, tray and type, each empty when not asked.
struct MediaRequest {
    std::string size, source, type;
};

MediaRequest mediaRequest(const IppJob& job)
{
    MediaRequest request;
    if (ipp_attribute_t* attr = job.attribute("media-col")) {
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
        request.size = text(job.attribute("media"));
    }
    // CUPS clients may send the tray and type on their own.
    if (request.source.empty()) request.source = text(job.attribute("media-source"));
    if (request.type.empty()) request.type = text(job.attribute("media-type"));
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

// Staples and punch from the job's finishings, in either form a client may
// send, else from the printer's default template.  The first staple asked
// for is the one made.
void readFinishings(const IppJob& job, Finishing& finishing)
{
    bool given = false;
    auto add = [&](int value) {
        given |= value > 0 && value != IPP_FINISHINGS_NONE;
        Staple staple = Staple::Unset;
        switch (value) {
        case IPP_FINISHINGS_STAPLE:
        case IPP_FINISHINGS_STAPLE_TOP_LEFT: staple = Staple::TopLeft; break;
        case IPP_FINISHINGS_STAPLE_DUAL_LEFT: staple = Staple::DualLeft; break;
        case IPP_FINISHINGS_STAPLE_DUAL_TOP: staple = Staple::DualTop; break;
        case IPP_FINISHINGS_PUNCH: finishing.punch = Punch::On; break;
        default: break;
        }
        if (staple != Staple::Unset && finishing.staple == Staple::None) finishing.staple = staple;
    };
    ipp_attribute_t* col = job.attribute("finishings-col");
    if (ipp_attribute_t* attr = job.attribute("finishings")) {
        for (int i = 0; i < ippGetCount(attr); ++i) add(ippGetInteger(attr, i));
    } else if (col != nullptr) {
        for (int i = 0; i < ippGetCount(col); ++i)
            add(finishingValue(text(ippFindAttribute(ippGetCollection(col, i), "finishing-template", IPP_TAG_ZERO))));
    }
    if (!given && col == nullptr) add(finishingValue(vendorValue(job, kFinishingPreset)));
}

// Every range of page-ranges, "1-3,7-7".
std::string pageRanges(ipp_attribute_t* attr)
{
    std::string ranges;
    for (int i = 0; attr != nullptr && i < ippGetCount(attr); ++i) {
        int last = 0;
        const int first = ippGetRange(attr, i, &last);
        if (!ranges.empty()) ranges += ',';
        ranges += std::to_string(first) + "-" + std::to_string(last);
    }
    return ranges;
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

}  // namespace

std::string MediaSizeName(const IppJob& job)
{
    const std::string size = mediaRequest(job).size;
    return !size.empty() ? size : job.options->media.size_name;
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

JobTicket TicketFromIpp(const IppJob& job, const std::optional<JobPassword>& password)
{
    const pappl_pr_options_t& o = *job.options;
    JobTicket t;
    t.jobId = job.jobId;
    t.user = job.user;
    t.title = job.title;
    // The printer makes the copies; IPP collates them unless told not to.
    t.copies = o.copies > 0 ? o.copies : 1;
    if (t.copies > 1) {
        t.collation = text(job.attribute("multiple-document-handling")) == "separate-documents-uncollated-copies"
                          ? Collation::Uncollated
                          : Collation::Collated;
        t.layout.collate = t.collation == Collation::Collated ? "true" : "false";
    }

    // Paper: the job's, else the default.  A job that names a size but no
    // tray leaves the tray to the printer; one that names no paper at all
    // gets the default's tray and type too.  What the printer does not know
    // is left to it.
    const MediaRequest media = mediaRequest(job);
    const bool namesPaper = !media.size.empty() || !media.source.empty() || !media.type.empty();
    // The layout filter is told the paper and sides too, as under CUPS.
    t.layout.media = MediaSizeName(job);
    t.layout.sides = sidesKeyword(o.sides);
    const pwg_media_t* size = pwgMediaForPWG(t.layout.media.c_str());
    t.paper = lookup(kPapers, size != nullptr && size->ppd != nullptr ? size->ppd : "").value_or(Paper::Other);
    t.tray = lookup(kTrays, namesPaper ? media.source : o.media.source).value_or(Tray::Auto);
    t.mediaType = lookup(kMediaTypes, namesPaper ? media.type : o.media.type).value_or(MediaType::Default);
    if (t.tray == Tray::Bypass)
        t.bypassFeedEdge = lookup(kFeedEdges, vendorValue(job, kBypassFeedEdge)).value_or(FeedEdge::Short);

    t.sides = o.sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? Sides::TwoSidedLongEdge
              : o.sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? Sides::TwoSidedShortEdge
                                                            : Sides::OneSided;
    t.colour = o.print_color_mode == PAPPL_COLOR_MODE_MONOCHROME ? ColourMode::Black : ColourMode::Colour;
    t.quality = o.print_quality == IPP_QUALITY_DRAFT  ? Quality::Speed
                : o.print_quality == IPP_QUALITY_HIGH ? Quality::High
                                                      : Quality::Standard;
    // The printer's own default; no IPP attribute changes it.
    t.trapping = Trapping::On;
    t.outputBin = lookup(kBins, o.output_bin).value_or(OutputBin::Main);

    t.finishing.staple = Staple::None;
    t.finishing.punch = Punch::None;
    readFinishings(job, t.finishing);

    // Layout, through the same layout filter as under CUPS.  Portrait, the
    // default, is the document as it is.
    if (ipp_attribute_t* ranges = job.attribute("page-ranges")) t.layout.pageRanges = pageRanges(ranges);
    if (std::string numberUp = vendorValue(job, kNumberUp); !numberUp.empty()) t.layout.numberUp = numberUp;
    switch (o.orientation_requested) {
    case IPP_ORIENT_LANDSCAPE:
        t.layout.orientation = Orientation::Landscape;
        t.finishing.orientation = FinishingOrientation::Landscape;
        break;
    case IPP_ORIENT_REVERSE_LANDSCAPE:
        t.layout.orientation = Orientation::ReverseLandscape;
        t.finishing.orientation = FinishingOrientation::ReverseLandscape;
        break;
    case IPP_ORIENT_REVERSE_PORTRAIT: t.layout.orientation = Orientation::ReversePortrait; break;
    default: break;
    }
    t.layout.scaling = scalingKeyword(o.print_scaling);

    // The account: the job's, else the printer's default, else the
    // accounting user.  A job that gives an empty account has none.
    std::optional<std::string> account;
    if (ipp_attribute_t* attr = job.attribute("job-account-id"))
        account = text(attr);
    else if (std::string preset = vendorValue(job, kAccountId); !preset.empty())
        account = preset;
    else if (ipp_attribute_t* user = job.attribute("job-accounting-user-id"))
        account = text(user);
    if (account) t.accounting.accountId = *account;

    t.halfTurn = vendorValue(job, kTurnPage) == "true";
    t.raster = vendorValue(job, kPrintAsImage) == "true";

    // A passcode without a print type of the job's own makes a stored job.
    const bool typeAsked = job.attribute(kPrintType) != nullptr;
    t.held.type = lookup(kPrintTypes, vendorValue(job, kPrintType)).value_or(PrintType::Normal);
    if (password) {
        if (!typeAsked) t.held.type = PrintType::Store;
        if (!password->encryption.empty() && password->encryption != "none")
            t.passcodeIssue = PasscodeIssue::Encrypted;
        else if (password->value.empty())
            t.passcodeIssue = PasscodeIssue::Empty;
        else
            t.held.passcode = password->value;
    }
    return t;
}

IppJob IppJobOf(pappl_job_t* job, const pappl_pr_options_t* options, ipp_t* printerAttributes)
{
    IppJob view;
    view.attribute = [job](const char* name) { return papplJobGetAttribute(job, name); };
    view.printerAttributes = printerAttributes;
    view.jobId = std::to_string(papplJobGetID(job));
    view.options = options;
    const char* user = papplJobGetUsername(job);
    const char* title = papplJobGetName(job);
    view.user = user != nullptr ? user : "guest";
    view.title = title != nullptr ? title : "";
    return view;
}

PrinterProfile ProfileForModel(const Model& model) { return ProfileOf(*model.row); }

}  // namespace pdftopjl::app
