// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

namespace pdftopjl::app {

// The printer's Printing Defaults page (/PRINTER/printing) in place of
// PAPPL's: an automatic tray, the printer's own options by their labels,
// staple/punch and account defaults, no settings that change nothing, and a
// save that changes only what the form changed.  Call from the printer
// creation callback.
void AddDefaultsPage(pappl_printer_t* printer);

}  // namespace pdftopjl::app
