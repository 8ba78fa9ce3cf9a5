#pragma once

#include <cctype>
#include <cstdint>
#include <string_view>

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
