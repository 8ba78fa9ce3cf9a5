// SPDX-License-Identifier: Apache-2.0
// CUPS's IPP conformance suites (cups-ipp-utils) against a pdftopjl-app
// printer.  Each suite's report is printed; the subtests allowed to fail are
// those PAPPL 1.3 itself cannot pass (docs/printer-app.md, "Conformance").
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <regex>
#include <set>

#include "app_server.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using apptest::AppServer;

namespace {

const char kSuites[] = "/usr/share/cups/ipptool";

// The documents the suites print, made here: PDF, JPEG, and PWG raster for
// the printer's resolutions and colour spaces.  Files for the rest only need
// to exist; their tests are skipped.
void WriteDocuments(const std::string& dir)
{
    WriteFile(dir + "/document-a4.pdf", MakePdf(2, 595, 842));
    WriteFile(dir + "/document-letter.pdf", MakePdf(2, 612, 792));
    WriteFile(dir + "/document-a4.ps", "");      // PostScript is not offered
    WriteFile(dir + "/document-letter.ps", "");
    std::string ppm = "P6\n64 48\n255\n", pgm = "P5\n64 48\n255\n";
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            ppm += {static_cast<char>(x * 4), static_cast<char>(y * 5), '\x80'};
            pgm += static_cast<char>(x * 4);
        }
    WriteFile(dir + "/color.ppm", ppm);
    WriteFile(dir + "/gray.pgm", pgm);
    for (const char* name : {"color.ppm", "gray.pgm"}) {
        RunOptions o;
        o.program = "/usr/bin/cjpeg";
        const std::string out = dir + "/" + std::string(name).substr(0, std::string(name).find('.')) + ".jpg";
        o.args = {"cjpeg", "-outfile", out, dir + "/" + name};
        RunProgram(o);
    }

    std::ifstream suite(dir + "/ipp-everywhere.test");
    const std::regex raster("FILE (pwg-raster-samples-([0-9]+)dpi/([a-z0-9-]+)/(\\S+)\\.pwg)");
    std::set<std::string> done;
    for (std::string line; std::getline(suite, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, raster) || !done.insert(m[1]).second) continue;
        const std::string path = dir + "/" + m[1].str();
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        const int dpi = std::stoi(m[2]);
        const std::string type = m[3];
        const std::string name = m[4];
        if ((dpi != 300 && dpi != 600) || (type != "sgray-8" && type != "srgb-8")) {
            WriteFile(path, "");
            continue;
        }
        const char* media = name.find("4x6") != std::string::npos      ? "na_index-4x6_4x6in"
                            : name.find("letter") != std::string::npos ? "na_letter_8.5x11in"
                                                                       : "iso_a4_210x297mm";
        apptest::WritePwgRaster(path, media, type == "srgb-8" ? "srgb_8" : "sgray_8", dpi);
    }
}

struct Suite {
    const char* file;
    std::set<std::string> allowedFailures;
};

class Conformance : public ::testing::TestWithParam<Suite> {};

TEST_P(Conformance, IpptoolSuite)
{
    const Suite& suite = GetParam();
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (access((std::string(kSuites) + "/" + suite.file).c_str(), R_OK) != 0)
        GTEST_SKIP() << "no " << suite.file << " in " << kSuites;
    if (access("/usr/bin/cjpeg", X_OK) != 0) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";

    AppServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error) && server.AddPrinter("zx", &error)) << error;
    TempDir work;
    for (const char* name : {"ipp-1.1.test", "ipp-2.0.test", "ipp-everywhere.test"})
        std::filesystem::copy_file(std::string(kSuites) + "/" + name, work.file(name));
    WriteDocuments(work.path());
    sleep(1);  // printer-up-time must be positive

    // Well inside ctest's limit, so that a hang still shows ipptool's report.
    apptest::IpptoolResult r = apptest::RunIpptool(
        {"-I", "-V", "2.0", "-t", "-f", work.file("document-a4.pdf"), server.PrinterUri("zx"), work.file(suite.file)},
        480000);
    EXPECT_FALSE(r.timedOut) << "ipptool did not finish in time";
    // A server that died fails every later request; say so first.
    if (std::string ended = server.Ended(); !ended.empty()) {
        const std::string log = server.Log();
        ADD_FAILURE() << ended << "\n" << log.substr(log.size() > 8000 ? log.size() - 8000 : 0);
    }

    // "    NAME    [PASS]", details indented below a failure.
    std::set<std::string> failures;
    std::string summary;
    int passed = 0, skipped = 0;
    std::istringstream report(r.out);
    bool inFailure = false;
    const std::regex result("^    (\\S.*?)\\s+\\[(PASS|FAIL|SKIP)\\]$");
    for (std::string line; std::getline(report, line);) {
        std::smatch m;
        if (std::regex_match(line, m, result)) {
            inFailure = m[2] == "FAIL";
            if (m[2] == "PASS") ++passed;
            if (m[2] == "SKIP") ++skipped;
            if (inFailure) failures.insert(m[1]);
            if (m[2] != "PASS") summary += line + "\n";
        } else if (inFailure && (line.find("EXPECTED") != std::string::npos ||
                                 line.find("GOT") != std::string::npos)) {
            summary += line + "\n";
        } else if (line.rfind("ipptool:", 0) == 0) {
            summary += line + "\n";
            ADD_FAILURE() << line;
        }
    }
    std::cout << suite.file << ": " << passed << " passed, " << failures.size() << " failed, " << skipped
              << " skipped\n"
              << summary;
    EXPECT_GT(passed, 0) << r.out;
    EXPECT_EQ(failures, suite.allowedFailures) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    CupsIppUtils, Conformance,
    ::testing::Values(
        // PAPPL 1.3 lists a job's reasons only up to warnings-detected
        // (job-ipp.c): a job held by job-hold-until, whose one reason is
        // job-hold-until-specified, gets an empty job-state-reasons, and no
        // reason PAPPL does list is true of it.  Print-Job and
        // Get-Job-Attributes answers cannot be changed by an application.
        Suite{"ipp-2.0.test", {"Print-Job with job-hold-until"}},
        Suite{"ipp-everywhere.test", {"Print-Job with job-hold-until"}}),
    [](const ::testing::TestParamInfo<Suite>& info) {
        return std::string(info.param.file).substr(0, std::string(info.param.file).rfind('.')) ==
                       "ipp-2.0"
                   ? std::string("Ipp20")
                   : std::string("IppEverywhere");
    });

}  // namespace
