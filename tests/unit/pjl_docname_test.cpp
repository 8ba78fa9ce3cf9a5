// SPDX-License-Identifier: Apache-2.0
// Fitting the job title into the document name, and the range validator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cups/ticket_keys.hpp"
#include "cups/tickets.hpp"
#include "pjl/docname.hpp"

using namespace pdftopjl;

namespace {

const std::string kHiraganaA = "\xE3\x81\x82";  // U+3042, two columns
const std::string kIchi = "\xE4\xB8\x80";       // U+4E00, one column, two bytes in Shift-JIS
const std::string kIchiSjis = "\x88\xEA";
const std::string kEmoji = "\xF0\x9F\x98\x80";

std::string Repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

// The fitting as option gathering runs it.
std::string Fit(const std::string& title, bool utf8Mode, const std::string& options = "")
{
    JobOptions parsed(options.c_str());
    ::testing::internal::CaptureStderr();
    std::string name = FitDocumentName(title, utf8Mode, ReadTicketInteger(parsed, kPrintTypeProductType));
    ::testing::internal::GetCapturedStderr();
    return name;
}

std::string ProductType(int type)
{
    return std::string(kPrintTypeProductType) + "=" + std::to_string(type);
}

struct FitCase {
    const char* name;
    std::string title;
    bool utf8Mode;
    std::string options;
    std::string expected;
};

class DocumentNameFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(DocumentNameFit, IsFitted)
{
    const FitCase& c = GetParam();
    EXPECT_EQ(Fit(c.title, c.utf8Mode, c.options), c.expected);
}

const std::string k40 = std::string(40, 'a');
const std::string k20 = "ABCDEFGHIJKLMNOPQRST";
const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // U+65E5 U+672C U+8A9E
const std::string kAComma = kHiraganaA + "\xE3\x80\x81";               // U+3042 U+3001

INSTANTIATE_TEST_SUITE_P(
    PrinterCodeSet, DocumentNameFit,
    ::testing::Values(
        FitCase{"FortyLetters", k40, false, "", std::string(32, 'a')},
        FitCase{"ShortTitleWhole", "Report Q3", false, "", "Report Q3"},
        FitCase{"TwoColumnUnitCrossingTheLimit", std::string(31, 'a') + kHiraganaA, false, "",
                std::string(31, 'a')},
        FitCase{"TwoColumnUnitEndingAtTheLimit", std::string(30, 'a') + kHiraganaA + "b", false,
                "", std::string(30, 'a') + "\x82\xA0"},
        FitCase{"ThirtyTwoOneColumnKanji", Repeat(kIchi, 32), false, "", Repeat(kIchiSjis, 16)},
        FitCase{"LatinAWithMacronCountsTwo", std::string(31, 'a') + "\xC4\x80", false, "",
                std::string(31, 'a')},
        FitCase{"Tab", "a\tb", false, "", ""},
        FitCase{"Empty", "", false, "", ""},
        FitCase{"BackslashKept", "a\\b~", false, "", "a\\b~"},
        FitCase{"DroppedCharactersTakeNoColumns", std::string(31, 'a') + kEmoji + "b", false, "",
                std::string(31, 'a') + "b"},
        FitCase{"InvalidTitle", "ab\xFF", false, "", ""},
        FitCase{"ProductTypeIgnored", k40, false, ProductType(2), std::string(32, 'a')}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

INSTANTIATE_TEST_SUITE_P(
    Utf8Mode, DocumentNameFit,
    ::testing::Values(
        FitCase{"ProductTypeTwoKeepsTwelve", k20, true, ProductType(2), "ABCDEFGHIJKL"},
        FitCase{"ProductTypeThreeKeepsAll", k20, true, ProductType(3), k20},
        FitCase{"ProductTypeAbsentOnlyValidates", k20, true, "", k20},
        FitCase{"OtherProductTypeKeepsThirtyTwoUnits", k40, true, ProductType(7),
                std::string(32, 'a')},
        FitCase{"ThirtyTwoColumnsFirst", k40, true, ProductType(3), std::string(32, 'a')},
        FitCase{"TwoColumnUnitCrossingTheLimit", std::string(31, 'a') + kHiraganaA, true, "",
                std::string(31, 'a')},
        // U+65E5 has bit 0x0100 set: two columns.
        FitCase{"KanjiKeptAsUtf8", Repeat("\xE6\x97\xA5", 40), true, "",
                Repeat("\xE6\x97\xA5", 16)},
        // The 32-column check tests UTF-8 bytes against Shift-JIS ranges.
        FitCase{"Utf8BytesOutsideTheRangesCleared", Repeat(kIchi, 40), true, "", ""},
        FitCase{"NihongoPassesOnItsLastByte", kNihongo, true, "", kNihongo},
        FitCase{"NihongoProductTwo", kNihongo, true, ProductType(2), kNihongo},
        FitCase{"NihongoProductThree", kNihongo, true, ProductType(3), kNihongo},
        FitCase{"HiraganaCommaClearedAbsent", kAComma, true, "", ""},
        FitCase{"HiraganaCommaClearedTwo", kAComma, true, ProductType(2), ""},
        FitCase{"HiraganaCommaClearedThree", kAComma, true, ProductType(3), ""},
        FitCase{"HiraganaCommaClearedFive", kAComma, true, ProductType(5), ""},
        FitCase{"Tab", "a\tb", true, ProductType(3), ""},
        FitCase{"Empty", "", true, ProductType(3), ""},
        FitCase{"CutLeavesHalfASurrogatePair", std::string(31, 'a') + kEmoji + "bcd", true, "",
                std::string(31, 'a')},
        FitCase{"WholePairKept", std::string(30, 'a') + kEmoji + "b", true, "",
                std::string(30, 'a') + kEmoji + "b"},
        FitCase{"LongTitleOfDroppedCharactersCutAtACharacter", Repeat(kEmoji, 100), true, "",
                Repeat(kEmoji, 63)},
        FitCase{"ProductLimitCountsUnits", Repeat(kEmoji, 100), true, ProductType(3),
                Repeat(kEmoji, 32)},
        FitCase{"InvalidTitleAbsent", "ab\x81\x40", true, "", ""},
        FitCase{"InvalidTitleProductThree", "ab\x81\x40", true, ProductType(3), ""}),
    [](const ::testing::TestParamInfo<FitCase>& info) { return info.param.name; });

TEST(DocumentNameFit, NameEndingInALoneLeadByteIsDecodedUpToIt)
{
    // 'a' then 127 kanji: the conversion stops at 254 bytes inside the last one.
    EXPECT_EQ(Fit("a" + Repeat(kIchi, 127), false), "a" + Repeat(kIchiSjis, 15) + "\x88");
}

struct ValidateCase {
    const char* name;
    std::string text;
    const DocumentNameRanges* table;
    int expected;
};

class Validate : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(Validate, Checks)
{
    EXPECT_EQ(IsValidDocumentName(GetParam().text.c_str(), *GetParam().table), GetParam().expected != 0);
}

const DocumentNameRanges* const kScale = &kShiftJisNameRanges;
const DocumentNameRanges* const kProduct03 = &kShiftJisNameRanges;
const DocumentNameRanges* const kProduct03Utf8 = &kWideProductNameRanges;
const DocumentNameRanges kNoRanges = {{0, {}}, {-3, {{0, 0xFFFF}}}};
const DocumentNameRanges kWideLowBits = {{1, {{0x141, 0x15A}}}, {0, {}}};  // 'A'-'Z'
const DocumentNameRanges kCountBeyondTen = {{50, {{'a', 'a'}}}, {0, {}}};

INSTANTIATE_TEST_SUITE_P(
    Tables, Validate,
    ::testing::Values(ValidateCase{"EmptyIsValid", "", kScale, 1},
                      ValidateCase{"Printable", "Report 3~", kScale, 1},
                      ValidateCase{"HalfWidthKatakana", "\xB1\xDF", kScale, 1},
                      ValidateCase{"ShiftJisPair", "\x88\xEA\x82\xA0", kProduct03, 1},
                      ValidateCase{"LeadByteWithTerminator", "a\x9E", kProduct03, 1},
                      ValidateCase{"Tab", "a\tb", kScale, 0},
                      ValidateCase{"Delete", "a\x7F", kScale, 0},
                      ValidateCase{"ByteA0", "\xA0", kScale, 0},
                      ValidateCase{"ByteFF", "\xFF", kScale, 0},
                      ValidateCase{"HighByteAloneOutsidePairs", "\x80\x81", kScale, 0},
                      ValidateCase{"Utf8TableTakesAnything", "\t\x01\xFF\x80", kProduct03Utf8, 1},
                      ValidateCase{"NoRangesRejectsText", "a", &kNoRanges, 0},
                      ValidateCase{"NoRangesEmptyValid", "", &kNoRanges, 1},
                      ValidateCase{"SingleBytesCompareLowEightBits", "AZ", &kWideLowBits, 1},
                      ValidateCase{"SingleBytesCompareLowEightBitsOutside", "a", &kWideLowBits, 0},
                      ValidateCase{"CountBeyondTenIsSafe", "aa", &kCountBeyondTen, 1}),
    [](const ::testing::TestParamInfo<ValidateCase>& info) { return info.param.name; });

}  // namespace
