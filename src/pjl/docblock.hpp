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

// A stored job is held under the passcode the job gave, or not sent at all:
// true when it can be, false after an error saying why (a passcode that is not
// 4 to 8 digits, one sent encrypted, or only the queue's default, which every
// user can read).  Checked before any byte of the job is written.
bool StoredJobPasscodeUsable(const PrintOptions& settings);

}  // namespace pdftopjl
