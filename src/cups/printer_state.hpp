// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "pjl/status.hpp"

// The printer's state as a CUPS filter reports it: printer-state-reasons in
// STATE: lines, with the severities CUPS backends give them, and the text in
// an INFO: line (the printer-state-message).
namespace pdftopjl {

// Whether the filter hears the printer: the device URI's backend copies what
// the printer sends to the back channel (socket, usb, and DNS-SD names of
// socket printers), and `fd` is a pipe or socket, as cupsd gives filters.
bool BackChannelOffered(const char* deviceUri, int fd);

// Whether `spoolFile` is a document of a job with more after it in cupsd's
// spool (d<job>-<n> with d<job>-<n+1> beside it): cupsd keeps such a job's
// back channel open for the next document.
bool LaterDocumentFollows(const char* spoolFile);

class CupsPrinterState {
public:
    // The lines for a newly reported condition.  The first sets every
    // reason the filter reports, a previous job's included.
    std::string Update(const PrinterCondition& now);
    // The lines when the job ends: reasons that only hold while a job prints
    // (media-needed, offline) are cleared, as nothing will clear them later.
    std::string EndJob();

private:
    bool known_ = false;
    uint32_t reasons_ = 0;
    std::string text_;
};

}  // namespace pdftopjl
