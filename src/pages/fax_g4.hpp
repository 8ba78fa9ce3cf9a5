// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

// One-bit images in CCITT Group 4 (T.6), which printers' PDF interpreters
// decode as a matter of course: on text, a fifth smaller than Flate behind
// PNG's predictors, and quicker to make.
namespace pdftopjl {

// Encodes `height` rows of `width` one-bit samples (packed, first in the
// high bit, rows `stride` bytes apart) as CCITTFaxDecode takes them with
// /K -1 and /BlackIs1 false (a sample 1 is white), ending in the
// end-of-block mark, into `out`.  Its size, 0 when that would be more than
// `limit` bytes.
size_t EncodeG4(const unsigned char* rows, int width, int height, size_t stride, unsigned char* out, size_t limit);

}  // namespace pdftopjl
