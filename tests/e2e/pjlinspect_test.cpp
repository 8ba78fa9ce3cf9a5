// SPDX-License-Identifier: Apache-2.0
// The job-stream inspector on good and damaged streams.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

std::string Inspector() { return std::string(PDFTOPJL_BUILD_DIR) + "/pjlinspect"; }

std::string Stream(const std::string& codeSet, const std::vector<std::string>& lines,
                   const std::string& body, long long fsiz = -1)
{
    std::string s = std::string(kUEL) + "@PJL JOB MODE=PRINTER\n";
    s += "@PJL SET STRINGCODESET=\"" + codeSet + "\"\n";
    for (const auto& line : lines) s += line + "\n";
    s += "@PJL SET JOBATTR=\"@FSIZ=" + std::to_string(fsiz >= 0 ? fsiz : (long long)body.size()) +
         "\"\n@PJL ENTER LANGUAGE=PDF\n";
    return s + body + kTrailer;
}

RunResult Inspect(const std::string& stream, const std::vector<std::string>& flags = {})
{
    RunOptions o;
    o.program = Inspector();
    o.args = {"pjlinspect"};
    o.args.insert(o.args.end(), flags.begin(), flags.end());
    o.input = stream;
    return RunProgram(o);
}

// Asked for help or the version, both programs answer on standard output
// and succeed.
TEST(PjlInspect, BothProgramsAnswerHelpAndVersion)
{
    struct Case {
        std::string program;
        const char* flag;
        const char* start;
    };
    for (const Case& c : {Case{Inspector(), "--help", "Usage: pjlinspect [--show-passcode] [job-file]\n"},
                          Case{Inspector(), "--version", "pjlinspect " PDFTOPJL_VERSION "\n"},
                          Case{FilterBinary(), "--help", "Usage: pdftopjl job-id user title copies options [file]\n"},
                          Case{FilterBinary(), "--version", "pdftopjl " PDFTOPJL_VERSION "\n"}}) {
        RunOptions o;
        o.program = c.program;
        o.args = {"program", c.flag};
        RunResult r = RunProgram(o);
        EXPECT_EQ(r.exitCode, 0) << c.flag;
        EXPECT_EQ(r.out.rfind(c.start, 0), 0u) << r.out;
        EXPECT_EQ(r.err, "");
    }
}

TEST(PjlInspect, ShowsTheHeaderAndThePages)
{
    std::vector<PdfPage> pages(2);
    pages[1].x0 = 10;
    pages[1].y0 = 20;
    pages[1].x1 = 605;
    pages[1].y1 = 862;
    pages[1].rotate = 90;
    RunResult r = Inspect(Stream("UTF8", {"@PJL SET JOBATTR=\"@JOAU=\xE5\xB1\xB1\xE7\x94\xB0\""},
                                 MakePdf(pages)));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  <ESC>%-12345X@PJL JOB MODE=PRINTER\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("@JOAU=\xE5\xB1\xB1\xE7\x94\xB0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 pages"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("page 1: 612 x 792 pt, MediaBox [0 0 612 792]\n"), std::string::npos);
    EXPECT_NE(r.out.find("page 2: 595 x 842 pt, MediaBox [10 20 605 862], Rotate 90\n"),
              std::string::npos)
        << r.out;
}

// A job written by the built filter for the sample document.
std::string FilterJob(const std::string& title, const std::string& options)
{
    TempDir tmp;
    RunOptions o;
    o.args = {"pdftopjl", "1", "hanako", title, "1", options,
              std::string(PDFTOPJL_SOURCE_DIR) + "/samples/sample.pdf"};
    o.env["PPD"] = std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd";
    o.env["TMPDIR"] = tmp.path();
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
}

// cupsd puts a banner page's job before the document's in one stream.
TEST(PjlInspect, ShowsEachJobOfAStream)
{
    const std::string banner = FilterJob("banner", ""), document = FilterJob("report", "");
    RunResult r = Inspect(banner + document);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const size_t first = r.out.find("job 1: " + std::to_string(banner.size()) + " bytes\n");
    const size_t second = r.out.find("job 2: " + std::to_string(document.size()) + " bytes\n");
    ASSERT_NE(first, std::string::npos) << r.out;
    ASSERT_NE(second, std::string::npos) << r.out;
    EXPECT_NE(r.out.find("2 jobs, framing OK"), std::string::npos) << r.out;
    const std::string one = r.out.substr(first, second - first), two = r.out.substr(second);
    for (const auto& [shown, title] : {std::pair{one, "banner"}, std::pair{two, "report"}}) {
        EXPECT_NE(shown.find(std::string("DNAME=") + title + "\n"), std::string::npos) << shown;
        EXPECT_NE(shown.find("3 pages"), std::string::npos) << shown;
        EXPECT_NE(shown.find("trailer: OK"), std::string::npos) << shown;
    }
}

TEST(PjlInspect, MasksTheStoredJobPasscodeUnlessAsked)
{
    const std::string ticket = "com.quorvelin.qbd.printsettings.";
    const std::string job =
        FilterJob("report", ticket + "PrintTypeTicketKey=2 " + ticket + "PrintTypePasswordTicketKey=86420");
    for (const auto& [flags, shown] :
         {std::pair{std::vector<std::string>{}, "  @PJL SET HOLDENCRYPTKEY=\"****\"\n"},
          std::pair{std::vector<std::string>{"--show-passcode"}, "  @PJL SET HOLDENCRYPTKEY=\"86420\"\n"}}) {
        RunResult r = Inspect(job, flags);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(shown), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("86420") != std::string::npos, !flags.empty()) << r.out;
    }
}

TEST(PjlInspect, DecodesPrinterCodeSetTexts)
{
    // "あい" in Shift-JIS, a stray 0x80 shown as a byte.
    RunResult r = Inspect(Stream("SJISX0208", {"@PJL COMMENT DNAME=\x82\xA0\x82\xA2\x80"}, ""));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("DNAME=\xE3\x81\x82\xE3\x81\x84\\x80\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("body: empty"), std::string::npos);
}

struct Damaged {
    const char* name;
    std::string stream;
    const char* reason;
};

class PjlInspectDamaged : public ::testing::TestWithParam<Damaged> {};

TEST_P(PjlInspectDamaged, ExitsOneWithTheReason)
{
    RunResult r = Inspect(GetParam().stream);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(GetParam().reason), std::string::npos) << r.err;
}

const std::string kPdf = MakePdf(1);
const std::string kGood = Stream("UTF8", {}, kPdf);

INSTANTIATE_TEST_SUITE_P(
    Streams, PjlInspectDamaged,
    ::testing::Values(
        Damaged{"Empty", "", "does not start with the universal exit"},
        Damaged{"NoJobLine", std::string(kUEL) + "@PJL JOB\n", "not followed by"},
        Damaged{"NoEnter", kGood.substr(0, 80), "ENTER LANGUAGE"},
        Damaged{"FsizTooSmall", Stream("UTF8", {}, kPdf, (long long)kPdf.size() - 1), "FSIZ announces"},
        Damaged{"FsizTooLarge", Stream("UTF8", {}, kPdf, (long long)kPdf.size() + 5), "FSIZ announces"},
        Damaged{"NoTrailer", kGood.substr(0, kGood.size() - 3), "does not end with the trailer"},
        Damaged{"NotPdf", Stream("UTF8", {}, "hello"), "not a readable PDF"},
        Damaged{"NoFsiz",
                std::string(kUEL) + "@PJL JOB MODE=PRINTER\n@PJL ENTER LANGUAGE=PDF\n" + kTrailer,
                "no FSIZ"},
        // Every job of a stream is checked, and the reason names the job.
        Damaged{"SecondJobCut", kGood + kGood.substr(0, kGood.size() - 1),
                "job 2: the stream does not end with the trailer"},
        Damaged{"BytesAfterTheLastJob", kGood + "\n",
                "job 2: the stream does not start with the universal exit"}),
    [](const ::testing::TestParamInfo<Damaged>& info) { return std::string(info.param.name); });

TEST(PjlInspect, ReadsAFileArgument)
{
    TempDir dir;
    WriteFile(dir.file("job.pjl"), kGood);
    RunOptions o;
    o.program = Inspector();
    o.args = {"pjlinspect", dir.file("job.pjl")};
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    o.args = {"pjlinspect", dir.file("absent.pjl")};
    r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot open"), std::string::npos);
}

}  // namespace
