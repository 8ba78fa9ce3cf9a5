// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

// What the printer is, as far as a job needs to know: read from its PPD by
// the CUPS adapter, or from the model table by the Printer Application.
namespace pdftopjl {

// How the printer takes texts.  IsoLatin1 printers are told HPROMAN8 but
// get their texts as the Shift-JIS ones do (ASCII alike in both).
enum class CodeSet : uint8_t { ShiftJis, IsoLatin1, Utf8 };

// Which way the printer turns landscape pages; a reversed orientation turns
// them the other way, which the filter makes up with a half turn.
enum class LandscapeDirection : uint8_t { Unknown, Plus90, Minus90 };

struct PrinterProfile {
    // The queue's name, which the layout filter is started under.
    std::string queueName;
    // False when nothing describes the printer (no PPD): pages are then sent
    // as the job gave them.
    bool described = false;
    CodeSet codeSet = CodeSet::ShiftJis;
    // PJL MEDIASOURCE of the bypass tray; a PPD without a ModelName leaves it
    // empty, as such queues have always printed.
    std::string bypassTrayName = "TRAY5";
    LandscapeDirection landscape = LandscapeDirection::Unknown;
    // The MIME type the printer's own filter takes, which names the layout
    // filter; empty when there is none.
    std::string filterInputType;
    // The document was laid out before it reached this filter (CUPS ran the
    // layout filter in its own chain).
    bool laidOutBefore = false;
};

}  // namespace pdftopjl
