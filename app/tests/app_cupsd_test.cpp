// SPDX-License-Identifier: Apache-2.0
// A CUPS queue made driverless from the application: cupsd (private, running
// filters as lp) -> IPP -> pdftopjl-app -> file device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "app_server.hpp"
#include "pjl/jobstream.hpp"
#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

TEST(AppUnderCups, EverywhereQueuePrintsThroughTheApp)
{
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (std::string why = PrivateCupsd::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    apptest::AppServer app;
    std::string error;
    ASSERT_TRUE(app.Start(&error) && app.AddPrinter("zx", &error)) << error;
    PrivateCupsd cupsd("warn");
    ASSERT_TRUE(cupsd.Start(&error)) << error;

    RunOptions add;
    add.program = "/usr/sbin/lpadmin";
    add.args = {"lpadmin", "-h", cupsd.Server(), "-p", "zx4200", "-E", "-v", app.PrinterUri("zx"), "-m", "everywhere"};
    RunResult added = RunProgram(add);
    ASSERT_EQ(added.exitCode, 0) << added.err;
    // What the queue learnt from the application.
    // cupsd loads the queue's PPD in the background.
    std::map<std::string, std::string> queue;
    for (int waited = 0; waited < 10000 && queue["job-password-supported"].empty(); waited += 200) {
        usleep(200000);
        queue = cupsd.PrinterAttributes("zx4200");
    }
    EXPECT_NE(queue["finishings-col-database"].find("StapleDualLeft"), std::string::npos);
    EXPECT_NE(queue["media-source-supported"].find("tray-4"), std::string::npos);
    EXPECT_EQ(queue["job-password-supported"], "8");

    TempDir docs;
    chmod(docs.path().c_str(), 0755);
    WriteFile(docs.file("report.pdf"), MakePdf(3, 595, 842));
    const int id = cupsd.Submit("zx4200",
                                {"-t", "report", "-o", "sides=two-sided-long-edge", "-o", "job-password=2468",
                                 "-o", "print-color-mode=monochrome", "-o", "cupsFinishingTemplate=StapleDualLeft"},
                                docs.file("report.pdf"), &error);
    ASSERT_GT(id, 0) << error;
    ASSERT_EQ(cupsd.WaitForJob(id, 60000), "completed") << cupsd.ErrorLog();

    // The application's job ends too; its stream is in the device's folder.
    std::string stream;
    for (int waited = 0; waited < 30000 && stream.empty(); waited += 100) {
        stream = ReadFile(app.JobFile("zx", "report"));
        if (stream.empty()) usleep(100000);
    }
    pdftopjl::JobStream job = pdftopjl::ParseJobStream(stream);
    ASSERT_TRUE(job.valid) << job.error << app.Log();
    for (const char* line : {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=LONGEDGE", "@PJL SET RENDERMODE=GRAYSCALE",
                             "@PJL SET STAPLE=LEFTDUAL",
                             "@PJL SET HOLD=STORE", "@PJL SET HOLDENCRYPTKEY=\"2468\""})
        EXPECT_NE(std::find(job.header.begin(), job.header.end(), line), job.header.end()) << line;

    // A passcode the printer cannot take: the application refuses the job
    // when CUPS sends it, and the CUPS job does not end as printed.
    const int refused = cupsd.Submit("zx4200", {"-t", "short", "-o", "job-password=12"}, docs.file("report.pdf"), &error);
    ASSERT_GT(refused, 0) << error;
    EXPECT_NE(cupsd.WaitForJob(refused, 60000), "completed") << cupsd.ErrorLog();
    // CUPS shows its own words for the refusal; the application's reason is
    // in cupsd's debug log.
    RunOptions lpstat;
    lpstat.program = "/usr/bin/lpstat";
    lpstat.args = {"lpstat", "-h", cupsd.Server(), "-l", "-W", "completed", "-o", "zx4200"};
    const RunResult listed = RunProgram(lpstat);
    EXPECT_NE(listed.out.find("Printer cannot print with supplied options."), std::string::npos)
        << listed.out << listed.err;
    EXPECT_EQ(ReadFile(app.JobFile("zx", "short")), "");
}

}  // namespace
