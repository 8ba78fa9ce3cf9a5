// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "pjl/header.hpp"
#include "pjl/jobstream.hpp"
#include "pjl/writer.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace pdftopjl;

namespace {

// One line as the writer makes it for a kind: "SET", "ATTR", or nothing.
std::string Command(const std::string& kind, const char* name, const std::string& value)
{
    return testjob::Captured([&](PjlWriter& out) {
        if (kind == "SET") out.set(name, value);
        if (kind == "ATTR") out.attr(name, value);
    });
}

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
    EXPECT_EQ(Command(c.kind, c.name, c.value), c.expected);
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

TEST(PjlComment, DropsControlBytes)
{
    EXPECT_EQ(testjob::Captured([](PjlWriter& out) { out.comment("DNAME=a\nb\x1b\rc"); }),
              "@PJL COMMENT DNAME=abc\n");
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
        std::string value = c.value.empty() ? std::string(length, 'x')
                                            : c.value.substr(0, 1) + std::string(length, 'x') +
                                                  c.value.substr(1);
        std::string line = Command(c.kind, "NAME", value);
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
    std::string value = "\"" + std::string(227, 'k') + "\"";
    std::string line = Command("SET", "HOLDENCRYPTKEY", value);
    EXPECT_EQ(line.size(), 254u);
    EXPECT_EQ(line, "@PJL SET HOLDENCRYPTKEY=" + value + "\n");
}

struct EncodingCase {
    const char* encoding;
    const char* line;
};

class StringCodeSetTest : public ::testing::TestWithParam<EncodingCase> {};

// The header's second line follows the printer's encoding; FSIZ takes any
// 64-bit size in decimal.
TEST_P(StringCodeSetTest, FollowsThePrinterEncoding)
{
    testsupport::TempDir dir;
    const std::string ppd = dir.file("p.ppd");
    testsupport::WriteFile(ppd, testsupport::MakePpd(
                                    {std::string("*ZRPrinterLanguageEncoding: \"") + GetParam().encoding + "\""}));
    const CupsJob job = testjob::Adapt("", ppd);
    const HeaderTexts texts = EncodeHeaderTexts(job.ticket, job.printer);
    const HostIdentity host;
    const std::vector<std::string> lines = testjob::Lines(testjob::Captured([&](PjlWriter& out) {
        WriteJobHeader(HeaderInputs{job.ticket, job.printer, texts, host, 0, 5000000000LL}, out);
    }));
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string("@PJL SET STRINGCODESET=") + GetParam().line);
    EXPECT_EQ(lines[lines.size() - 2], "@PJL SET JOBATTR=\"@FSIZ=5000000000\"");
}

INSTANTIATE_TEST_SUITE_P(Encodings, StringCodeSetTest,
                         ::testing::Values(EncodingCase{"UTF-8", "\"UTF8\""},
                                           EncodingCase{"ISOLatin1", "\"HPROMAN8\""},
                                           EncodingCase{"utf-8", "\"SJISX0208\""},
                                           EncodingCase{"Shift_JIS", "\"SJISX0208\""},
                                           EncodingCase{"", "\"SJISX0208\""}));

TEST(Trailer, IsUniversalExitAndEndOfJob)
{
    EXPECT_EQ(testjob::Captured([](PjlWriter& out) { WriteJobTrailer(out); }),
              "\x1b%-12345X@PJL EOJ\n");
}

// With a back channel the printer is asked for its state and its changes
// after the job line, and the changes end before the end of job; the
// stream still reads as a job.
TEST(StatusRequests, FollowTheJobLineAndEndBeforeEndOfJob)
{
    JobTicket ticket;
    PrinterProfile printer;
    const HeaderTexts texts = EncodeHeaderTexts(ticket, printer);
    const HostIdentity host;
    const std::string pdf = "%PDF-1.4\n%%EOF\n";
    HeaderInputs in{ticket, printer, texts, host, 0, static_cast<int64_t>(pdf.size())};
    in.askStatus = true;
    const std::string stream = testjob::Captured([&](PjlWriter& out) {
        WriteJobHeader(in, out);
        out.raw(pdf);
        WriteJobTrailer(out, true);
    });
    const std::vector<std::string> lines = testjob::Lines(stream);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[1], "@PJL USTATUS DEVICE = ON");
    EXPECT_EQ(lines[2], "@PJL INFO STATUS");
    EXPECT_TRUE(stream.ends_with("%%EOF\n\x1b%-12345X@PJL USTATUSOFF\n@PJL EOJ\n"));
    const JobStream job = ParseJobStream(std::string_view(stream));
    EXPECT_TRUE(job.valid) << job.error;
    EXPECT_EQ(job.body, pdf);
}

}  // namespace
