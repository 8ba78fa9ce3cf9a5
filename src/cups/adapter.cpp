// SPDX-License-Identifier: Apache-2.0
#include "cups/adapter.hpp"

#include <strings.h>

#include <cstring>
#include <string_view>

#include "cups/standard_options.hpp"
#include "cups/ticket_keys.hpp"
#include "cups/tickets.hpp"
#include "core/platform.hpp"

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

// The PPD's choice names, typed; a name the printer does not know is Other.
template <typename Enum, std::size_t N>
Enum typed(const std::string& choice, const std::pair<const char*, Enum> (&names)[N], Enum other)
{
    if (choice.empty()) return Enum::Unset;
    for (const auto& [name, value] : names)
        if (choice == name) return value;
    return other;
}

const std::pair<const char*, Tray> kTrays[] = {{"AutoSelect", Tray::Auto},  {"1stTray", Tray::Tray1},
                                               {"2ndTray", Tray::Tray2},    {"3rdTray", Tray::Tray3},
                                               {"4thTray", Tray::Tray4},    {"BypassTray", Tray::Bypass}};
const std::pair<const char*, Paper> kPapers[] = {
    {"A3", Paper::A3},         {"B4", Paper::JisB4},      {"A4", Paper::A4},       {"B5", Paper::JisB5},
    {"A5", Paper::A5},         {"Letter", Paper::Letter}, {"Legal", Paper::Legal}, {"Tabloid", Paper::Ledger}};
const std::pair<const char*, MediaType> kMediaTypes[] = {{"Default", MediaType::Default},
                                                         {"Plain", MediaType::Plain},
                                                         {"Recycled", MediaType::Recycled},
                                                         {"Thick", MediaType::Thick}};
const std::pair<const char*, FeedEdge> kFeedEdges[] = {{"LongEdge", FeedEdge::Long},
                                                       {"LongEdgeR", FeedEdge::LongTurned},
                                                       {"ShortEdge", FeedEdge::Short},
                                                       {"ShortEdgeR", FeedEdge::ShortTurned}};
const std::pair<const char*, ColourMode> kColours[] = {{"Color", ColourMode::Colour},
                                                       {"Black", ColourMode::Black}};
const std::pair<const char*, Quality> kQualities[] = {
    {"HighSpeed", Quality::Speed}, {"Standard", Quality::Standard}, {"HighQuality", Quality::High}};
// A PPD's Boolean choices are spelled True and False; lp passes them as typed.
const std::pair<const char*, Collation> kCollations[] = {{"true", Collation::Collated},
                                                         {"True", Collation::Collated},
                                                         {"false", Collation::Uncollated},
                                                         {"False", Collation::Uncollated}};
const std::pair<const char*, Trapping> kTrappings[] = {{"true", Trapping::On}, {"false", Trapping::Off}};
const std::pair<const char*, Staple> kStaples[] = {{"None", Staple::None},
                                                   {"UpperLeftSinglePort", Staple::TopLeft},
                                                   {"LeftDoublePort", Staple::DualLeft},
                                                   {"TopDoublePort", Staple::DualTop}};
const std::pair<const char*, Punch> kPunches[] = {
    {"None", Punch::None}, {"True", Punch::On}, {"true", Punch::On}};

OutputBin outputBin(const std::string& bin)
{
    if (bin == "FaceUp") return OutputBin::FaceUp;
    if (bin == "Stacker1") return OutputBin::Stacker1;
    if (bin == "Stacker2") return OutputBin::Stacker2;
    return OutputBin::Main;
}

Orientation orientation(const char* requested)
{
    if (requested == nullptr) return Orientation::Unset;
    const std::string_view value = requested;
    if (value == "3") return Orientation::Portrait;
    if (value == "4") return Orientation::Landscape;
    if (value == "5") return Orientation::ReverseLandscape;
    if (value == "6") return Orientation::ReversePortrait;
    return Orientation::Unset;
}

// How the sheet lies for staples and punches: the macOS dialog's two
// orientation tickets agreeing, or orientation-requested.
FinishingOrientation finishingOrientation(const Choices& c, const char* requested)
{
    const std::string_view ipp = requested != nullptr ? requested : "";
    if ((c.pageFormatOrientation == "2" && c.printSettingsOrientation == "2") || ipp == "4")
        return FinishingOrientation::Landscape;
    if ((c.pageFormatOrientation == "4" && c.printSettingsOrientation == "4") || ipp == "5")
        return FinishingOrientation::ReverseLandscape;
    return FinishingOrientation::Other;
}

std::string given(const JobOptions& options, const char* name)
{
    const char* value = options.get(name);
    return value != nullptr ? value : "";
}

std::optional<std::string> present(const JobOptions& options, const char* name)
{
    const char* value = options.get(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

// The standard layout options, which the layout filter reads itself.
void readLayout(const JobOptions& options, Layout& layout)
{
    layout.numberUpLayout = given(options, "number-up-layout");
    layout.pageRanges = present(options, "page-ranges");
    layout.orientation = orientation(options.get("orientation-requested"));
    layout.landscape = given(options, "landscape");
    layout.fitToPage = given(options, "fit-to-page");
    layout.fitPlot = given(options, "fitplot");
    layout.scaling = given(options, "print-scaling");
    layout.scalingPercent = given(options, "scaling");
    layout.naturalScalingPercent = given(options, "natural-scaling");
    layout.position = given(options, "position");
    layout.pageLeft = present(options, "page-left");
    layout.pageRight = present(options, "page-right");
    layout.pageTop = present(options, "page-top");
    layout.pageBottom = present(options, "page-bottom");
    layout.pageSize = given(options, "PageSize");
    layout.media = given(options, "media");
    layout.sides = given(options, "sides");
    layout.duplex = given(options, "Duplex");
    layout.collate = given(options, "Collate");
    layout.documentHandling = given(options, "multiple-document-handling");
}

void typeChoices(const Choices& c, const JobOptions& options, JobTicket& t)
{
    t.held.type = c.printType == 2 ? PrintType::Store : c.printType == 3 ? PrintType::Proof : PrintType::Normal;
    t.held.jobNameSource = c.documentNameType == -1  ? JobNameSource::Unset
                           : c.documentNameType == 1 ? JobNameSource::Title
                           : c.documentNameType == 2 ? JobNameSource::Given
                                                     : JobNameSource::Other;
    t.tray = typed(c.inputSlot, kTrays, Tray::Other);
    t.paper = typed(c.media, kPapers, Paper::Other);
    t.mediaType = typed(c.mediaType, kMediaTypes, MediaType::Other);
    t.bypassFeedEdge = typed(c.msiLeadingEdge, kFeedEdges, FeedEdge::Other);
    t.sides = c.duplexing == 1   ? Sides::OneSided
              : c.duplexing == 2 ? Sides::TwoSidedLongEdge
              : c.duplexing == 3 ? Sides::TwoSidedShortEdge
                                 : Sides::Unset;
    t.colour = typed(c.colorMode, kColours, ColourMode::Other);
    t.quality = typed(c.outputMode, kQualities, Quality::Other);
    t.collation = typed(c.collate, kCollations, Collation::Unset);
    t.trapping = typed(c.trapping, kTrappings, Trapping::Unset);
    t.outputBin = outputBin(c.outputBin);
    t.finishing.staple = typed(c.staple, kStaples, Staple::Other);
    t.finishing.punch = typed(c.punch, kPunches, Punch::Other);
    t.finishing.orientation = finishingOrientation(c, options.get("orientation-requested"));
    t.halfTurn = c.turnPage == "true";
    t.raster = c.pdfRasterizedMode == "true";
}

// The first space-separated token; tabs belong to the token.
std::string_view firstToken(std::string_view value)
{
    const size_t start = value.find_first_not_of(' ');
    if (start == std::string_view::npos) return {};
    value.remove_prefix(start);
    return value.substr(0, value.find(' '));
}

// Type names longer than this are not taken from cupsFilter.
constexpr size_t kTypeSize = 32;

// ZRPrinterStatus from the job, the PPD's option or the PPD's keyword.
bool printerStatusAllowed(const JobOptions& options, const ppd_file_t* ppd)
{
    const char* value = options.get(kPrinterStatusKey);
    if (value == nullptr) value = PpdDefaultChoice(ppd, kPrinterStatusKey);
    if (value == nullptr && ppd != nullptr)
        if (ppd_attr_t* attr = ppdFindAttr(const_cast<ppd_file_t*>(ppd), kPrinterStatusKey, nullptr))
            value = attr->value;
    if (value == nullptr) return true;
    for (const char* off : {"false", "off", "no"})
        if (strcasecmp(value, off) == 0) return false;
    return true;
}

}  // namespace

std::string FilterInputType(const ppd_file_t* ppd)
{
    // Only the first token matters, so a long program path after it does no
    // harm.  A token too long for the field leaves the type empty.
    ppd_attr_t* attr = FindAttributeByPrefix(ppd, "cupsFilter");
    if (attr == nullptr || attr->value == nullptr) return {};
    const std::string_view token = firstToken(attr->value);
    return token.size() < kTypeSize ? std::string(token) : std::string();
}

bool LaidOutByCups(const ppd_file_t* ppd)
{
    bool takesLaidOut = false;
    for (int i = 0; ppd != nullptr && i < ppd->num_filters; ++i) {
        const std::string_view entry = ppd->filters[i];
        const std::string_view type = entry.substr(0, entry.find(' '));
        if (type == platform::kLayoutDestinationType)
            takesLaidOut = true;
        else
            return false;  // another type reaches the filter without the layout
    }
    return takesLaidOut;
}

int32_t DuplexingFromCupsOptions(const JobOptions& options, const ppd_file_t* ppd)
{
    int32_t duplexing = lookup(kSides, options.get("sides"));
    if (duplexing < 0) duplexing = lookup(kDuplexChoices, options.get("Duplex"));
    if (duplexing < 0) duplexing = lookup(kDuplexChoices, PpdDefaultChoice(ppd, "Duplex"));
    return duplexing;
}

PrinterProfile ProfileFromPpd(const ppd_file_t* ppd)
{
    PrinterProfile printer;
    printer.described = ppd != nullptr;
    if (ppd_attr_t* attr = FindAttributeByPrefix(ppd, KPPDPrinterLanguageEncodingKey)) {
        const std::string_view encoding = attr->value != nullptr ? attr->value : "";
        if (encoding == "UTF-8") printer.codeSet = CodeSet::Utf8;
        if (encoding == "ISOLatin1") printer.codeSet = CodeSet::IsoLatin1;
    }
    // The PPD names the bypass tray; older PPDs leave it to the model name,
    // and without one it goes unnamed, as it always has.
    ppd_attr_t* model = FindAttributeByPrefix(ppd, "ModelName");
    if (ppd_attr_t* tray = FindAttributeByPrefix(ppd, "ZRBypassTray"); tray != nullptr && pjlToken(tray->value))
        printer.bypassTrayName = tray->value;
    else
        printer.bypassTrayName =
            model != nullptr ? bypassTrayNameForModel(model->value != nullptr ? model->value : "") : "";
    if (ppd != nullptr) {
        // An attribute without a value counts as any value other than "Minus90".
        if (ppd_attr_t* attr = ppdFindAttr(const_cast<ppd_file_t*>(ppd), "LandscapeOrientation", nullptr))
            printer.landscape = attr->value != nullptr && std::strcmp(attr->value, "Minus90") == 0
                                    ? LandscapeDirection::Minus90
                                    : LandscapeDirection::Plus90;
    }
    printer.filterInputType = FilterInputType(ppd);
    printer.laidOutBefore = LaidOutByCups(ppd);
    return printer;
}

CupsJob AdaptCupsJob(const JobInputs& job, int32_t copies)
{
    CupsJob adapted;
    adapted.printer = ProfileFromPpd(job.ppd.get());
    adapted.printer.queueName = job.args.program;
    adapted.printerStatus = printerStatusAllowed(job.options, job.ppd.get());
    adapted.colourDevice = job.ppd && job.ppd->color_device != 0;
    JobTicket& ticket = adapted.ticket;
    const JobOptions& options = job.options;
    const ppd_file_t* ppd = job.ppd.get();

    ticket.jobId = job.args.jobId;
    ticket.user = job.args.user;
    ticket.title = job.args.title;
    ticket.copies = copies;
    ticket.productType = ReadTicketInteger(options, kPrintTypeProductType);

    Choices choices;
    ReadTickets(options, adapted.printer.codeSet == CodeSet::Utf8, ticket, choices);
    if (choices.duplexing == -1) choices.duplexing = DuplexingFromCupsOptions(options, ppd);
    YieldLegacyDefaults(options, ppd, choices);
    ApplyStandardOptions(options, choices);
    ApplyOfficeOptions(options, ppd, ticket, choices);
    ApplyQueueDefaults(ppd, choices);
    readLayout(options, ticket.layout);
    typeChoices(choices, options, ticket);

    // What the dialog says one copy is, when the document holds every copy.
    if (std::optional<int32_t> dialogCopies = ReadTicketInteger(options, kDialogCopiesTicketKey))
        ticket.dialogCopies = dialogCopies;
    if (std::optional<int32_t> sides = ReadTicketInteger(options, kDialogTotalSidesTicketKey))
        ticket.dialogTotalSides = sides;
    return adapted;
}

}  // namespace pdftopjl
