// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <span>
#include <string_view>

#include "models/model_table.hpp"

// The printers the application drives, one for each row of the model table
// (src/models): what IPP clients are offered and the PPD the layout filter
// reads for the same model, the one the build installs.
namespace pdftopjl::app {

// A vendor job attribute and the PPD option it sets.
struct VendorKeyword {
    const char* ipp;  // keyword
    const char* ppd;  // the PPD option's choice
};

struct Model {
    const char* driver;         // PAPPL driver name
    const char* description;    // shown by "drivers" and the web interface
    const char* deviceId;       // IEEE 1284 device ID
    const char* makeAndModel;
    std::string_view ppd;       // the PPD the layout filter reads
    int pagesPerMinute;
    std::span<const char* const> media;    // PWG size names
    const char* defaultMedia;
    int marginHundredthsMm;                // on every edge
    std::span<const char* const> sources;  // media-source, "auto" comes on its own
    std::span<const char* const> types;    // media-type
    std::span<const char* const> bins;     // output-bin
    std::span<const int> resolutions;      // dpi for PWG raster
    pappl_finishings_t finishings;
    // The finishing templates offered as finishings-col ("staple-dual-left").
    std::span<const char* const> finishingTemplates;
    const PrinterModel* row;  // the table's row
};

std::span<const Model> Models();
const Model* FindModel(std::string_view driver);
// The driver for an IEEE 1284 device ID: the model whose manufacturer and
// model (MFG and MDL) it names, compared without regard to case; null for none.
const char* MatchDevice(const char* deviceId);

// The PAPPL driver list for papplMainloop.
std::span<pappl_pr_driver_t> DriverList();

// The vendor attributes every model carries, with the PPD options they set.
inline constexpr const char kPrintType[] = "print-type";
inline constexpr const char kBypassFeedEdge[] = "bypass-feed-edge";
inline constexpr const char kTurnPage[] = "turn-page";
inline constexpr const char kPrintAsImage[] = "print-as-image";
inline constexpr const char kNumberUp[] = "number-up";
// Defaults only: the finishing template and the account of jobs that name none.
inline constexpr const char kFinishingPreset[] = "finishing-preset";
inline constexpr const char kAccountId[] = "account-id";

std::span<const VendorKeyword> PrintTypes();       // ZRPrintType
std::span<const VendorKeyword> BypassFeedEdges();  // ZRMSILeadingEdge
std::span<const int> NumberUpValues();

// Fills PAPPL's driver data and the extra printer attributes for a model.
void FillDriverData(const Model& model, pappl_pr_driver_data_t* data, ipp_t** attrs);

}  // namespace pdftopjl::app
