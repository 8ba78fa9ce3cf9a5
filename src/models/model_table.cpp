// SPDX-License-Identifier: Apache-2.0
#include "models/model_table.hpp"

#include <cctype>

#include "ticket/job_ticket.hpp"

namespace pdftopjl {

namespace {

constexpr const char* kLargeOfficeSizes[] = {
    "iso_a3_297x420mm",   "iso_a4_210x297mm",  "iso_a5_148x210mm",  "jis_b4_257x364mm",
    "jis_b5_182x257mm",   "na_letter_8.5x11in", "na_legal_8.5x14in", "na_ledger_11x17in",
};
constexpr const char* kA4OfficeSizes[] = {
    "iso_a4_210x297mm", "iso_a5_148x210mm", "jis_b5_182x257mm", "na_letter_8.5x11in", "na_legal_8.5x14in",
};

constexpr TrayEntry kTray1 = {Tray::Tray1, "Tray1", "Tray 1", "tray-1", "TRAY1", false};
constexpr TrayEntry kTray2 = {Tray::Tray2, "Tray2", "Tray 2", "tray-2", "TRAY2", false};
constexpr TrayEntry kTray2Optional = {Tray::Tray2, "Tray2", "Tray 2", "tray-2", "TRAY2", true};
constexpr TrayEntry kTray3Optional = {Tray::Tray3, "Tray3", "Tray 3", "tray-3", "TRAY3", true};
constexpr TrayEntry kTray4Optional = {Tray::Tray4, "Tray4", "Tray 4", "tray-4", "TRAY4", true};
constexpr TrayEntry kBypass = {Tray::Bypass, "MPTray", "Bypass Tray", "by-pass-tray", nullptr, false};

constexpr TrayEntry kFourTrays[] = {kTray1, kTray2, kTray3Optional, kTray4Optional, kBypass};
constexpr TrayEntry kTwoTrays[] = {kTray1, kTray2Optional, kBypass};

constexpr OutputBinEntry kMainBin = {OutputBin::Main, "FaceDown", "Main Tray", "face-down", false};
constexpr OutputBinEntry kFaceUpBin = {OutputBin::FaceUp, "FaceUp", "Rear Tray (Face Up)", "face-up", false};
constexpr OutputBinEntry kFinisherBins[] = {
    kMainBin,
    kFaceUpBin,
    {OutputBin::Stacker1, "Stacker1", "Finisher Tray 1", "stacker-1", true},
    {OutputBin::Stacker2, "Stacker2", "Finisher Tray 2", "stacker-2", true},
};
constexpr OutputBinEntry kPlainBins[] = {kMainBin, kFaceUpBin};

constexpr MediaTypeEntry kOfficeTypes[] = {
    {MediaType::Default, "Default", "Printer Default", nullptr},
    {MediaType::Plain, "Plain", "Plain", "stationery"},
    {MediaType::Recycled, "Recycled", "Recycled", "stationery-recycled"},
    {MediaType::Thick, "Thick", "Thick", "cardstock"},
};

constexpr int kResolutions[] = {300, 600};

const PrinterModel kModels[] = {
    {
        .driver = "zarelle_zx4200",
        .manufacturer = "Zarelle",
        .model = "ZX-4200",
        .makeAndModel = "Zarelle ZX-4200",
        .modelName = "Zarelle ZX-4200 PDF",
        .pcFileName = "ZX4200.PPD",
        .deviceId = "MFG:Zarelle;MDL:ZX-4200;CMD:PJL,PDF;",
        .colour = true,
        .sizes = kLargeOfficeSizes,
        .defaultSize = "iso_a4_210x297mm",
        .trays = kFourTrays,
        .bypassTray = "TRAY5",
        .duplex = true,
        .finisher = Unit::Optional,
        .punch = Unit::Optional,
        .bins = kFinisherBins,
        .mediaTypes = kOfficeTypes,
        .codeSet = CodeSet::Utf8,
        .landscape = LandscapeDirection::Plus90,
        .pagesPerMinute = 30,
        .marginPoints = 12,
        .resolutions = kResolutions,
    },
    {
        .driver = "zarelle_zx2100",
        .manufacturer = "Zarelle",
        .model = "ZX-2100",
        .makeAndModel = "Zarelle ZX-2100",
        .modelName = "Zarelle ZX-2100 PDF",
        .pcFileName = "ZX2100.PPD",
        .deviceId = "MFG:Zarelle;MDL:ZX-2100;CMD:PJL,PDF;",
        .colour = false,
        .sizes = kA4OfficeSizes,
        .defaultSize = "iso_a4_210x297mm",
        .trays = kTwoTrays,
        .bypassTray = "SMH",
        .duplex = true,
        .finisher = Unit::Absent,
        .punch = Unit::Absent,
        .bins = kPlainBins,
        .mediaTypes = kOfficeTypes,
        .codeSet = CodeSet::ShiftJis,
        .landscape = LandscapeDirection::Plus90,
        .pagesPerMinute = 20,
        .marginPoints = 12,
        .resolutions = kResolutions,
    },
    {
        .driver = "zarelle_zx6500c",
        .manufacturer = "Zarelle",
        .model = "ZX-6500C",
        .makeAndModel = "Zarelle ZX-6500C",
        .modelName = "Zarelle ZX-6500C PDF",
        .pcFileName = "ZX6500C.PPD",
        .deviceId = "MFG:Zarelle;MDL:ZX-6500C;CMD:PJL,PDF;",
        .colour = true,
        .sizes = kLargeOfficeSizes,
        .defaultSize = "iso_a4_210x297mm",
        .trays = kFourTrays,
        .bypassTray = "TRAY5",
        .duplex = true,
        .finisher = Unit::Optional,
        .punch = Unit::Absent,
        .bins = kFinisherBins,
        .mediaTypes = kOfficeTypes,
        .codeSet = CodeSet::Utf8,
        .landscape = LandscapeDirection::Minus90,
        .pagesPerMinute = 50,
        .marginPoints = 12,
        .resolutions = kResolutions,
    },
};

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::span<const PrinterModel> Models() { return kModels; }

const PrinterModel* FindModelByDriver(std::string_view driver)
{
    for (const PrinterModel& model : kModels)
        if (driver == model.driver) return &model;
    return nullptr;
}

const PrinterModel* FindModelByDevice(std::string_view mfg, std::string_view mdl)
{
    for (const PrinterModel& model : kModels)
        if (sameText(mfg, model.manufacturer) && sameText(mdl, model.model)) return &model;
    return nullptr;
}

PrinterProfile ProfileOf(const PrinterModel& model)
{
    PrinterProfile profile;
    profile.described = true;
    profile.codeSet = model.codeSet;
    profile.bypassTrayName = model.bypassTray;
    profile.landscape = model.landscape;
    profile.filterInputType = kPrinterInputType;
    return profile;
}

}  // namespace pdftopjl
