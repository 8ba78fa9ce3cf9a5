// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cctype>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace pdftopjl {

// Copies as much of text as fits with a terminating zero into dst (size
// bytes) and clears the rest; returns the bytes kept.  An empty view may hold
// no pointer at all, so it is never handed to memcpy.
inline size_t CopyBounded(char* dst, size_t size, std::string_view text)
{
    if (dst == nullptr || size == 0) return 0;
    const size_t n = text.size() < size - 1 ? text.size() : size - 1;
    if (n != 0) std::memcpy(dst, text.data(), n);
    std::memset(dst + n, 0, size - n);
    return n;
}

// The decimal integer at the start of a text, as the job's options and tickets
// are read: optional leading white space and sign, then digits up to the first
// other character; 0 without digits.  Values beyond the 32-bit range saturate
// instead of overflowing.
inline int32_t ParseDecimalInt32(std::string_view text)
{
    size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const long long limit = negative ? -static_cast<long long>(INT32_MIN) : INT32_MAX;
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > limit) value = limit;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

// printf-shaped text of any length.
inline std::string FormatText(const char* format, va_list args)
{
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}

}  // namespace pdftopjl
