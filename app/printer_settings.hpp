// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

// A printer's defaults and descriptive attributes, changed by name: the one
// place that checks and applies what `pdftopjl-app modify` and the Printing
// Defaults page ask for (PAPPL 1.3's Set-Printer-Attributes refuses
// sides-default, print-scaling-default and output-bin-default, and stores
// printer-location as the geo-location).
namespace pdftopjl::app {

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// The printer's "NAME-default" among `attrs` (its driver attributes) as
// text, empty when it has none.
std::string DefaultText(ipp_t* attrs, const std::string& name);

// name (with or without "-default") and value, as text.
using Setting = std::pair<std::string, std::string>;

// Checks every setting first and changes nothing unless all are good; else
// `error` says which one and why.
bool CheckSettings(pappl_printer_t* printer, const std::vector<Setting>& settings, std::string* error);
bool ApplySettings(pappl_printer_t* printer, const std::vector<Setting>& settings, std::string* error);

// PAPPL 1.3's Set-Printer-Attributes refuses sides-default,
// print-scaling-default and output-bin-default and stores printer-location
// as the geo-location.  For an authorized request naming any of those, the
// application applies the whole request itself (or leaves it for PAPPL to
// refuse when a value is bad) and leaves PAPPL an empty one.  Call from the
// authorization callback, the one hook that sees the request first.
void TakeOverSetPrinterAttributes(pappl_client_t* client);

// The IPP operation `pdftopjl-app modify` sends to the system: printer-name
// (operation attribute), device-uri and the settings as text (printer
// attributes).  Installs its handler.
inline constexpr ipp_op_t kOpModifyPrinter = static_cast<ipp_op_t>(0x4a00);
void InstallAdminOperations(pappl_system_t* system);

}  // namespace pdftopjl::app
