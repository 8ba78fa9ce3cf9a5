#include "encoding/convert.hpp"

#include <cstring>

// Placeholder until the code-set conversion lands: bounded copy.
static int boundedCopy(const char* src, char* dst, int dstSize)
{
    if (dst == nullptr || dstSize <= 0) return 0;
    std::memset(dst, 0, static_cast<size_t>(dstSize));
    if (src == nullptr) return 0;
    size_t n = strnlen(src, static_cast<size_t>(dstSize - 1));
    std::memcpy(dst, src, n);
    return static_cast<int>(n);
}

int ConvertUTF8ToEncoding(const char* src, char* dst, int dstSize)
{
    return boundedCopy(src, dst, dstSize);
}

int ConvertUTF8ToEncodingForUTF8(const char* src, char* dst, int dstSize)
{
    return boundedCopy(src, dst, dstSize);
}
