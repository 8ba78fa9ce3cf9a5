// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <cstddef>

namespace pdftopjl::app {

// The driver's self-test page: a one-page PDF naming the printer, its device,
// its defaults and the time, printed as any PDF job.  The file's path, in
// PAPPL's temporary folder (PAPPL removes it when the job ends), or null.
const char* PrintTestPage(pappl_printer_t* printer, char* buffer, size_t size);

}  // namespace pdftopjl::app
