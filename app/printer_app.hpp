// SPDX-License-Identifier: Apache-2.0
#pragma once

// pdftopjl-app: a PAPPL Printer Application that serves the printers the
// filter drives to driverless IPP clients.
namespace pdftopjl::app {

// PAPPL's main loop with its usual sub-commands (server, add, submit, ...).
int RunApp(int argc, char* argv[]);

}  // namespace pdftopjl::app
