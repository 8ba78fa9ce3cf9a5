// SPDX-License-Identifier: Apache-2.0
#include "models.hpp"

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "models/ppd_writer.hpp"

namespace pdftopjl::app {

namespace {

// What a Model points at, kept for the life of the program.
struct ModelStore {
    std::string ppd;
    std::vector<const char*> sources, types, bins, templates;
};

Model modelOf(const PrinterModel& row, ModelStore& store)
{
    store.ppd = WritePpd(row);
    for (const TrayEntry& tray : row.trays) store.sources.push_back(tray.ippSource);
    for (const MediaTypeEntry& type : row.mediaTypes)
        if (type.ippType != nullptr) store.types.push_back(type.ippType);
    for (const OutputBinEntry& bin : row.bins) store.bins.push_back(bin.ippBin);
    pappl_finishings_t finishings = PAPPL_FINISHINGS_NONE;
    if (Staples(row)) {
        finishings |= PAPPL_FINISHINGS_STAPLE;
        store.templates.insert(store.templates.end(), {"staple-top-left", "staple-dual-left", "staple-dual-top"});
    }
    if (Punches(row)) {
        finishings |= PAPPL_FINISHINGS_PUNCH;
        store.templates.push_back("punch");
    }
    return Model{
        .driver = row.driver,
        .description = row.makeAndModel,
        .deviceId = row.deviceId,
        .makeAndModel = row.makeAndModel,
        .ppd = store.ppd,
        .pagesPerMinute = row.pagesPerMinute,
        .media = row.sizes,
        .defaultMedia = row.defaultSize,
        .marginHundredthsMm = static_cast<int>(row.marginPoints * 2540 / 72),
        .sources = store.sources,
        .types = store.types,
        .bins = store.bins,
        .resolutions = row.resolutions,
        .finishings = finishings,
        .finishingTemplates = store.templates,
        .row = &row,
    };
}

// One Model a row of the model table, made once.
const std::vector<Model>& models()
{
    static std::deque<ModelStore> stores;
    static const std::vector<Model> list = [] {
        std::vector<Model> made;
        for (const PrinterModel& row : pdftopjl::Models()) made.push_back(modelOf(row, stores.emplace_back()));
        return made;
    }();
    return list;
}

constexpr VendorKeyword kPrintTypes[] = {
    {"normal", "Normal"}, {"stored", "Stored"}, {"proof", "Proof"}};
constexpr VendorKeyword kBypassFeedEdges[] = {{"short-edge", "ShortEdge"},
                                              {"long-edge", "LongEdge"},
                                              {"short-edge-rotated", "ShortEdgeR"},
                                              {"long-edge-rotated", "LongEdgeR"}};
constexpr int kNumberUpValues[] = {1, 2, 4, 6, 9, 16};

template <std::size_t N>
void addKeywords(ipp_t* attrs, const char* name, const VendorKeyword (&table)[N])
{
    const char* values[N];
    for (std::size_t i = 0; i < N; ++i) values[i] = table[i].ipp;
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), name,
                  static_cast<int>(N), nullptr, values);
}

ipp_t* finishingCol(const char* templateName)
{
    ipp_t* col = ippNew();
    ippAddString(col, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "finishing-template", nullptr, templateName);
    return col;
}

pappl_media_col_t mediaCol(const Model& model, const char* size, const char* source,
                           const char* type)
{
    pappl_media_col_t col{};
    papplCopyString(col.size_name, size, sizeof col.size_name);
    if (pwg_media_t* pwg = pwgMediaForPWG(size)) {
        col.size_width = pwg->width;
        col.size_length = pwg->length;
    }
    col.bottom_margin = col.top_margin = col.left_margin = col.right_margin =
        model.marginHundredthsMm;
    papplCopyString(col.source, source, sizeof col.source);
    papplCopyString(col.type, type, sizeof col.type);
    return col;
}

}  // namespace

std::span<const Model> Models() { return models(); }

const Model* FindModel(std::string_view driver)
{
    for (const Model& model : models())
        if (driver == model.driver) return &model;
    return nullptr;
}

const char* MatchDevice(const char* deviceId)
{
    if (deviceId == nullptr) return nullptr;
    cups_option_t* pairs = nullptr;
    const int count = papplDeviceParseID(deviceId, &pairs);
    const char* make = cupsGetOption("MANUFACTURER", count, pairs);
    if (make == nullptr) make = cupsGetOption("MFG", count, pairs);
    const char* model = cupsGetOption("MODEL", count, pairs);
    if (model == nullptr) model = cupsGetOption("MDL", count, pairs);
    const PrinterModel* row = make != nullptr && model != nullptr ? FindModelByDevice(make, model) : nullptr;
    cupsFreeOptions(count, pairs);
    return row != nullptr ? row->driver : nullptr;
}

std::span<pappl_pr_driver_t> DriverList()
{
    static std::vector<pappl_pr_driver_t> list = [] {
        std::vector<pappl_pr_driver_t> drivers;
        for (const Model& model : models())
            drivers.push_back({model.driver, model.description, model.deviceId, nullptr});
        return drivers;
    }();
    return list;
}

std::span<const VendorKeyword> PrintTypes() { return kPrintTypes; }
std::span<const VendorKeyword> BypassFeedEdges() { return kBypassFeedEdges; }
std::span<const int> NumberUpValues() { return kNumberUpValues; }

void FillDriverData(const Model& model, pappl_pr_driver_data_t* data, ipp_t** attrs)
{
    papplCopyString(data->make_and_model, model.makeAndModel, sizeof data->make_and_model);
    // The printer takes PDF; PWG raster, JPEG and PNG are made into PDF first.
    data->format = "application/pdf";
    data->ppm = data->ppm_color = model.pagesPerMinute;
    data->kind = PAPPL_KIND_DOCUMENT;
    const bool colour = model.row->colour;
    if (!colour) data->ppm_color = 0;
    data->color_supported = colour ? PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME : PAPPL_COLOR_MODE_MONOCHROME;
    data->color_default = colour ? PAPPL_COLOR_MODE_COLOR : PAPPL_COLOR_MODE_MONOCHROME;
    data->content_default = PAPPL_CONTENT_AUTO;
    data->orient_default = IPP_ORIENT_PORTRAIT;
    data->quality_default = IPP_QUALITY_NORMAL;
    data->scaling_default = PAPPL_SCALING_AUTO;
    // Raster arrives in 8 bits per colour only: each page becomes one image.
    data->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | (colour ? PAPPL_PWG_RASTER_TYPE_SRGB_8 : 0);
    data->duplex = model.row->duplex ? PAPPL_DUPLEX_NORMAL : PAPPL_DUPLEX_NONE;
    data->sides_supported = PAPPL_SIDES_ONE_SIDED;
    if (model.row->duplex)
        data->sides_supported |= PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    data->sides_default = PAPPL_SIDES_ONE_SIDED;
    data->finishings = model.finishings;
    data->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;
    data->identify_default = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

    data->num_resolution = static_cast<int>(model.resolutions.size());
    for (int i = 0; i < data->num_resolution; ++i)
        data->x_resolution[i] = data->y_resolution[i] = model.resolutions[i];
    data->x_default = data->y_default = model.resolutions.back();

    data->left_right = data->bottom_top = model.marginHundredthsMm;
    data->num_media = static_cast<int>(model.media.size());
    for (int i = 0; i < data->num_media; ++i) data->media[i] = model.media[i];
    // The default names no tray: the printer picks one unless the job does.
    data->media_default = mediaCol(model, model.defaultMedia, "auto", "");

    data->num_source = static_cast<int>(model.sources.size());
    for (int i = 0; i < data->num_source; ++i) {
        data->source[i] = model.sources[i];
        data->media_ready[i] = mediaCol(model, model.defaultMedia, model.sources[i], model.types[0]);
    }
    data->num_type = static_cast<int>(model.types.size());
    for (int i = 0; i < data->num_type; ++i) data->type[i] = model.types[i];
    data->num_bin = static_cast<int>(model.bins.size());
    for (int i = 0; i < data->num_bin; ++i) data->bin[i] = model.bins[i];
    data->bin_default = 0;

    // Vendor attributes: PAPPL lists them as job creation attributes and
    // offers their defaults on the web interface.
    data->num_vendor = 0;
    for (const char* name : {kPrintType, kBypassFeedEdge, kTurnPage, kPrintAsImage, kNumberUp, kFinishingPreset,
                             kAccountId})
        data->vendor[data->num_vendor++] = name;

    ipp_t* extra = ippNew();
    addKeywords(extra, "print-type-supported", kPrintTypes);
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-type-default",
                 nullptr, "normal");
    addKeywords(extra, "bypass-feed-edge-supported", kBypassFeedEdges);
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "bypass-feed-edge-default",
                 nullptr, "short-edge");
    for (const char* name : {kTurnPage, kPrintAsImage}) {
        ippAddBoolean(extra, IPP_TAG_PRINTER, (std::string(name) + "-supported").c_str(), 1);
        ippAddBoolean(extra, IPP_TAG_PRINTER, (std::string(name) + "-default").c_str(), 0);
    }
    ippAddIntegers(extra, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-supported",
                   static_cast<int>(std::size(kNumberUpValues)), kNumberUpValues);
    ippAddInteger(extra, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "number-up-default", 1);
    // The printer's defaults for staples and punch, and for the account, kept
    // as vendor defaults: PAPPL 1.3 saves only those and its own.
    std::vector<const char*> finishing{"none"};
    finishing.insert(finishing.end(), model.finishingTemplates.begin(), model.finishingTemplates.end());
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "finishing-preset-supported",
                  static_cast<int>(finishing.size()), nullptr, finishing.data());
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "finishing-preset-default", nullptr,
                 "none");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_TAG_TEXT, "account-id-default", nullptr, "");

    // Staple positions: PAPPL 1.3 lists only "staple" and "punch" in
    // finishings-supported and names its collection database
    // "finishing-col-database"; this is the one clients read.
    std::vector<ipp_t*> templates;
    for (const char* name : {"none"}) templates.push_back(finishingCol(name));
    for (const char* name : model.finishingTemplates) templates.push_back(finishingCol(name));
    ippAddCollections(extra, IPP_TAG_PRINTER, "finishings-col-database", static_cast<int>(templates.size()),
                      const_cast<const ipp_t**>(templates.data()));
    ippAddCollection(extra, IPP_TAG_PRINTER, "finishings-col-default", templates.front());
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "finishings-col-supported", nullptr,
                 "finishing-template");
    for (ipp_t* col : templates) ippDelete(col);

    // The printer renders colour as it sees fit; Get-Printer-Attributes has
    // no preferred values to offer.
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-supported",
                 nullptr, "auto");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "print-rendering-intent-default",
                 nullptr, "auto");
    ippAddBoolean(extra, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);

    // Overrides may select pages but change nothing on them: every page
    // prints with the job's settings (others are refused at submission).
    const char* const overrides[] = {"document-number", "pages"};
    ippAddStrings(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD), "overrides-supported", 2, nullptr,
                  overrides);

    // A stored job's passcode: 4 to 8 digits, sent plain.
    ippAddInteger(extra, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "job-password-supported", 8);
    ippAddRange(extra, IPP_TAG_PRINTER, "job-password-length-supported", 4, 8);
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "job-password-encryption-supported", nullptr, "none");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "job-password-repertoire-supported", nullptr, "iana_us-ascii_digits");
    ippAddString(extra, IPP_TAG_PRINTER, IPP_CONST_TAG(IPP_TAG_KEYWORD),
                 "job-password-repertoire-configured", nullptr, "iana_us-ascii_digits");
    // Accounting.
    for (const char* name : {"job-account-id", "job-accounting-user-id"}) {
        ippAddBoolean(extra, IPP_TAG_PRINTER, (std::string(name) + "-supported").c_str(), 1);
        ippAddOutOfBand(extra, IPP_TAG_PRINTER, IPP_TAG_NOVALUE,
                        (std::string(name) + "-default").c_str());
    }
    *attrs = extra;
}

}  // namespace pdftopjl::app
