// SPDX-License-Identifier: Apache-2.0
#include "encoding/unicode.hpp"

namespace pdftopjl {

namespace {

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

bool DecodeUTF8(std::string_view text, std::u16string* units)
{
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char lead = p[i];
        if (lead < 0x80) {
            if (units != nullptr) units->push_back(lead);
            ++i;
            continue;
        }
        // Sequence length and the allowed range of the second byte, which
        // is what excludes overlong forms, surrogates and values past U+10FFFF.
        size_t length;
        unsigned char low = 0x80, high = 0xBF;
        char32_t value;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (n - i < length) return false;
        if (p[i + 1] < low || p[i + 1] > high) return false;
        for (size_t k = 1; k < length; ++k) {
            if (!isContinuation(p[i + k])) return false;
            value = (value << 6) | (p[i + k] & 0x3F);
        }
        i += length;
        if (units == nullptr) continue;
        if (value < 0x10000) {
            units->push_back(static_cast<char16_t>(value));
        } else {
            value -= 0x10000;
            units->push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
            units->push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
        }
    }
    return true;
}

int EncodeUnitAsUTF8(char16_t unit, char* out)
{
    if (unit < 0x80) {
        out[0] = static_cast<char>(unit);
        return 1;
    }
    if (unit < 0x800) {
        out[0] = static_cast<char>(0xC0 | (unit >> 6));
        out[1] = static_cast<char>(0x80 | (unit & 0x3F));
        return 2;
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) return 0;
    out[0] = static_cast<char>(0xE0 | (unit >> 12));
    out[1] = static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (unit & 0x3F));
    return 3;
}

std::string EncodeUnitsAsUTF8(std::u16string_view units)
{
    std::string out;
    out.reserve(units.size() * 3);
    char bytes[4];
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        if (high && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            const char32_t value = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                                   (units[i + 1] - 0xDC00);
            bytes[0] = static_cast<char>(0xF0 | (value >> 18));
            bytes[1] = static_cast<char>(0x80 | ((value >> 12) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | ((value >> 6) & 0x3F));
            bytes[3] = static_cast<char>(0x80 | (value & 0x3F));
            out.append(bytes, 4);
            ++i;
            continue;
        }
        out.append(bytes, static_cast<size_t>(EncodeUnitAsUTF8(unit, bytes)));
    }
    return out;
}

std::string_view CutUTF8AtCharacter(std::string_view text, size_t maxBytes)
{
    if (text.size() <= maxBytes) return text;
    size_t end = maxBytes;
    // Step back over the continuation bytes of the character that the cut
    // would split, and over its lead byte.
    while (end > 0 && isContinuation(static_cast<unsigned char>(text[end]))) --end;
    return text.substr(0, end);
}

}  // namespace pdftopjl
