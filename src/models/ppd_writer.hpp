// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

#include "models/model_table.hpp"

namespace pdftopjl {

// The model's PPD, as the build installs it and the Printer Application
// carries it: standard options for trays, sizes, types, bins, duplex, colour
// and quality; the printer's own options for what has no standard name
// (finishing, trapping, the bypass tray's feed edge, stored jobs,
// accounting, page turning, printing as an image).
std::string WritePpd(const PrinterModel& model);

// The PPD's file name: the model's PCFileName in lower case.
std::string PpdFileName(const PrinterModel& model);

}  // namespace pdftopjl
