// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cups/job_inputs.hpp"
#include "ticket/job_ticket.hpp"

// The print dialog's tickets, and the CUPS, PPD and macOS options read the
// same way, into the job ticket.
namespace pdftopjl {

// The job's choices as the PPD names them, while the tickets, the standard
// options and the queue's defaults are weighed; typed into the ticket once
// all have had their say.  Empty (or -1) where nothing chose yet.
struct Choices {
    int32_t printType = -1;         // 2 stored, 3 proof
    int32_t documentNameType = -1;  // 1 the title, 2 the given name
    int32_t duplexing = -1;         // 1 one-sided, 2 long edge, 3 short edge
    std::string inputSlot, media, mediaType, colorMode, outputMode;
    std::string staple, punch, trapping, outputBin, collate;
    std::string msiLeadingEdge, turnPage, pdfRasterizedMode;
    std::string pageFormatOrientation, printSettingsOrientation;
};

// Reads every ticket the job carries: texts into the ticket as given (after
// the numeric escape), choices into `choices`.  A text longer than the
// printer's field for it is reported here; the header cuts it.
void ReadTickets(const JobOptions& options, bool utf8Mode, JobTicket& ticket, Choices& choices);

// An integer ticket, or nothing when the job does not carry it.
std::optional<int32_t> ReadTicketInteger(const JobOptions& options, const char* key);

// Undoes the numeric escape "/72/105" -> "Hi": a text that starts with "/"
// is a list of byte values; a value of 256 or more ends it.
std::string DecodeNumericEscape(std::string_view text);

}  // namespace pdftopjl
