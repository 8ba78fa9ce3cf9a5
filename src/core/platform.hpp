// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdlib>

// Where this system's CUPS installation keeps its conversion tables and filter
// programs.  cupsd tells its filters through CUPS_DATADIR, CUPS_SERVERROOT and
// CUPS_SERVERBIN; the defaults apply when a variable is unset or empty.
namespace pdftopjl::platform {

// The macOS layout filter writes every copy into the document, and the
// copies rule of the edit decision keeps one copy's pages.  cups-filters'
// pdftopdf writes copies only when it decides the printer cannot collate, so
// the number of copies in its output cannot be known; it is asked for one
// copy, and the printer makes them all from the job header.
#if defined(__APPLE__)
inline constexpr bool kPreFilterMakesCopies = true;
#else
inline constexpr bool kPreFilterMakesCopies = false;
#endif

#if defined(__APPLE__)
inline constexpr const char kVendorConversionTable[] = "apple.convs";
inline constexpr const char kLayoutDestinationType[] = "application/vnd.apple-pdf";
inline constexpr const char kDefaultCupsDataDir[] = "/usr/share/cups";
inline constexpr const char kDefaultCupsServerRoot[] = "/etc/cups";
inline constexpr const char kDefaultCupsServerBin[] = "/usr/libexec/cups";
#else
inline constexpr const char kVendorConversionTable[] = "cupsfilters.convs";
inline constexpr const char kLayoutDestinationType[] = "application/vnd.cups-pdf";
inline constexpr const char kDefaultCupsDataDir[] = "/usr/share/cups";
inline constexpr const char kDefaultCupsServerRoot[] = "/etc/cups";
inline constexpr const char kDefaultCupsServerBin[] = "/usr/lib/cups";
#endif

inline const char* CupsDirectory(const char* variable, const char* fallback)
{
    const char* value = std::getenv(variable);
    return (value != nullptr && *value != '\0') ? value : fallback;
}

}  // namespace pdftopjl::platform
