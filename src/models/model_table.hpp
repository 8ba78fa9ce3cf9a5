// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "ticket/printer_profile.hpp"

// The printers this project drives, one row each.  The PPDs the build writes
// and the Printer Application's drivers both come from these rows, so adding
// a model is adding a row to kModels (model_table.cpp).
namespace pdftopjl {

// The job ticket's names for these (ticket/job_ticket.hpp), declared without
// their values so that this header also sits beside the settings' own types.
enum class Tray : uint8_t;
enum class OutputBin : uint8_t;
enum class MediaType : uint8_t;

// A paper source.  Tray choices are the standard InputSlot names, so that
// cupsd lists them as media-source values.
struct TrayEntry {
    Tray tray;
    const char* ppdChoice;  // InputSlot choice
    const char* text;       // shown in dialogs
    const char* ippSource;  // media-source keyword
    const char* pjl;        // MEDIASOURCE; null for the bypass tray (the model names it)
    bool optional;          // an installable option, fitted unless the administrator says not
};

struct OutputBinEntry {
    OutputBin bin;
    const char* ppdChoice;  // OutputBin choice
    const char* text;
    const char* ippBin;     // output-bin keyword
    bool onFinisher;        // there only when the finisher is fitted
};

struct MediaTypeEntry {
    MediaType type;
    const char* ppdChoice;  // MediaType choice
    const char* text;
    const char* ippType;    // media-type keyword; null for the printer's own default
};

// A unit the administrator may or may not have fitted.
enum class Unit : uint8_t { Absent, Optional };

struct PrinterModel {
    const char* driver;        // the Printer Application's driver name
    const char* manufacturer;  // IEEE 1284 MFG and the PPD's *Manufacturer
    const char* model;         // IEEE 1284 MDL
    const char* makeAndModel;  // "Zarelle ZX-4200"
    const char* modelName;     // the PPD's *ModelName and *NickName
    const char* pcFileName;    // the PPD's *PCFileName; its file is this name in lower case
    const char* deviceId;      // IEEE 1284 device ID
    bool colour;
    std::span<const char* const> sizes;  // PWG media names; the PPD names follow from them
    const char* defaultSize;
    std::span<const TrayEntry> trays;    // without automatic selection, which every model has
    const char* bypassTray;              // the bypass tray's MEDIASOURCE
    bool duplex;
    Unit finisher;  // stapler and its bins
    Unit punch;
    std::span<const OutputBinEntry> bins;
    std::span<const MediaTypeEntry> mediaTypes;
    CodeSet codeSet;
    LandscapeDirection landscape;
    int pagesPerMinute;
    int marginPoints;  // unprintable edge, the same on every side
    std::span<const int> resolutions;
};

std::span<const PrinterModel> Models();
// The row whose driver name is `driver`, or null.
const PrinterModel* FindModelByDriver(std::string_view driver);
// The row whose device ID names the same manufacturer and model as `mfg`
// and `mdl` (compared without regard to case), or null.
const PrinterModel* FindModelByDevice(std::string_view mfg, std::string_view mdl);
// What a job needs to know of the printer.
PrinterProfile ProfileOf(const PrinterModel& model);

// Whether the model offers staples and punching with its units as fitted by default.
inline bool Staples(const PrinterModel& model) { return model.finisher != Unit::Absent; }
inline bool Punches(const PrinterModel& model) { return model.punch != Unit::Absent; }

// The MIME type the printer's filter takes first (the PPD's first filter line).
inline constexpr const char kPrinterInputType[] = "application/pdf";

}  // namespace pdftopjl
