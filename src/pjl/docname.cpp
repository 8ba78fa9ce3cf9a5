// SPDX-License-Identifier: Apache-2.0
#include "pjl/docname.hpp"

#include <cstring>
#include <string>

#include "encoding/convert.hpp"
#include "encoding/unicode.hpp"
#include "job/text.hpp"

namespace pdftopjl {

const DocumentNameRanges kShiftJisNameRanges = {
    {2, {{0x20, 0x7E}, {0xA1, 0xDF}}},
    {4, {{0x8140, 0x9F7E}, {0x8180, 0x9FFC}, {0xE040, 0xFC7E}, {0xE080, 0xFCFC}}},
};

const DocumentNameRanges kWideProductNameRanges = {
    {1, {{0x20, 0xFF}}},
    {1, {{0x0020, 0xFFFF}}},
};

namespace {

constexpr size_t kNameSize = 255;  // what the name buffers hold, with the zero
constexpr int kColumnLimit = 32;
constexpr size_t kPrinterCodeSetCut = 32;

using NameBuffer = char[kNameSize + 1];

int usedRanges(const NameRanges& ranges)
{
    if (ranges.count <= 0) return 0;
    return ranges.count < 10 ? ranges.count : 10;
}

bool inSingleByteRanges(unsigned char byte, const NameRanges& ranges)
{
    for (int i = 0; i < usedRanges(ranges); ++i) {
        const int low = ranges.range[i][0] & 0xFF;
        const int high = ranges.range[i][1] & 0xFF;
        if (byte >= low && byte <= high) return true;
    }
    return false;
}

bool isTwoByteUnit(const unsigned char* p, const NameRanges& twoByte)
{
    if (p[0] == 0) return false;
    const int32_t value = p[0] * 256 + p[1];
    for (int i = 0; i < usedRanges(twoByte); ++i)
        if (value >= twoByte.range[i][0] && value <= twoByte.range[i][1]) return true;
    return false;
}

// Columns of a UTF-16 unit on the printer's panel: the test is on two bits,
// not on a range of characters.
int unitColumns(char16_t unit) { return (unit & 0x1100) != 0 ? 2 : 1; }

std::string_view text(const NameBuffer& name) { return {name, strnlen(name, kNameSize)}; }

void setName(NameBuffer& name, std::string_view value) { CopyBounded(name, kNameSize, value); }

void clearUnlessValid(NameBuffer& name, const DocumentNameRanges& ranges)
{
    if (!IsValidDocumentName(name, ranges)) std::memset(name, 0, sizeof name);
}

// Cuts the title in the printer code set to the panel's columns (a one-column
// unit taken as one byte, a two-column unit as two) and sets the name from it,
// or in UTF-8 mode from as many of the title's own units.
void fitToColumns(std::string_view title, bool utf8Mode, NameBuffer& coded, NameBuffer& name)
{
    // A name cut at 254 bytes may end in a lone lead byte; that lies beyond
    // the column limit, and the decoder stops before it.
    const std::u16string units = DecodePrinterCodeSet(text(coded));
    bool reachedLimit = false;
    size_t keptUnits = units.size();
    int columns = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        columns += unitColumns(units[i]);
        if (columns == kColumnLimit + 1 || columns == kColumnLimit) {
            const size_t cut = columns == kColumnLimit ? kColumnLimit : kColumnLimit - 1;
            std::memset(coded + cut, 0, kNameSize - cut);
            keptUnits = columns == kColumnLimit ? i + 1 : i;
            reachedLimit = true;
            break;
        }
    }

    if (!utf8Mode) {
        setName(name, text(coded).substr(0, kPrinterCodeSetCut));
    } else {
        std::u16string titleUnits;
        if (!DecodeUTF8(title, &titleUnits)) {
            // Not UTF-8: there is nothing sensible to send as its name.
            std::memset(name, 0, sizeof name);
            return;
        }
        if (!reachedLimit) {
            // Whole, but never ending inside a character.
            setName(name, CutUTF8AtCharacter(title, kNameSize - 1));
        } else {
            const size_t n = std::min(keptUnits, titleUnits.size());
            setName(name, EncodeUnitsAsUTF8(std::u16string_view(titleUnits).substr(0, n)));
        }
    }
    clearUnlessValid(name, kShiftJisNameRanges);
}

// UTF-8 mode: the dialog's product type limits the name to 64, 12 or 32
// units, and the wide products take any character.
void fitToProduct(std::optional<int32_t> productType, NameBuffer& name)
{
    if (!productType) {
        clearUnlessValid(name, kShiftJisNameRanges);
        return;
    }
    const size_t limit = *productType == 3 ? 64 : *productType == 2 ? 12 : 32;
    std::u16string units;
    if (!DecodeUTF8(text(name), &units)) {
        std::memset(name, 0, sizeof name);
        return;
    }
    if (units.size() > limit)
        setName(name, EncodeUnitsAsUTF8(std::u16string_view(units).substr(0, limit)));
    const bool wideProduct = *productType == 3 || *productType == 5;
    clearUnlessValid(name, wideProduct ? kWideProductNameRanges : kShiftJisNameRanges);
}

}  // namespace

bool IsValidDocumentName(const char* name, const DocumentNameRanges& ranges)
{
    if (name == nullptr) return false;
    const auto* p = reinterpret_cast<const unsigned char*>(name);
    while (*p != '\0') {
        if (isTwoByteUnit(p, ranges.twoByte)) {
            if (p[1] == '\0') return true;
            p += 2;
        } else if (inSingleByteRanges(*p, ranges.singleByte)) {
            ++p;
        } else {
            return false;
        }
    }
    return true;
}

std::string FitDocumentName(std::string_view title, bool utf8Mode,
                            std::optional<int32_t> productType)
{
    // A title that would break the header's lines gets no name at all.
    if (title.find_first_of("\r\n") != std::string_view::npos) return {};

    NameBuffer coded = {};
    NameBuffer name = {};
    const std::string titleText(title.substr(0, title.find('\0')));
    ConvertToPrinterCodeSet(titleText.c_str(), coded, static_cast<int>(kNameSize));
    fitToColumns(titleText, utf8Mode, coded, name);
    if (utf8Mode) fitToProduct(productType, name);
    return std::string(text(name));
}

}  // namespace pdftopjl
