// SPDX-License-Identifier: Apache-2.0
// The document block as the built filter writes it from a PPD and an option
// string.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

const std::string kTicket = "com.quorvelin.qbd.printsettings.";

const std::vector<PpdOption> kExamplePrinter = {
    {"ZROutputMode", {"Standard", "HighSpeed", "HighQuality"}},
    {"ZRColorMode", {"Color", "Black"}},
    {"ZRTrapping", {"true", "false"}},
    {"ZRInputSlot", {"AutoSelect", "1stTray", "BypassTray"}},
    {"MediaType", {"Default", "Plain"}},
    {"ZRStaple", {"None", "UpperLeftSinglePort", "TopDoublePort"}},
    {"ZRPunch", {"None", "true"}},
};

class DocBlockRun : public ::testing::Test {
protected:
    RunResult Run(const std::string& options, const std::string& title = "Report",
                  const std::string& copies = "1")
    {
        WriteFile(data.file("printer.ppd"),
                  MakePpd({"*ZRPrinterLanguageEncoding: \"UTF-8\"", "*ModelName: \"Maker DR144\"",
                           "*cupsFilter: \"application/pdf 0 pdftopjl\""},
                          kExamplePrinter));
        WriteFile(data.file("doc.pdf"), MakePdf(2));
        RunOptions o;
        o.args = {"pdftopjl", "5", "user1", title, copies, options, data.file("doc.pdf")};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = data.file("printer.ppd");
        return RunProgram(o);
    }

    // Lines from DNAME to NLPP.
    std::vector<std::string> DocumentLines(const RunResult& r)
    {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Job job = ParseJob(r.out);
        EXPECT_TRUE(job.framed) << job.error;
        std::vector<std::string> lines = BlockLines(job);
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind("@PJL COMMENT DNAME=", 0) == 0)
                return std::vector<std::string>(lines.begin() + static_cast<long>(i), lines.end());
        return {};
    }

    TempDir tmp;
    TempDir data;
};

TEST_F(DocBlockRun, ReferenceExampleLineForLine)
{
    RunResult r = Run("com.apple.print.PrintSettings.PMDuplexing..n.=1 media=A4");
    EXPECT_EQ(DocumentLines(r), (std::vector<std::string>{
                                    "@PJL COMMENT DNAME=Report",
                                    "@PJL SET COPIES=1",
                                    "@PJL SET JOBATTR=\"@FSTP=0\"",
                                    "@PJL SET JOBATTR=\"@LSTP=0\"",
                                    "@PJL SET OUTBIN=MAINTRAY",
                                    "@PJL SET JOBATTR=\"@LOUT=NOSCALING\"",
                                    "@PJL SET JOBATTR=\"@DIPQ=STANDARD\"",
                                    "@PJL SET RENDERMODE=AUTOCOLOR",
                                    "@PJL SET JOBATTR=\"@TRAP=ON\"",
                                    "@PJL SET AUTOSELECT=ON",
                                    "@PJL SET PAPER=A4",
                                    "@PJL SET MEDIATYPE=NORMAL",
                                    "@PJL SET DUPLEX=OFF",
                                    "@PJL SET TIMEOUT=0",
                                    "@PJL SET JOBATTR=\"@NLPP=1\"",
                                }));
}

TEST_F(DocBlockRun, JobSettingsFromTheOptionString)
{
    RunResult r = Run(kTicket + "PrintTypeTicketKey=2 " + kTicket + "PrintTypePasswordTicketKey=4711 " +
                          kTicket + "PrintTypeUserNameTicketKey=hanako " + kTicket +
                          "DocumentNameTypeTicketKey=1 Collate=true ZROutputMode=HighQuality "
                          "ZRColorMode=Black ZRTrapping=false ZRInputSlot=BypassTray "
                          "ZRMSILeadingEdge=LongEdgeR MediaType=Plain media=Tabloid "
                          "com.apple.print.PrintSettings.PMDuplexing..n.=3 ZRStaple=TopDoublePort "
                          "ZRPunch=true orientation-requested=4",
                      "Report", "3");
    EXPECT_EQ(DocumentLines(r), (std::vector<std::string>{
                                    "@PJL COMMENT DNAME=Report",
                                    "@PJL SET HOLD=STORE",
                                    "@PJL SET HOLDTYPE=PRIVATE",
                                    "@PJL SET HOLDENCRYPTKEY=\"4711\"",
                                    "@PJL SET USERNAME=\"hanako\"",
                                    "@PJL SET JOBNAME=\"Report\"",
                                    "@PJL SET QTY=3",
                                    "@PJL SET JOBATTR=\"@FSTP=0\"",
                                    "@PJL SET JOBATTR=\"@LSTP=0\"",
                                    "@PJL SET OUTBIN=MAINTRAY",
                                    "@PJL SET JOBATTR=\"@LOUT=NOSCALING\"",
                                    "@PJL SET JOBATTR=\"@DIPQ=QUALITY2\"",
                                    "@PJL SET COLLATE=COLLATENORMAL",
                                    "@PJL SET RENDERMODE=GRAYSCALE",
                                    "@PJL SET JOBATTR=\"@TRAP=OFF\"",
                                    "@PJL SET MEDIASOURCE=SMH",
                                    "@PJL SET PAPER=LEDGER",
                                    "@PJL SET MEDIATYPE=PLAIN",
                                    "@PJL SET PAPERDIRECTION=LEF",
                                    "@PJL SET DUPLEX=ON",
                                    "@PJL SET BINDING=SHORTEDGE",
                                    "@PJL SET PUNCH=BOTTON",
                                    "@PJL SET FINISH=ON",
                                    "@PJL SET STAPLE=LEFTDUAL",
                                    "@PJL SET TIMEOUT=0",
                                    "@PJL SET JOBATTR=\"@NLPP=1\"",
                                }));
}

// Only a count from 1 to 9999 reaches the header; anything else prints one
// copy, with a warning.
TEST_F(DocBlockRun, CopiesArgumentIsACountOrOne)
{
    struct Case {
        std::string copies;
        const char* line;
    };
    for (const Case& c : {Case{"7", "@PJL SET COPIES=7"}, Case{"9999", "@PJL SET COPIES=9999"},
                          Case{"abc", "@PJL SET COPIES=1"}, Case{"\"", "@PJL SET COPIES=1"},
                          Case{"-5", "@PJL SET COPIES=1"}, Case{"1 2", "@PJL SET COPIES=1"},
                          Case{"0", "@PJL SET COPIES=1"}, Case{"10000", "@PJL SET COPIES=1"},
                          Case{"2\n@PJL ENTER LANGUAGE=PCL", "@PJL SET COPIES=1"},
                          Case{"", "@PJL SET COPIES=1"}}) {
        SCOPED_TRACE("copies \"" + c.copies + "\"");
        RunResult r = Run("", "Report", c.copies);
        std::vector<std::string> lines = DocumentLines(r);
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[1], c.line);
        const bool valid = c.copies == "7" || c.copies == "9999";
        EXPECT_EQ(LinesStartingWith(r.err, "WARNING: The copies argument").size(), valid ? 0u : 1u)
            << r.err;
        EXPECT_NE(r.err.find(valid ? "PAGE: 1 " + c.copies + "\n" : "PAGE: 1 1\n"), std::string::npos)
            << r.err;
    }
}

// A stored job whose passcode breaks the rule (4 to 8 digits) fails before
// anything is written: never held under another code, never printed unheld.
TEST_F(DocBlockRun, StoredJobWithABadPasscodeFails)
{
    for (const std::string& passcode : {std::string("123"), std::string(9, '8'), std::string("12ab"),
                                        std::string(1500, '8'), std::string("/49/10/50/51")}) {
        RunResult r = Run(kTicket + "PrintTypeTicketKey=2 " + kTicket +
                          "PrintTypePasswordTicketKey=" + passcode);
        ExpectJobRefused(r, tmp, "The stored job's passcode must be 4 to 8 digits",
                         "output KPJL Command fail\n");
    }
}

}  // namespace
