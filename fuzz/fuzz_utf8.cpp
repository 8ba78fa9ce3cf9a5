// SPDX-License-Identifier: Apache-2.0
// The text conversions over any bytes and any buffer size.  The first byte
// is the buffer size (0-255); the rest, up to a NUL, is the source text.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "encoding/convert.hpp"
#include "encoding/unicode.hpp"
#include "fuzz_check.hpp"

using namespace pdftopjl;

namespace {

bool gStrictCut = false;

// Runs one conversion into a buffer of exactly dstSize bytes, so that the
// address sanitizer sees any write past it; returns what it holds.
std::string Convert(int (*convert)(const char*, char*, int), const std::string& text, int dstSize)
{
    std::unique_ptr<char[]> dst(new char[dstSize > 0 ? dstSize : 1]);
    dst[0] = 'x';
    const int length = convert(text.c_str(), dstSize > 0 ? dst.get() : nullptr, dstSize);
    if (dstSize <= 0) {
        FUZZ_REQUIRE(length == 0, "no buffer, no text");
        return {};
    }
    FUZZ_REQUIRE(length >= 0 && length < dstSize, "the result fits with its terminating zero");
    FUZZ_REQUIRE(dst[length] == '\0' && std::strlen(dst.get()) == static_cast<size_t>(length),
                 "the result is zero-terminated at its length");
    return std::string(dst.get(), static_cast<size_t>(length));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceJobMessages();
    // The conversions cut inside a character when the buffer is full; set
    // this to flag such cuts as well.
    gStrictCut = std::getenv("FUZZ_STRICT_UTF8_CUT") != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    const int dstSize = data[0];
    const std::string raw(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string text = raw.substr(0, raw.find('\0'));

    std::u16string units;
    const bool valid = DecodeUTF8(text, &units);
    FUZZ_REQUIRE(DecodeUTF8(text, nullptr) == valid, "checking agrees with decoding");
    if (valid) FUZZ_REQUIRE(EncodeUnitsAsUTF8(units) == text, "strict UTF-8 encodes back to itself");

    const std::string coded = Convert(ConvertToPrinterCodeSet, text, dstSize);
    const std::string rebuilt = Convert(RebuildAsUTF8, text, dstSize);
    if (!valid) {
        FUZZ_REQUIRE(coded.empty() && rebuilt.empty(), "text that is not UTF-8 converts to nothing");
        return 0;
    }

    // Rebuilt text: each character below U+10000 as it was, cut to the buffer.
    std::u16string bmp;
    for (char16_t unit : units)
        if (unit < 0xD800 || unit > 0xDFFF) bmp += unit;
    const std::string whole = EncodeUnitsAsUTF8(bmp);
    if (dstSize > 0)
        FUZZ_REQUIRE(rebuilt == whole.substr(0, static_cast<size_t>(dstSize - 1)),
                     "rebuilt text is the source's characters below U+10000, cut to the buffer");
    if (rebuilt.size() == whole.size() || gStrictCut)
        FUZZ_REQUIRE(DecodeUTF8(rebuilt, nullptr), "rebuilt text is valid UTF-8");
    return 0;
}
