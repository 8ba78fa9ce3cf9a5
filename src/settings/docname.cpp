#include "settings/docname.hpp"

#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "encoding/convert.hpp"
#include "encoding/unicode.hpp"
#include "settings/job_options.hpp"
#include "settings/ticket_keys.hpp"
#include "settings/tickets.hpp"

char StdDocumentName[256];
char PTStdDocumentName[256];

const DocuNameValidateData docuNameValidateDataScale = {
    {2, {{0x20, 0x7E}, {0xA1, 0xDF}}},
    {4, {{0x8140, 0x9F7E}, {0x8180, 0x9FFC}, {0xE040, 0xFC7E}, {0xE080, 0xFCFC}}},
};

const DocuNameValidateData docuNameValidateDataScaleForProduct03 = {
    {2, {{0x20, 0x7E}, {0xA1, 0xDF}}},
    {4, {{0x8140, 0x9F7E}, {0x8180, 0x9FFC}, {0xE040, 0xFC7E}, {0xE080, 0xFCFC}}},
};

const DocuNameValidateData docuNameValidateDataScaleForProduct03UTF8 = {
    {1, {{0x20, 0xFF}}},
    {1, {{0x0020, 0xFFFF}}},
};

namespace {

constexpr size_t kNameClearSize = 255;
constexpr size_t kNameMaxBytes = 254;
constexpr int kColumnLimit = 32;
constexpr size_t kPrinterCodeSetCut = 32;

int usedRanges(const DocuNameValidateRanges& ranges)
{
    if (ranges.count <= 0) return 0;
    return ranges.count < 10 ? ranges.count : 10;
}

bool inSingleByteRanges(unsigned char byte, const DocuNameValidateRanges& ranges)
{
    for (int i = 0; i < usedRanges(ranges); ++i) {
        const int low = ranges.range[i][0] & 0xFF;
        const int high = ranges.range[i][1] & 0xFF;
        if (byte >= low && byte <= high) return true;
    }
    return false;
}

// Columns of a UTF-16 unit on the printer's panel: the test is on two bits,
// not on a range of characters.
int unitColumns(char16_t unit) { return (unit & 0x1100) != 0 ? 2 : 1; }

void setName(char* name, std::string_view text)
{
    std::memset(name, 0, kNameClearSize);
    const size_t n = text.size() < kNameMaxBytes ? text.size() : kNameMaxBytes;
    std::memcpy(name, text.data(), n);
}

void clearUnlessValid(const DocuNameValidateData& table)
{
    if (!ValidateDada(PTStdDocumentName, &table)) std::memset(PTStdDocumentName, 0, kNameClearSize);
}

const char* jobTitle(char* argv[]) { return argv[3] != nullptr ? argv[3] : ""; }

}  // namespace

int ISWordValid(const char* position, const DocuNameValidateRanges* twoByte)
{
    const auto* p = reinterpret_cast<const unsigned char*>(position);
    if (p == nullptr || twoByte == nullptr || p[0] == 0) return 0;
    const int32_t value = p[0] * 256 + p[1];
    for (int i = 0; i < usedRanges(*twoByte); ++i)
        if (value >= twoByte->range[i][0] && value <= twoByte->range[i][1]) return 1;
    return 0;
}

int ValidateDada(const char* text, const DocuNameValidateData* table)
{
    if (text == nullptr || table == nullptr) return 0;
    const char* p = text;
    while (*p != '\0') {
        if (ISWordValid(p, &table->twoByte)) {
            // A two-byte value may take the terminating zero as its second byte.
            if (p[1] == '\0') return 1;
            p += 2;
        } else if (inSingleByteRanges(static_cast<unsigned char>(*p), table->singleByte)) {
            ++p;
        } else {
            return 0;
        }
    }
    return 1;
}

void InvalidateStdDocumentNameForProductType(char* argv[], bool utf8Mode)
{
    // A name cut at 254 bytes may end in a lone lead byte; that lies beyond
    // the column limit, and the decoder stops before it.
    const std::u16string units =
        DecodePrinterCodeSet(std::string_view(StdDocumentName, strnlen(StdDocumentName, kNameClearSize)));

    // The byte cuts take a one-column unit as one byte and a two-column unit
    // as two bytes in the printer code set.
    bool reachedLimit = false;
    size_t keptUnits = units.size();
    int columns = 0;
    for (size_t i = 0; i < units.size(); ++i) {
        columns += unitColumns(units[i]);
        if (columns == kColumnLimit + 1) {
            std::memset(StdDocumentName + kColumnLimit - 1, 0, kNameClearSize - (kColumnLimit - 1));
            keptUnits = i;
            reachedLimit = true;
            break;
        }
        if (columns == kColumnLimit) {
            std::memset(StdDocumentName + kColumnLimit, 0, kNameClearSize - kColumnLimit);
            keptUnits = i + 1;
            reachedLimit = true;
            break;
        }
    }

    if (utf8Mode) {
        const std::string_view title = jobTitle(argv);
        std::u16string titleUnits;
        if (!DecodeUTF8(title, &titleUnits)) {
            // Not UTF-8: there is nothing sensible to send as its name.
            std::memset(PTStdDocumentName, 0, kNameClearSize);
            return;
        }
        if (!reachedLimit) {
            // Whole, but never ending inside a character.
            setName(PTStdDocumentName, CutUTF8AtCharacter(title, kNameMaxBytes));
        } else {
            const size_t n = keptUnits < titleUnits.size() ? keptUnits : titleUnits.size();
            setName(PTStdDocumentName, EncodeUnitsAsUTF8(std::u16string_view(titleUnits).substr(0, n)));
        }
    } else {
        setName(PTStdDocumentName,
                std::string_view(StdDocumentName, strnlen(StdDocumentName, kPrinterCodeSetCut)));
    }
    clearUnlessValid(docuNameValidateDataScaleForProduct03);
}

void InvalidatePrintTypeDocumentNameForProductType(char* argv[])
{
    std::optional<JobOptions> local;
    const JobOptions& options = JobOptionsFor(argv[5], local);
    int32_t productType = -1;
    if (!GetTicketInteger(kPrintTypeProductType, options.count(), options.list(), &productType,
                          sizeof productType)) {
        clearUnlessValid(docuNameValidateDataScale);
        return;
    }

    const size_t limit = productType == 3 ? 64 : productType == 2 ? 12 : 32;
    std::u16string units;
    if (!DecodeUTF8(std::string_view(PTStdDocumentName, strnlen(PTStdDocumentName, kNameClearSize)),
                    &units)) {
        std::memset(PTStdDocumentName, 0, kNameClearSize);
        return;
    }
    if (units.size() > limit)
        setName(PTStdDocumentName, EncodeUnitsAsUTF8(std::u16string_view(units).substr(0, limit)));

    const bool wideProduct = productType == 3 || productType == 5;
    clearUnlessValid(wideProduct ? docuNameValidateDataScaleForProduct03UTF8 : docuNameValidateDataScale);
}
