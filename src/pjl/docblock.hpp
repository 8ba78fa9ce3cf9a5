#pragma once

#include <string_view>

#include "pjl/writer.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

// The document block: name, hold and passcode, user and job name, copies,
// quality, colour, collation, trapping, tray, paper, media type, feed
// direction, duplex, finishing and pages per sheet.  `copies` is the filter's
// copies argument.
void WriteDocumentBlock(const PrintOptions& settings, std::string_view copies, PjlWriter& out);

// A stored job's passcode must reach the printer exactly as given: true when
// it can, false after a message when it is too long for its line or holds
// bytes the line cannot carry.  Checked before any byte of the job is written.
bool PasscodeFitsTheLine(const PrintOptions& settings);

}  // namespace pdftopjl
