// SPDX-License-Identifier: Apache-2.0
// Conversion of UTF-8 text into the printer code set and the UTF-8 rebuild.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "encoding/convert.hpp"
#include "encoding/unicode.hpp"

using namespace pdftopjl;

namespace {

using Converter = int (*)(const char*, char*, int);

struct ConvertCase {
    const char* name;
    Converter convert;
    std::string source;
    int size;
    std::string expected;  // bytes before the terminating zero
};

std::string Call(Converter convert, const std::string& source, int size, int* result)
{
    std::vector<char> dst(static_cast<size_t>(size) + 8, '\x55');
    *result = convert(source.c_str(), dst.data(), size);
    // Nothing past the destination size is touched.
    for (size_t i = static_cast<size_t>(size); i < dst.size(); ++i) EXPECT_EQ(dst[i], '\x55');
    EXPECT_EQ(dst[static_cast<size_t>(*result)], '\0');
    // The whole destination was cleared.
    for (size_t i = static_cast<size_t>(*result); i < static_cast<size_t>(size); ++i)
        EXPECT_EQ(dst[i], '\0');
    return std::string(dst.data(), static_cast<size_t>(*result));
}

class Convert : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(Convert, GivesTheExpectedBytes)
{
    const ConvertCase& c = GetParam();
    ::testing::internal::CaptureStderr();
    int result = 0;
    std::string out = Call(c.convert, c.source, c.size, &result);
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(out, c.expected);
    EXPECT_EQ(result, static_cast<int>(c.expected.size()));
    EXPECT_EQ(err, "") << "valid UTF-8 must not produce a message";
}

const Converter kSjis = ConvertToPrinterCodeSet;
const Converter kUtf8 = RebuildAsUTF8;

INSTANTIATE_TEST_SUITE_P(
    Cases, Convert,
    ::testing::Values(
        ConvertCase{"Ascii", kSjis, "ABC", 255, "ABC"},
        ConvertCase{"Empty", kSjis, "", 255, ""},
        ConvertCase{"EmptyUtf8", kUtf8, "", 255, ""},
        ConvertCase{"Hiragana", kSjis, "\xE3\x81\x82", 255, "\x82\xA0"},
        ConvertCase{"CutInsideSecondCharacter", kSjis, "\xE3\x81\x82\xE3\x81\x84", 4,
                    "\x82\xA0\x82"},
        ConvertCase{"BackslashAndTildeStaySingleBytes", kSjis, "a\\b~c", 255, "a\\b~c"},
        ConvertCase{"YenAndOverlineShareThoseBytes", kSjis, "\xC2\xA5\xE2\x80\xBE", 255,
                    "\x5C\x7E"},
        ConvertCase{"Kanji", kSjis, "\xE4\xB8\x80\xE6\x97\xA5", 255, "\x88\xEA\x93\xFA"},
        ConvertCase{"WaveDashAndFullwidthTilde", kSjis, "\xE3\x80\x9C\xEF\xBD\x9E", 255,
                    "\x81\x60\x81\xB0"},
        // The converter holds back a kana that may combine; each unit is
        // flushed on its own, so nothing is lost or merged.
        ConvertCase{"KanaBeforeCombiningMark", kSjis, "\xE3\x81\x8B\xE3\x82\x9A" "A", 255,
                    "\x82\xA9" "A"},
        ConvertCase{"KanaAtTheEnd", kSjis, "A\xE3\x81\x8B", 255, "A\x82\xA9"},
        ConvertCase{"EmojiDroppedSjis", kSjis, "A\xF0\x9F\x98\x80" "B", 255, "AB"},
        ConvertCase{"EmojiDroppedUtf8", kUtf8, "A\xF0\x9F\x98\x80" "B", 255, "AB"},
        ConvertCase{"OutsideJisDropped", kSjis, "x\xD0\x96\xD9\x84y", 255, "x\x84\x47y"},
        ConvertCase{"Utf8Unchanged", kUtf8, "h\xC3\xA9\xE3\x81\x82\\~", 255,
                    "h\xC3\xA9\xE3\x81\x82\\~"},
        ConvertCase{"Utf8CutInsideCharacter", kUtf8, "a\xE3\x81\x82", 3, "a\xE3"},
        ConvertCase{"SizeOneHoldsNothing", kSjis, "ABC", 1, ""},
        ConvertCase{"ExactFit", kSjis, "ABC", 4, "ABC"},
        ConvertCase{"OneShort", kUtf8, "ABCD", 4, "ABC"}),
    [](const ::testing::TestParamInfo<ConvertCase>& info) { return info.param.name; });

TEST(Convert, ArabicLetterIsDroppedButCyrillicKept)
{
    // Cyrillic zhe is in JIS X 0213 (0x84 0x47), Arabic lam is not; the
    // table above relies on both.
    char dst[16];
    EXPECT_EQ(ConvertToPrinterCodeSet("\xD9\x84", dst, sizeof dst), 0);
    EXPECT_EQ(ConvertToPrinterCodeSet("\xD0\x96", dst, sizeof dst), 2);
}

// Every ill-formed input: one message, empty destination, result 0.
class InvalidUtf8 : public ::testing::TestWithParam<std::string> {};

TEST_P(InvalidUtf8, IsRejectedWithOneMessage)
{
    for (Converter convert : {kSjis, kUtf8}) {
        ::testing::internal::CaptureStderr();
        int result = -1;
        std::string out = Call(convert, GetParam(), 64, &result);
        std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(out, "");
        // A warning, then the historical line.
        EXPECT_EQ(err.rfind("WARNING: ", 0), 0u) << err;
        EXPECT_EQ(err.substr(err.find('\n') + 1), "CFStringCreateWithCString fail\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Sequences, InvalidUtf8,
                         ::testing::Values(std::string("\xFF"), std::string("ab\xFF"),
                                           std::string("\x80"),              // stray continuation
                                           std::string("a\xE3\x81"),         // truncated
                                           std::string("\xE3\x41\x82"),      // bad continuation
                                           std::string("\xC0\xAF"),          // overlong '/'
                                           std::string("\xE0\x80\xAF"),      // overlong
                                           std::string("\xF0\x80\x80\xAF"),  // overlong
                                           std::string("\xED\xA0\x80"),      // encoded surrogate
                                           std::string("\xF4\x90\x80\x80"),  // above U+10FFFF
                                           std::string("\xF8\x88\x80\x80\x80")));

TEST(Convert, NullOrEmptyDestinationIsSafe)
{
    char dst[1] = {'x'};
    EXPECT_EQ(ConvertToPrinterCodeSet("abc", dst, 0), 0);
    EXPECT_EQ(dst[0], 'x');
    EXPECT_EQ(ConvertToPrinterCodeSet("abc", nullptr, 10), 0);
    EXPECT_EQ(RebuildAsUTF8(nullptr, dst, 1), 0);
    EXPECT_EQ(dst[0], '\0');
}

TEST(Convert, MegabyteSourceStaysInsideTheDestination)
{
    std::string big;
    for (int i = 0; i < 400000; ++i) big += "a\xE3\x81\x82";
    int result = 0;
    std::string out = Call(kSjis, big, 255, &result);
    EXPECT_EQ(result, 254);
    EXPECT_EQ(out.substr(0, 3), "a\x82\xA0");
}

struct UnitCase {
    std::string utf8;
    std::u16string units;
};

class Decode : public ::testing::TestWithParam<UnitCase> {};

TEST_P(Decode, GivesUtf16Units)
{
    std::u16string units;
    ASSERT_TRUE(DecodeUTF8(GetParam().utf8, &units));
    EXPECT_EQ(units, GetParam().units);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Decode,
                         ::testing::Values(UnitCase{"\x7F", u"\x7F"},
                                           UnitCase{"\xC2\x80", u"\x80"},
                                           UnitCase{"\xDF\xBF", u"\x7FF"},
                                           UnitCase{"\xE0\xA0\x80", u"\x800"},
                                           UnitCase{"\xED\x9F\xBF", u"\xD7FF"},
                                           UnitCase{"\xEE\x80\x80", u"\xE000"},
                                           UnitCase{"\xEF\xBF\xBF", u"\xFFFF"},
                                           UnitCase{"\xF0\x90\x80\x80", u"\xD800\xDC00"},
                                           UnitCase{"\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"}));

TEST(Unicode, UnitsBackToUtf8DropOnlyLoneSurrogateHalves)
{
    EXPECT_EQ(EncodeUnitsAsUTF8(u"A\xD83D\xDE00\x00E9\x3042"),
              "A\xF0\x9F\x98\x80\xC3\xA9\xE3\x81\x82");
    EXPECT_EQ(EncodeUnitsAsUTF8(u"a\xD83D"), "a");
    EXPECT_EQ(EncodeUnitsAsUTF8(u"\xDE00" "b\xD83D" "c"), "bc");
}

TEST(Unicode, CutAtCharacterNeverSplitsOne)
{
    const std::string text = "a\xE3\x81\x82" "b";
    EXPECT_EQ(CutUTF8AtCharacter(text, 10), text);
    EXPECT_EQ(CutUTF8AtCharacter(text, 4), "a\xE3\x81\x82");
    EXPECT_EQ(CutUTF8AtCharacter(text, 3), "a");
    EXPECT_EQ(CutUTF8AtCharacter(text, 2), "a");
    EXPECT_EQ(CutUTF8AtCharacter(text, 1), "a");
    EXPECT_EQ(CutUTF8AtCharacter(text, 0), "");
}

TEST(PrinterCodeSet, DecodesUpToATruncatedLeadByte)
{
    EXPECT_EQ(DecodePrinterCodeSet("A\x82\xA0\x88\xEA"), u"A\x3042\x4E00");
    EXPECT_EQ(DecodePrinterCodeSet("A\x82\xA0\x88"), u"A\x3042");
    EXPECT_EQ(DecodePrinterCodeSet(""), u"");
}

}  // namespace
