// SPDX-License-Identifier: Apache-2.0
// The string code set the header announces, for each printer encoding.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

// The string code set line of the header follows the PPD.
struct CodeSetCase {
    const char* name;
    std::optional<std::string> encodingLine;  // nullopt: no PPD at all
    std::string expected;
};

class StringCodeSet : public ::testing::TestWithParam<CodeSetCase> {};

TEST_P(StringCodeSet, FollowsThePrinterLanguageEncoding)
{
    TempDir tmp;
    TempDir data;
    RunOptions o;
    o.args = {"pdftopjl", "42", "alice", "Report", "1", "ZRInputSlot=1stTray"};
    o.env["TMPDIR"] = tmp.path();
    if (GetParam().encodingLine) {
        std::vector<std::string> keywords;
        if (!GetParam().encodingLine->empty()) keywords.push_back(*GetParam().encodingLine);
        WriteFile(data.file("p.ppd"), MakePpd(keywords));
        o.env["PPD"] = data.file("p.ppd");
    } else {
        o.env["PPD"] = std::nullopt;
    }
    std::string doc = MakePdf(1);
    o.input = doc;
    RunResult r = RunProgram(o);
    ASSERT_FALSE(HasSanitizerReport(r.err)) << r.err;
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Job job = ParseJob(r.out);
    ASSERT_TRUE(job.framed) << job.error;
    ASSERT_GE(job.header.size(), 2u);
    EXPECT_EQ(job.header[1], "@PJL SET STRINGCODESET=\"" + GetParam().expected + "\"");
    EXPECT_TRUE(job.body == doc);
}

INSTANTIATE_TEST_SUITE_P(
    Printers, StringCodeSet,
    ::testing::Values(
        CodeSetCase{"Utf8", "*ZRPrinterLanguageEncoding: \"UTF-8\"", "UTF8"},
        CodeSetCase{"IsoLatin1", "*ZRPrinterLanguageEncoding: \"ISOLatin1\"", "HPROMAN8"},
        CodeSetCase{"Other", "*ZRPrinterLanguageEncoding: \"ShiftJIS\"", "SJISX0208"},
        CodeSetCase{"LowerCaseUtf8", "*ZRPrinterLanguageEncoding: \"utf-8\"", "SJISX0208"},
        CodeSetCase{"KeywordAbsent", "", "SJISX0208"},
        CodeSetCase{"NoPpd", std::nullopt, "SJISX0208"}),
    [](const ::testing::TestParamInfo<CodeSetCase>& info) { return info.param.name; });

}  // namespace
