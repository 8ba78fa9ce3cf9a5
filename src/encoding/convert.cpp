// SPDX-License-Identifier: Apache-2.0
#include "encoding/convert.hpp"

#include <iconv.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "job/log.hpp"
#include "encoding/unicode.hpp"

namespace pdftopjl {

namespace {

constexpr const char* kPrinterCodeSet = "SHIFT_JISX0213";
constexpr const char* kUnitCodeSet = "UTF-16LE";

// One UTF-16 unit never needs more than 3 bytes in UTF-8 or 2 in the printer
// code set, plus the terminating zero.
constexpr size_t kCharBufferSize = 6;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opened once per process and kept for its life; a missing converter is
// reported once and then every unit that needs it contributes nothing.
iconv_t openConverter(const char* to, const char* from)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == kNoConverter) {
        job::Logf(job::Severity::Warning,
                  "Cannot convert from %s to %s (%s); texts in it are left out of the header",
                  from, to,
                  std::strerror(errno));
    }
    return cd;
}

iconv_t encoder()
{
    static const iconv_t cd = openConverter(kPrinterCodeSet, kUnitCodeSet);
    return cd;
}

iconv_t decoder()
{
    static const iconv_t cd = openConverter(kUnitCodeSet, kPrinterCodeSet);
    return cd;
}

// Encodes one unit on its own into the printer code set.  The converter holds
// back a character that may start a combining pair, so it is flushed after
// the unit; a unit that does not convert (a lone surrogate half, a combining
// mark alone, a character outside JIS X 0213) leaves the buffer empty.
size_t encodeUnitInPrinterCodeSet(char16_t unit, char* out)
{
    iconv_t cd = encoder();
    if (cd == kNoConverter) return 0;
    char in[2] = {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    char* inPtr = in;
    size_t inLeft = sizeof in;
    char* outPtr = out;
    size_t outLeft = kCharBufferSize - 1;
    size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    if (result != static_cast<size_t>(-1)) result = iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (result == static_cast<size_t>(-1) || inLeft != 0) {
        std::memset(out, 0, kCharBufferSize);
        return 0;
    }
    return static_cast<size_t>(outPtr - out);
}

enum class Target { PrinterCodeSet, UTF8 };

size_t encodeUnit(char16_t unit, Target target, char* out)
{
    // ASCII is its own byte in the printer code set (backslash and tilde
    // kept as they are), so most jobs never load the converter.
    if (target == Target::UTF8 || unit < 0x80) return static_cast<size_t>(EncodeUnitAsUTF8(unit, out));
    return encodeUnitInPrinterCodeSet(unit, out);
}

int convert(const char* src, char* dst, int dstSize, Target target)
{
    if (dst == nullptr || dstSize <= 0) return 0;
    const size_t size = static_cast<size_t>(dstSize);
    std::memset(dst, 0, size);
    if (src == nullptr) return 0;

    std::u16string units;
    if (!DecodeUTF8(src, &units)) {
        job::Log(job::Severity::Warning,
                 "A text of the job (title, user or a setting) is not valid UTF-8 and is left "
                 "out of the header");
        job::LogHistorical("CFStringCreateWithCString fail");
        return 0;
    }

    // Bounded appending: a character is kept as far as it fits, so the text
    // may end inside it; once full, later characters add nothing.
    size_t length = 0;
    for (char16_t unit : units) {
        if (length >= size - 1) break;
        char buffer[kCharBufferSize] = {0};
        size_t count = encodeUnit(unit, target, buffer);
        size_t room = size - 1 - length;
        if (count > room) count = room;
        std::memcpy(dst + length, buffer, count);
        length += count;
    }
    dst[length] = '\0';
    return static_cast<int>(length);
}

}  // namespace

int ConvertToPrinterCodeSet(const char* src, char* dst, int dstSize)
{
    return convert(src, dst, dstSize, Target::PrinterCodeSet);
}

int RebuildAsUTF8(const char* src, char* dst, int dstSize)
{
    return convert(src, dst, dstSize, Target::UTF8);
}

std::u16string DecodePrinterCodeSet(std::string_view text)
{
    std::u16string units;
    // ASCII decodes byte for byte, but for the yen sign and overline that
    // JIS X 0201 puts at backslash and tilde.
    if (std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; })) {
        for (char c : text)
            units.push_back(c == 0x5C ? u'\u00A5' : c == 0x7E ? u'\u203E' : static_cast<char16_t>(c));
        return units;
    }
    iconv_t cd = decoder();
    if (cd == kNoConverter || text.empty()) return units;

    std::string in(text);
    std::string out(in.size() * 4 + 8, '\0');
    char* inPtr = in.data();
    size_t inLeft = in.size();
    char* outPtr = out.data();
    size_t outLeft = out.size();
    // Stops at the first sequence that does not decode; what came before it
    // is kept.
    iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);

    const size_t produced = static_cast<size_t>(outPtr - out.data());
    units.reserve(produced / 2);
    for (size_t i = 0; i + 1 < produced; i += 2)
        units.push_back(static_cast<char16_t>(static_cast<unsigned char>(out[i]) |
                                              (static_cast<unsigned char>(out[i + 1]) << 8)));
    return units;
}

}  // namespace pdftopjl
