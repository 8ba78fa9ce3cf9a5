// The ticket readers, the numeric escape, the number-up text and the table loop.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "settings/ticket_keys.hpp"
#include "job/text.hpp"
#include "settings/tickets.hpp"

using namespace pdftopjl;

namespace {

// Through a ticket, as texts reach the decoder: cut to the reading buffer.
std::string Escape(const std::string& text)
{
    JobOptions options(("k='" + text + "'").c_str());
    return ReadTicketText(options, "k", TicketText::AsGiven, false, 2048);
}

struct EscapeCase {
    const char* input;
    std::string expected;
};

class NumericEscape : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(NumericEscape, Decodes)
{
    EXPECT_EQ(Escape(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Examples, NumericEscape,
                         ::testing::Values(EscapeCase{"/65/66/67", "ABC"},
                                           EscapeCase{"/72/105", "Hi"},
                                           EscapeCase{"/65/0/66", "A"},
                                           EscapeCase{"/300/65", ""},
                                           EscapeCase{"/256/65", ""},
                                           EscapeCase{"/255/65", "\xFF" "A"},
                                           EscapeCase{"/-1", "\xFF"},
                                           EscapeCase{"/abc", ""},
                                           EscapeCase{"/65/", "A"},
                                           EscapeCase{"/65abc/66", "AB"},
                                           EscapeCase{"/ 65/+66", "AB"},
                                           EscapeCase{"//65", ""},
                                           EscapeCase{"/", "/"},
                                           EscapeCase{"A/65", "A/65"},
                                           EscapeCase{"", ""},
                                           EscapeCase{"/99999999999999/65", ""}));

TEST(NumericEscape, LongestReadableTextIsDecoded)
{
    std::string text;
    while (text.size() < 1100) text += "/66";
    EXPECT_EQ(Escape(text), std::string(1023 / 3, 'B'));
}

TEST(TicketInteger, ParsesLikeTheDialogWrites)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"12abc", 12}, {"abc", 0}, {"", 0}, {"  -5", -5}, {"+7", 7}, {"3 4", 3},
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"-", 0}, {"0x10", 0}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseDecimalInt32(text), value) << text;
    JobOptions options("k=-3 e=");
    EXPECT_EQ(ReadTicketInteger(options, "k"), -3);
    EXPECT_EQ(ReadTicketInteger(options, "e"), 0);
    EXPECT_EQ(ReadTicketInteger(options, "absent"), std::nullopt);
}

struct TextCase {
    const char* name;
    TicketText kind;
    std::string optionText;
    int width;
    std::string expected;
    bool message;
};

class TextReader : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextReader, StoresTheField)
{
    const TextCase& c = GetParam();
    JobOptions options(c.optionText.c_str());
    ::testing::internal::CaptureStderr();
    const std::string text =
        ReadTicketText(options, "k", c.kind, /*utf8Mode=*/true, static_cast<size_t>(c.width));
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(text, c.expected);
    EXPECT_LT(text.size(), static_cast<size_t>(c.width));
    EXPECT_EQ(!err.empty(), c.message) << err;
}

const TicketText kBytes = TicketText::AsGiven;
const TicketText kUtf8 = TicketText::Name;
const TicketText kCodeSet = TicketText::PrinterCodeSet;
const std::string kA = "\xE3\x81\x82";  // U+3042

INSTANTIATE_TEST_SUITE_P(
    Cases, TextReader,
    ::testing::Values(
        TextCase{"BytesUnchanged", kBytes, "k=" + kA + "x", 64, kA + "x", false},
        TextCase{"Absent", kBytes, "j=1", 64, "", false},
        TextCase{"PresentEmpty", kBytes, "k=", 64, "", false},
        TextCase{"EscapeDecoded", kBytes, "k=/72/105", 64, "Hi", false},
        // A cut is reported.
        TextCase{"CutToWidth", kBytes, "k=" + std::string(100, 'h'), 33, std::string(32, 'h'),
                 true},
        TextCase{"ScratchCutsFirst", kBytes, "k=" + std::string(2000, 'p'), 2048,
                 std::string(1023, 'p'), false},
        TextCase{"InvalidBytesKept", kBytes, "k=/255/65", 64, "\xFF" "A", false},
        TextCase{"Utf8Rebuilt", kUtf8, "k=" + kA + "\xF0\x9F\x98\x80" "b", 64, kA + "b", false},
        TextCase{"Utf8CutInsideCharacter", kUtf8, "k=a" + kA, 3, "a\xE3", true},
        TextCase{"Utf8InvalidAfterEscape", kUtf8, "k=/255/65", 64, "", true},
        // The option parser turns a doubled backslash into one.
        TextCase{"CodeSet", kCodeSet, "k=" + kA + "\\\\~", 64, "\x82\xA0\\~", false},
        TextCase{"CodeSetEscaped", kCodeSet, "k=/227/129/130", 64, "\x82\xA0", false},
        TextCase{"CodeSetInvalid", kCodeSet, "k=/128", 64, "", true},
        TextCase{"CodeSetScratchCut", kCodeSet, "k=" + std::string(3000, 'z'), 2048,
                 std::string(1023, 'z'), false}),
    [](const ::testing::TestParamInfo<TextCase>& info) { return info.param.name; });

struct NumberUpCase {
    const char* name;
    std::string optionText;
    std::string expected;
};

class NumberUp : public ::testing::TestWithParam<NumberUpCase> {};

TEST_P(NumberUp, GivesTheText)
{
    JobOptions options(GetParam().optionText.c_str());
    PrintOptions record{};
    ReadTickets(options, false, record);
    EXPECT_EQ(record.features.numberUp.view(), GetParam().expected);
}

const std::string kRows = std::string(kLayoutRowCountTicketKey) + "=";
const std::string kCols = std::string(" ") + kLayoutColumnCountTicketKey + "=";

INSTANTIATE_TEST_SUITE_P(
    Cases, NumberUp,
    ::testing::Values(
        NumberUpCase{"NumberUp", "number-up=4", "N4"},
        NumberUpCase{"NumberUpWinsOverLayout", "number-up=2 " + kRows + "3" + kCols + "3", "N2"},
        NumberUpCase{"NumberUpNotDecoded", "number-up=/52", "N/52"},
        NumberUpCase{"NumberUpAsGiven", "number-up=0", "N0"},
        NumberUpCase{"NumberUpCutToField", "number-up=" + std::string(100, '9'),
                     "N" + std::string(62, '9')},
        NumberUpCase{"RowsTimesColumns", kRows + "2" + kCols + "3", "N6"},
        NumberUpCase{"FourByFour", kRows + "4" + kCols + "4", "N16"},
        NumberUpCase{"TenByTen", kRows + "10" + kCols + "10", "N100"},
        NumberUpCase{"OneByOne", kRows + "1" + kCols + "1", "1"},
        NumberUpCase{"Nothing", "", "1"},
        NumberUpCase{"RowsAlone", kRows + "3", "N3"},
        NumberUpCase{"ColumnsAlone", kCols.substr(1) + "2", "N2"},
        NumberUpCase{"ZeroCount", kRows + "0" + kCols + "5", "1"},
        NumberUpCase{"NegativeCount", kRows + "-2" + kCols + "3", "1"},
        NumberUpCase{"TwoNegativeCounts", kRows + "-2" + kCols + "-3", "1"},
        NumberUpCase{"NonNumericCount", kRows + "abc" + kCols + "2", "1"},
        NumberUpCase{"ProductBeyondRange", kRows + "100000" + kCols + "100000", "1"},
        NumberUpCase{"LargestProduct", kRows + "2147483647" + kCols + "1", "N2147483647"}),
    [](const ::testing::TestParamInfo<NumberUpCase>& info) { return info.param.name; });

TEST(TicketTable, FillsTheRecordAndMarksWhatIsAbsent)
{
    const std::string p = kTicketPrefix;
    JobOptions options((p + "PrintTypeTicketKey=2 " + p + "KVRUserIDTextEditTicket= " + p +
                        "KVRAccountIDTextEditTicket=acct " + p + "KVRUserIDListCtrlTicket=2 ZRStaple=x")
                           .c_str());
    for (bool utf8Mode : {false, true}) {
        PrintOptions record{};
        record.kvr.accountId.set("junk");
        ReadTickets(options, utf8Mode, record);
        EXPECT_EQ(record.printType.printType, 2);
        EXPECT_EQ(record.printType.documentNameType, -1);
        EXPECT_EQ(record.kvr.userIdAbsent, 0);
        // One ticket feeds both identity lists.
        EXPECT_EQ(record.kvr.userIdListCtrl, 2);
        EXPECT_EQ(record.kvr.adminUserIdListCtrl, 2);
        EXPECT_EQ(record.features.staple.view(), "x");
        // The account identity is sent to UTF-8 printers only.
        EXPECT_EQ(record.kvr.accountId.view(), utf8Mode ? "acct" : "junk");
    }
    PrintOptions none{};
    ReadTickets(JobOptions(""), false, none);
    EXPECT_EQ(none.kvr.userIdAbsent, 1);
}

TEST(TicketTable, MegabyteOptionStringIsSafe)
{
    const std::string p = kTicketPrefix;
    std::string text = p + "PrintTypeTicketKey=5 " + p + "KVRUserPasswordTextEditTicket=" +
                       std::string(3u << 20, 'x') + " ZRStaple=ok";
    PrintOptions record{};
    ReadTickets(JobOptions(text.c_str()), false, record);
    EXPECT_EQ(record.printType.printType, 5);
    EXPECT_EQ(record.kvr.password.view(), std::string(1023, 'x'));
    EXPECT_EQ(record.features.staple.view(), "ok");
}

}  // namespace
