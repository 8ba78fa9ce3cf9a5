// SPDX-License-Identifier: Apache-2.0
// Each job reads its PPD once, however many settings come from it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include <sstream>
#include <string>

#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

TEST(JobContext, ThePpdIsOpenedOncePerJob)
{
    if (access("/usr/bin/strace", X_OK) != 0) GTEST_SKIP() << "strace is not installed";
    TempDir tmp;
    const std::string sample = std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd";
    // A UTF-8 printer, a bypass tray fed from the reversed edge (turned
    // pages) and the defaults the header takes from the PPD.
    std::string ppd = ReadFile(sample);
    ppd += "*ZRPrinterLanguageEncoding: \"UTF-8\"\n";
    WriteFile(tmp.file("printer.ppd"), ppd);
    WriteFile(tmp.file("doc.pdf"), MakePdf(2));

    RunOptions o;
    o.program = "/usr/bin/strace";
    o.args = {"strace", "-f", "-qq", "-e", "trace=openat", "-o", tmp.file("trace"),
              FilterBinary(), "7", "alice", "Report", "2",
              "ZRInputSlot=BypassTray ZRMSILeadingEdge=LongEdgeR sides=two-sided-long-edge",
              tmp.file("doc.pdf")};
    o.env["PPD"] = tmp.file("printer.ppd");
    o.env["TMPDIR"] = tmp.path();
    // LeakSanitizer cannot run under ptrace.
    if (const char* asan = getenv("ASAN_OPTIONS"))
        o.env["ASAN_OPTIONS"] = std::string(asan) + ":detect_leaks=0";
    RunResult r = RunProgram(o);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("@PJL SET PAPERDIRECTION=LEF"), std::string::npos);

    std::istringstream trace(ReadFile(tmp.file("trace")));
    int opens = 0;
    for (std::string line; std::getline(trace, line);)
        if (line.find("\"" + tmp.file("printer.ppd") + "\"") != std::string::npos &&
            line.find("= -1") == std::string::npos)
            ++opens;
    EXPECT_EQ(opens, 1) << ReadFile(tmp.file("trace"));
}

}  // namespace
