// The sample PPD and the install rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

const std::string kSamplePpd = std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd";

TEST(SamplePpd, PassesCupsTestPpd)
{
    if (access("/usr/bin/cupstestppd", X_OK) != 0) GTEST_SKIP() << "cupstestppd is not installed";
    RunOptions o;
    o.program = "/usr/bin/cupstestppd";
    // The filter is named by bare name and only exists once installed.
    o.args = {"cupstestppd", "-I", "filters", kSamplePpd};
    RunResult r = RunProgram(o);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("PASS"), std::string::npos) << r.out;
}

TEST(SamplePpd, DeclaresWhatTheFilterReads)
{
    const std::string ppd = ReadFile(kSamplePpd);
    for (const char* text :
         {"*cupsFilter: \"application/pdf 0 pdftopjl\"", "*ZRPrinterLanguageEncoding:", "*ModelName:",
          "*LandscapeOrientation:", "*OpenUI *ZRInputSlot", "*OpenUI *MediaType", "*OpenUI *ZRColorMode",
          "*OpenUI *ZROutputMode", "*OpenUI *ZRTrapping", "*OpenUI *ZRStaple", "*OpenUI *ZRPunch",
          "*OpenUI *ZRMSILeadingEdge", "*OpenUI *ZRTurnPage", "*OpenUI *ZRPDFRasterizedMode",
          "*OpenUI *PageSize", "*OpenUI *Duplex"})
        EXPECT_NE(ppd.find(text), std::string::npos) << text;
}

TEST(Install, PutsTheFilterAndThePpdWhereCupsLooks)
{
    TempDir dest;
    RunOptions o;
    o.program = PDFTOPJL_CMAKE;
    o.args = {"cmake", "--install", PDFTOPJL_BUILD_DIR};
    o.env["DESTDIR"] = dest.path();
    RunResult r = RunProgram(o);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    struct stat st;
    const std::string filter = dest.path() + PDFTOPJL_FILTER_DIR + "/pdftopjl";
    ASSERT_EQ(stat(filter.c_str(), &st), 0) << r.out;
    // cupsd refuses filters that others may write.
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(ReadFile(dest.path() + PDFTOPJL_PPD_DIR + "/pdftopjl-sample.ppd"), ReadFile(kSamplePpd));
}

}  // namespace
