#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/job_inputs.hpp"
#include "settings/print_options.hpp"

// The job's tickets (print dialog settings and the CUPS, PPD and macOS
// options read the same way) into the print-options record.
namespace pdftopjl {

// How a ticket's text reaches its field.
enum class TicketText {
    AsGiven,         // bytes as sent (after the numeric escape)
    PrinterCodeSet,  // converted into the printer code set
    Name,            // as given; rebuilt as checked UTF-8 for a UTF-8 printer
};

// Reads every ticket the job carries into the record; fields whose ticket is
// absent read -1 (integers) or empty (texts).
void ReadTickets(const JobOptions& options, bool utf8Mode, PrintOptions& record);

// An integer ticket, or nothing when the job does not carry it.
std::optional<int32_t> ReadTicketInteger(const JobOptions& options, const char* key);

// A ticket's text as its kind says, cut to width - 1 bytes (empty when the
// job does not carry it).
std::string ReadTicketText(const JobOptions& options, const char* key, TicketText kind,
                           bool utf8Mode, size_t width);

// Undoes the numeric escape "/72/105" -> "Hi": a text that starts with "/"
// is a list of byte values; a value of 256 or more ends it.
std::string DecodeNumericEscape(std::string_view text);

}  // namespace pdftopjl
