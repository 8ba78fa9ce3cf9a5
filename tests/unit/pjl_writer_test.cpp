#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pjl/writer.hpp"

namespace {

// Captures what the line writers send to the job stream.
class Capture {
public:
    Capture() : stream_(open_memstream(&data_, &size_)) { SetPJLOutput(stream_); }
    ~Capture()
    {
        SetPJLOutput(nullptr);
        fclose(stream_);
        free(data_);
    }
    std::string text()
    {
        fflush(stream_);
        return std::string(data_, size_);
    }

private:
    char* data_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};

struct CommandCase {
    const char* kind;
    const char* name;
    std::string value;
    std::string expected;
};

class MakePJLCommandTest : public ::testing::TestWithParam<CommandCase> {};

TEST_P(MakePJLCommandTest, WritesOneLine)
{
    const CommandCase& c = GetParam();
    Capture capture;
    MakePJLCommand(c.kind, c.name, c.value.c_str());
    EXPECT_EQ(capture.text(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MakePJLCommandTest,
    ::testing::Values(
        CommandCase{"SET", "COPIES", "2", "@PJL SET COPIES=2\n"},
        CommandCase{"SET", "COPIES", "", "@PJL SET COPIES=\n"},
        CommandCase{"ATTR", "FSIZ", "48213", "@PJL SET JOBATTR=\"@FSIZ=48213\"\n"},
        CommandCase{"ATTR", "JOEP", "", "@PJL SET JOBATTR=\"@JOEP=\"\n"},
        CommandCase{"SET", "STRINGCODESET", "\"UTF8\"", "@PJL SET STRINGCODESET=\"UTF8\"\n"},
        CommandCase{"SET", "JOBNAME", "\"\"", "@PJL SET JOBNAME=\"\"\n"},
        CommandCase{"DEFAULT", "X", "1", ""},
        CommandCase{"set", "X", "1", ""},
        // Shift-JIS and UTF-8 bytes pass unchanged.
        CommandCase{"ATTR", "JOAU", "\x82\xA0\xE3\x81\x82", "@PJL SET JOBATTR=\"@JOAU=\x82\xA0\xE3\x81\x82\"\n"}));

// A value must never end the line or the job and smuggle in commands.
INSTANTIATE_TEST_SUITE_P(
    Injection, MakePJLCommandTest,
    ::testing::Values(
        CommandCase{"ATTR", "JOAU", "a\n@PJL SET X=1\r\x1b%-12345X\"b",
                    "@PJL SET JOBATTR=\"@JOAU=a@PJL SET X=1%-12345Xb\"\n"},
        CommandCase{"SET", "USERNAME", "\"eve\"\n@PJL DEFAULT LANG=FR\"",
                    "@PJL SET USERNAME=\"eve@PJL DEFAULT LANG=FR\"\n"},
        CommandCase{"SET", "COPIES", "1\n@PJL SET PAPER=A3\x7f",
                    "@PJL SET COPIES=1@PJL SET PAPER=A3\n"},
        CommandCase{"SET", "HOLDENCRYPTKEY", "\"p\"a\ts\x1bs\"",
                    "@PJL SET HOLDENCRYPTKEY=\"pass\"\n"}));

TEST(PutPJLComment, DropsControlBytes)
{
    Capture capture;
    PutPJLComment("DNAME=a\nb\x1b\rc");
    EXPECT_EQ(capture.text(), "@PJL COMMENT DNAME=abc\n");
}

struct LongCase {
    const char* kind;
    std::string value;
    std::string prefix;
    std::string suffix;
};

class LongLineTest : public ::testing::TestWithParam<LongCase> {};

// Whatever the value's length, the line with its closing quote and line feed
// fits in 254 bytes, and the kept part is the start of the value.
TEST_P(LongLineTest, IsCutToTheLineLimit)
{
    const LongCase& c = GetParam();
    for (size_t length : {200u, 226u, 227u, 228u, 240u, 300u, 2047u, 100000u}) {
        Capture capture;
        std::string value = c.value.empty() ? std::string(length, 'x')
                                            : c.value.substr(0, 1) + std::string(length, 'x') +
                                                  c.value.substr(1);
        MakePJLCommand(c.kind, "NAME", value.c_str());
        std::string line = capture.text();
        ASSERT_LE(line.size(), kPJLLineMax) << length;
        ASSERT_EQ(line.compare(0, c.prefix.size(), c.prefix), 0) << line;
        ASSERT_EQ(line.substr(line.size() - c.suffix.size()), c.suffix) << line;
        std::string kept = line.substr(c.prefix.size(), line.size() - c.prefix.size() - c.suffix.size());
        EXPECT_EQ(kept, std::string(kept.size(), 'x'));
        EXPECT_EQ(kept.size(), std::min(length, kPJLLineMax - c.prefix.size() - c.suffix.size()));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, LongLineTest,
                         ::testing::Values(LongCase{"SET", "", "@PJL SET NAME=", "\n"},
                                           LongCase{"SET", "\"\"", "@PJL SET NAME=\"", "\"\n"},
                                           LongCase{"ATTR", "", "@PJL SET JOBATTR=\"@NAME=", "\"\n"}));

TEST(LongLine, QuotedPasscodeOf227CharactersFitsExactly)
{
    Capture capture;
    std::string value = "\"" + std::string(227, 'k') + "\"";
    MakePJLCommand("SET", "HOLDENCRYPTKEY", value.c_str());
    std::string line = capture.text();
    EXPECT_EQ(line.size(), 254u);
    EXPECT_EQ(line, "@PJL SET HOLDENCRYPTKEY=" + value + "\n");
}

struct SizeCase {
    int64_t size;
    const char* expected;
};

class FileSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(FileSizeTest, IsDecimal)
{
    Capture capture;
    OutputFileSizeCommand(GetParam().size);
    EXPECT_EQ(capture.text(), std::string("@PJL SET JOBATTR=\"@FSIZ=") + GetParam().expected + "\"\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, FileSizeTest,
                         ::testing::Values(SizeCase{0, "0"}, SizeCase{48213, "48213"},
                                           SizeCase{2147483647LL, "2147483647"},
                                           SizeCase{2147483648LL, "2147483648"},
                                           SizeCase{5000000000LL, "5000000000"}));

struct EncodingCase {
    const char* encoding;
    const char* line;
};

class StringCodeSetTest : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(StringCodeSetTest, FollowsThePrinterEncoding)
{
    PrintOptions options{};
    options.ppd.printerLanguageEncoding.set(GetParam().encoding);
    Capture capture;
    OutputPJLPrinterLanguageEncoding(&options);
    EXPECT_EQ(capture.text(), std::string("@PJL SET STRINGCODESET=") + GetParam().line + "\n");
}

INSTANTIATE_TEST_SUITE_P(Encodings, StringCodeSetTest,
                         ::testing::Values(EncodingCase{"UTF-8", "\"UTF8\""},
                                           EncodingCase{"ISOLatin1", "\"HPROMAN8\""},
                                           EncodingCase{"utf-8", "\"SJISX0208\""},
                                           EncodingCase{"Shift_JIS", "\"SJISX0208\""},
                                           EncodingCase{"", "\"SJISX0208\""}));

TEST(Trailer, IsUniversalExitAndEndOfJob)
{
    Capture capture;
    OutputKPJLTrailer(nullptr, nullptr);
    EXPECT_EQ(capture.text(), "\x1b%-12345X@PJL EOJ\n");
}

}  // namespace
