// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pdftopjl {

// Allowed byte ranges of a document name: single bytes, then two-byte values
// (first byte * 256 + second byte); inclusive, at most 10 of each consulted.
struct NameRanges {
    int32_t count;
    int32_t range[10][2];  // low, high
};

struct DocumentNameRanges {
    NameRanges singleByte;
    NameRanges twoByte;
};

// Shift-JIS printable characters, and (for the wide products in UTF-8 mode)
// any character at all.
extern const DocumentNameRanges kShiftJisNameRanges;
extern const DocumentNameRanges kWideProductNameRanges;

// The document name the header carries, from the job title: cut to the
// panel's 32 columns, then (UTF-8 mode, with the dialog's product type) to
// the product's unit limit, and cleared when it holds what the printer cannot
// show.  A title that is not UTF-8 or would break the header's lines gives an
// empty name.
std::string FitDocumentName(std::string_view title, bool utf8Mode,
                            std::optional<int32_t> productType);

// True when the whole text is made of allowed units.  A two-byte value may
// take the terminating zero as its second byte.
bool IsValidDocumentName(const char* text, const DocumentNameRanges& ranges);

}  // namespace pdftopjl
