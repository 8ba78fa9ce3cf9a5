// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace pdftopjl {

// Converts zero-terminated UTF-8 text into the printer code set (Shift-JIS
// X0213; backslash and tilde stay single bytes), one UTF-16 unit at a time,
// into dst of dstSize bytes (terminating zero included).  Returns the length
// of the result; 0 with a message when the source is not valid UTF-8.
int ConvertToPrinterCodeSet(const char* src, char* dst, int dstSize);

// The same, rebuilding the text as UTF-8 under the same rules.
int RebuildAsUTF8(const char* src, char* dst, int dstSize);

// Decodes text in the printer code set into UTF-16 units, up to the first
// byte sequence that does not decode (such as a lead byte cut off at the end).
std::u16string DecodePrinterCodeSet(std::string_view text);

}  // namespace pdftopjl
