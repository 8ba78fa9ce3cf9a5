// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace pdftopjl {

// Strict UTF-8 decoding into UTF-16 code units.  Rejects stray continuation
// bytes, truncated sequences, overlong forms, encoded surrogates and values
// above U+10FFFF.  With a null `units` the text is only checked.
bool DecodeUTF8(std::string_view text, std::u16string* units);

// Writes one UTF-16 unit as UTF-8 into out (room for 3 bytes); returns the
// number of bytes.  A surrogate half has no encoding of its own: 0.
int EncodeUnitAsUTF8(char16_t unit, char* out);

// The units as one UTF-8 text: a surrogate pair gives its character, a
// half without its partner (as after a cut) contributes nothing.
std::string EncodeUnitsAsUTF8(std::u16string_view units);

// Longest prefix of `text` of at most maxBytes bytes that does not end inside
// a multi-byte character (text assumed to be UTF-8).
std::string_view CutUTF8AtCharacter(std::string_view text, size_t maxBytes);

}  // namespace pdftopjl
