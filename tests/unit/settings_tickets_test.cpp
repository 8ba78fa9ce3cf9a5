// The ticket readers, the numeric escape, the number-up text and the table loop.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "settings/job_options.hpp"
#include "settings/ticket_keys.hpp"
#include "settings/tickets.hpp"

namespace {

std::string Escape(std::string text, int size = kTicketScratchSize)
{
    std::vector<char> buffer(static_cast<size_t>(size), '\0');
    std::memcpy(buffer.data(), text.data(), std::min(text.size(), buffer.size() - 1));
    numstrtochar(buffer.data(), size);
    return buffer.data();
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

TEST(NumericEscape, LongestScratchTextStaysInsideItsBuffer)
{
    std::string text;
    while (text.size() < 1100) text += "/66";
    std::string decoded = Escape(text);
    EXPECT_EQ(decoded, std::string(1023 / 3, 'B'));
    // A text that fills its buffer without a zero byte is still bounded.
    char unterminated[4] = {'/', '6', '5', '6'};
    numstrtochar(unterminated, 4);
    EXPECT_EQ(std::string(unterminated), "A");
}

TEST(TicketInteger, ParsesLikeTheDialogWrites)
{
    const std::pair<const char*, int32_t> cases[] = {
        {"12abc", 12}, {"abc", 0}, {"", 0}, {"  -5", -5}, {"+7", 7}, {"3 4", 3},
        {"99999999999", INT32_MAX}, {"-99999999999", INT32_MIN}, {"-", 0}, {"0x10", 0}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseTicketInteger(text), value) << text;
}

TEST(Itoa, WritesDigitsRightAligned)
{
    char buffer[12];
    EXPECT_STREQ(itoa(16, buffer, sizeof buffer), "16");
    EXPECT_EQ(itoa(16, buffer, sizeof buffer), buffer + 9);
    EXPECT_STREQ(itoa(0, buffer, sizeof buffer), "0");
    EXPECT_STREQ(itoa(INT_MAX, buffer, sizeof buffer), "2147483647");
    EXPECT_STREQ(itoa(INT_MIN, buffer, sizeof buffer), "-2147483648");
    char small[3];
    EXPECT_STREQ(itoa(12, small, sizeof small), "12");
    EXPECT_STREQ(itoa(123, small, sizeof small), "") << "digits that do not fit give no text";
}

// Runs one reader on an option string, into a destination guarded on both
// sides so that any write outside the field shows.
struct ReaderRun {
    int result = 0;
    std::string text;      // text destinations
    int32_t value = 0;     // integer destinations
    std::string err;
};

ReaderRun RunReader(TicketReader reader, const char* key, const std::string& optionText, int width)
{
    JobOptions options(optionText.c_str());
    std::vector<char> guarded(static_cast<size_t>(width) + 32, '\x5A');
    char* destination = guarded.data() + 16;
    ::testing::internal::CaptureStderr();
    ReaderRun run;
    run.result = reader(key, options.count(), options.list(), destination, width);
    run.err = ::testing::internal::GetCapturedStderr();
    for (size_t i = 0; i < 16; ++i) EXPECT_EQ(guarded[i], '\x5A') << "write before the field";
    for (size_t i = static_cast<size_t>(width) + 16; i < guarded.size(); ++i)
        EXPECT_EQ(guarded[i], '\x5A') << "write past the field";
    if (width == 4) {
        std::memcpy(&run.value, destination, 4);
        return run;
    }
    run.text.assign(destination, strnlen(destination, static_cast<size_t>(width)));
    EXPECT_LT(run.text.size(), static_cast<size_t>(width)) << "not zero-terminated in its width";
    return run;
}

TEST(IntegerReader, StoresTheValueOrMinusOne)
{
    EXPECT_EQ(RunReader(GetTicketInteger, "k", "k=12abc", 4).value, 12);
    EXPECT_EQ(RunReader(GetTicketInteger, "k", "k=abc", 4).value, 0);
    EXPECT_EQ(RunReader(GetTicketInteger, "k", "k=-3", 4).value, -3);
    ReaderRun absent = RunReader(GetTicketInteger, "k", "other=5", 4);
    EXPECT_EQ(absent.value, -1);
    EXPECT_EQ(absent.result, 0);
}

TEST(PresenceFlag, IsOneWhenAbsentAndZeroWhenPresentEvenEmpty)
{
    EXPECT_EQ(RunReader(CheckTicketKey, "k", "other=1", 4).value, 1);
    EXPECT_EQ(RunReader(CheckTicketKey, "k", "k=", 4).value, 0);
    EXPECT_EQ(RunReader(CheckTicketKey, "k", "k=x", 4).value, 0);
    EXPECT_EQ(RunReader(CheckTicketKey, "k", "", 4).result, 1);
}

struct TextCase {
    const char* name;
    TicketReader reader;
    std::string optionText;
    int width;
    std::string expected;
    bool message;
};

class TextReader : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextReader, StoresTheField)
{
    const TextCase& c = GetParam();
    ReaderRun run = RunReader(c.reader, "k", c.optionText, c.width);
    EXPECT_EQ(run.text, c.expected);
    EXPECT_EQ(run.err, c.message ? "CFStringCreateWithCString fail\n" : "");
}

const TicketReader kBytes = GetTicketStringConvertedToPrtLang;
const TicketReader kUtf8 = GetTicketStringConvertedToPrtLangForUTF8;
const TicketReader kCodeSet = GetTicketPasswordStringConvertedToEncryption;
const std::string kA = "\xE3\x81\x82";  // U+3042

INSTANTIATE_TEST_SUITE_P(
    Cases, TextReader,
    ::testing::Values(
        TextCase{"BytesUnchanged", kBytes, "k=" + kA + "x", 64, kA + "x", false},
        TextCase{"Absent", kBytes, "j=1", 64, "", false},
        TextCase{"PresentEmpty", kBytes, "k=", 64, "", false},
        TextCase{"EscapeDecoded", kBytes, "k=/72/105", 64, "Hi", false},
        TextCase{"CutToWidth", kBytes, "k=" + std::string(100, 'h'), 33, std::string(32, 'h'),
                 false},
        TextCase{"ScratchCutsFirst", kBytes, "k=" + std::string(2000, 'p'), 2048,
                 std::string(1023, 'p'), false},
        TextCase{"InvalidBytesKept", kBytes, "k=/255/65", 64, "\xFF" "A", false},
        TextCase{"Utf8Rebuilt", kUtf8, "k=" + kA + "\xF0\x9F\x98\x80" "b", 64, kA + "b", false},
        TextCase{"Utf8CutInsideCharacter", kUtf8, "k=a" + kA, 3, "a\xE3", false},
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
    ReaderRun run = RunReader(GetNumberUpTicketString, kNumberUpTicketKey, GetParam().optionText, 64);
    EXPECT_EQ(run.text, GetParam().expected);
    EXPECT_EQ(run.result, 1);
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

TEST(TicketTable, RunsEveryRowAgainstArgumentFive)
{
    int32_t flag = 7, number = 7, missing = 7;
    char text[8] = "junk";
    const TicketData table[] = {
        {"present", &flag, 4, CheckTicketKey},
        {"number", &number, 4, GetTicketInteger},
        {"missing", &missing, 4, GetTicketInteger},
        {"name", text, sizeof text, GetTicketStringConvertedToPrtLang},
    };
    std::string options = "present= number=42 name=abcdefghij";
    char* argv[] = {const_cast<char*>("f"), const_cast<char*>("1"), const_cast<char*>("u"),
                    const_cast<char*>("t"), const_cast<char*>("1"), options.data(), nullptr};
    EXPECT_EQ(GetTicketFromArray(argv, table, 4), 1);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(number, 42);
    EXPECT_EQ(missing, -1);
    EXPECT_STREQ(text, "abcdefg");

    // Only the given number of rows run.
    number = 7;
    EXPECT_EQ(GetTicketFromArray(argv, table, 1), 1);
    EXPECT_EQ(number, 7);
}

TEST(TicketTable, MegabyteOptionStringIsSafe)
{
    std::string options = "number=5 big=" + std::string(3u << 20, 'x') + " after=ok";
    int32_t number = 0;
    char big[64];
    char after[8];
    const TicketData table[] = {
        {"number", &number, 4, GetTicketInteger},
        {"big", big, sizeof big, GetTicketPasswordStringConvertedToEncryption},
        {"after", after, sizeof after, GetTicketStringConvertedToPrtLang},
    };
    char* argv[] = {const_cast<char*>("f"), const_cast<char*>("1"), const_cast<char*>("u"),
                    const_cast<char*>("t"), const_cast<char*>("1"), options.data(), nullptr};
    GetTicketFromArray(argv, table, 3);
    EXPECT_EQ(number, 5);
    EXPECT_EQ(std::string(big), std::string(63, 'x'));
    EXPECT_STREQ(after, "ok");
}

}  // namespace
