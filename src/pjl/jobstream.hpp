// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A job stream as this filter writes it, taken apart for inspection:
// UEL + job line, header lines, ENTER LANGUAGE=PDF, FSIZ bytes of PDF, then
// the UEL + EOJ trailer (with USTATUSOFF before EOJ when the header asked
// for status changes).
namespace pdftopjl {

struct JobStream {
    bool valid = false;
    std::string error;                 // why the stream is malformed
    std::vector<std::string> header;   // header lines, line feeds removed
    std::string codeSet;               // STRINGCODESET value without quotes
    int64_t fileSize = -1;             // the FSIZ value
    std::string_view body;             // the PDF (points into the parsed text)
};

JobStream ParseJobStream(std::string_view stream);
// The body points into the stream, so a temporary one would leave it
// dangling.
JobStream ParseJobStream(std::string&& stream) = delete;

// Where the "@PJL ENTER LANGUAGE=PDF" line starts: at the start of a line
// only, since a header value may hold the same text.  npos when there is none.
size_t EnterLanguageLine(std::string_view stream);
inline constexpr std::string_view kEnterLanguageLine = "@PJL ENTER LANGUAGE=PDF\n";

inline constexpr std::string_view kTrailer = "\x1b%-12345X@PJL EOJ\n";
inline constexpr std::string_view kStatusTrailer = "\x1b%-12345X@PJL USTATUSOFF\n@PJL EOJ\n";
// The length of the trailer `text` starts with, 0 when it starts with none.
size_t TrailerLength(std::string_view text);

// A header line made readable: ESC as "<ESC>", texts decoded from the
// printer code set (Shift-JIS X0213) or UTF-8, other bytes as \xNN.
std::string ReadableLine(std::string_view line, std::string_view codeSet);

}  // namespace pdftopjl
