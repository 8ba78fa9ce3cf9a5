// Fitting the job title into the document name, and the range validator.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "encoding/convert.hpp"
#include "settings/docname.hpp"
#include "settings/ticket_keys.hpp"

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

// The fitting as option gathering runs it for a title without line breaks.
std::string Fit(std::string title, bool utf8Mode, std::string options = "")
{
    std::vector<std::string> args = {"pdftopjl", "1", "u", std::move(title), "1", std::move(options)};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::memset(StdDocumentName, 0, 255);
    std::memset(PTStdDocumentName, 0, 255);
    ::testing::internal::CaptureStderr();
    ConvertUTF8ToEncoding(argv[3], StdDocumentName, 255);
    if (utf8Mode) {
        ConvertUTF8ToEncoding(argv[3], PTStdDocumentName, 255);
        InvalidateStdDocumentNameForProductType(argv.data(), true);
        InvalidatePrintTypeDocumentNameForProductType(argv.data());
    } else {
        InvalidateStdDocumentNameForProductType(argv.data(), false);
    }
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(PTStdDocumentName[254], '\0');
    EXPECT_EQ(PTStdDocumentName[255], '\0');
    return PTStdDocumentName;
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

class DocumentName : public ::testing::TestWithParam<FitCase> {};

TEST_P(DocumentName, IsFitted)
{
    const FitCase& c = GetParam();
    EXPECT_EQ(Fit(c.title, c.utf8Mode, c.options), c.expected);
}

const std::string k40 = std::string(40, 'a');
const std::string k20 = "ABCDEFGHIJKLMNOPQRST";
const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // U+65E5 U+672C U+8A9E
const std::string kAComma = kHiraganaA + "\xE3\x80\x81";               // U+3042 U+3001

INSTANTIATE_TEST_SUITE_P(
    PrinterCodeSet, DocumentName,
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
    Utf8Mode, DocumentName,
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

TEST(DocumentName, StdDocumentNameIsCutAtTheColumnLimit)
{
    Fit(k40, false);
    EXPECT_EQ(std::string(StdDocumentName), std::string(32, 'a'));
    Fit(std::string(31, 'a') + kHiraganaA + "tail", false);
    EXPECT_EQ(std::string(StdDocumentName), std::string(31, 'a'));
    Fit(Repeat(kIchi, 200), false);  // 254 bytes, cut at 32
    EXPECT_EQ(std::string(StdDocumentName), Repeat(kIchiSjis, 16));
    for (size_t i = 32; i < 256; ++i) ASSERT_EQ(StdDocumentName[i], '\0') << i;
}

TEST(DocumentName, NameEndingInALoneLeadByteIsDecodedUpToIt)
{
    // 'a' then 127 kanji: the conversion stops at 254 bytes inside the last one.
    Fit("a" + Repeat(kIchi, 127), false);
    EXPECT_EQ(std::string(PTStdDocumentName), "a" + Repeat(kIchiSjis, 15) + "\x88");
}

struct ValidateCase {
    const char* name;
    std::string text;
    const DocuNameValidateData* table;
    int expected;
};

class Validate : public ::testing::TestWithParam<ValidateCase> {};

TEST_P(Validate, Checks)
{
    EXPECT_EQ(ValidateDada(GetParam().text.c_str(), GetParam().table), GetParam().expected);
}

const DocuNameValidateData* const kScale = &docuNameValidateDataScale;
const DocuNameValidateData* const kProduct03 = &docuNameValidateDataScaleForProduct03;
const DocuNameValidateData* const kProduct03Utf8 = &docuNameValidateDataScaleForProduct03UTF8;
const DocuNameValidateData kNoRanges = {{0, {}}, {-3, {{0, 0xFFFF}}}};
const DocuNameValidateData kWideLowBits = {{1, {{0x141, 0x15A}}}, {0, {}}};  // 'A'-'Z'
const DocuNameValidateData kCountBeyondTen = {{50, {{'a', 'a'}}}, {0, {}}};

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

TEST(Validate, WordValidityLooksAtTwoBytes)
{
    EXPECT_EQ(ISWordValid("\x88\xEA", &docuNameValidateDataScale.twoByte), 1);
    EXPECT_EQ(ISWordValid("\x9E", &docuNameValidateDataScale.twoByte), 1);
    EXPECT_EQ(ISWordValid("A", &docuNameValidateDataScale.twoByte), 0);
    EXPECT_EQ(ISWordValid("", &docuNameValidateDataScale.twoByte), 0);
}

}  // namespace
