// SPDX-License-Identifier: Apache-2.0
// The sample PPD and the install rules.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "models/model_table.hpp"
#include "models/ppd_writer.hpp"
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

RunResult Exec(const std::vector<std::string>& args, const std::string& destdir = "",
              int timeoutMs = 60000)
{
    RunOptions o;
    o.program = args[0];
    o.args = args;
    if (!destdir.empty()) o.env["DESTDIR"] = destdir;
    o.env["MANWIDTH"] = "80";
    o.env["MANPAGER"] = "cat";
    o.timeoutMs = timeoutMs;
    return RunProgram(o);
}

// Files under root, relative to it.
std::set<std::string> FilesUnder(const std::string& root)
{
    std::set<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        if (!e.is_directory()) files.insert(e.path().string().substr(root.size()));
    return files;
}

// An administrator's build: configured afresh as INSTALL.md says (no tests
// unless asked for), installed into a staging root.  It links the shared
// qpdf, as a packager may, so that both ways of linking it are built and run.
TEST(Install, LaysOutABuildWithoutTestsUnderThePrefix)
{
    TempDir tmp;
    const std::string build = tmp.file("build");
    RunResult r = Exec({PDFTOPJL_CMAKE, "-S", PDFTOPJL_SOURCE_DIR, "-B", build, "-DPDFTOPJL_STATIC_QPDF=OFF"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    r = Exec({PDFTOPJL_CMAKE, "--build", build, "-j2"}, "", 280000);
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    // No suite was configured, so the build needed no GoogleTest.
    for (const char* suite : {"/tests", "/app/tests"})
        EXPECT_FALSE(std::filesystem::exists(build + suite)) << suite;

    struct Case {
        std::vector<std::string> prefixArgs;
        std::string prefix;  // where everything must land
    };
    // The default prefix is CUPS's own, so the filter lands where cupsd looks.
    for (const Case& c : {Case{{}, "/usr"}, Case{{"--prefix", "/opt/zx"}, "/opt/zx"}}) {
        SCOPED_TRACE(c.prefix);
        const std::string dest = tmp.file("dest" + std::to_string(c.prefixArgs.size()));
        std::vector<std::string> install = {PDFTOPJL_CMAKE, "--install", build, "--strip"};
        install.insert(install.end(), c.prefixArgs.begin(), c.prefixArgs.end());
        r = Exec(install, dest);
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

        const std::string root = dest + c.prefix;
        // The models' PPDs where lpinfo -m lists them (/usr/share/ppd).
        std::vector<std::string> ppds;
        for (const pdftopjl::PrinterModel& model : pdftopjl::Models())
            ppds.push_back("/share/ppd/pdftopjl/" + pdftopjl::PpdFileName(model));
        const std::string module = "/" PDFTOPJL_MODULE_DIR "/pdftopjl-poppler.so";
        std::set<std::string> expected = {c.prefix + "/bin/pjlinspect", c.prefix + "/lib/cups/filter/pdftopjl",
                                          c.prefix + module, c.prefix + "/share/man/man1/pjlinspect.1",
                                          c.prefix + "/share/man/man8/pdftopjl.8"};
        for (const std::string& ppd : ppds) expected.insert(c.prefix + ppd);
        // The printer application, built where PAPPL is installed, with its
        // page and its systemd unit (in systemd's folder, else under the prefix).
        const bool app = access((build + "/pdftopjl-app").c_str(), X_OK) == 0;
        std::string unit;
        if (app) {
            expected.insert({c.prefix + "/bin/pdftopjl-app", c.prefix + "/share/man/man1/pdftopjl-app.1"});
            for (const std::string& file : FilesUnder(dest))
                if (file.ends_with("/lib/systemd/system/pdftopjl-app.service")) unit = file;
            EXPECT_TRUE(unit == "/lib/systemd/system/pdftopjl-app.service" ||
                        unit == c.prefix + "/lib/systemd/system/pdftopjl-app.service")
                << unit;
            expected.insert(unit);
        }
        EXPECT_EQ(FilesUnder(dest), expected);
        if (app && access("/usr/bin/systemd-analyze", X_OK) != 0) {
            std::cout << "systemd-analyze is missing (package systemd): the unit is not verified\n";
        } else if (app) {
            // Verified as installed, its program and page where they were staged.
            std::string text = ReadFile(dest + unit);
            const std::string program = c.prefix + "/bin/pdftopjl-app";
            EXPECT_NE(text.find("ExecStart=" + program + " server"), std::string::npos) << text;
            text.replace(text.find(program), program.size(), root + "/bin/pdftopjl-app");
            WriteFile(tmp.file("pdftopjl-app.service"), text);
            RunOptions verify;
            verify.program = "/usr/bin/systemd-analyze";
            verify.args = {"systemd-analyze", "verify", tmp.file("pdftopjl-app.service")};
            verify.env["MANPATH"] = root + "/share/man";
            r = RunProgram(verify);
            EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        }
        struct stat st;
        ASSERT_EQ(stat((root + "/lib/cups/filter/pdftopjl").c_str(), &st), 0);
        // cupsd refuses filters that others may write.
        EXPECT_EQ(st.st_mode & 07777, 0755u);
        EXPECT_EQ(access((root + "/bin/pjlinspect").c_str(), X_OK), 0);
        for (size_t i = 0; i < ppds.size(); ++i)
            EXPECT_EQ(ReadFile(root + ppds[i]), pdftopjl::WritePpd(pdftopjl::Models()[i])) << ppds[i];

        // The installed filter finds its painting module where it was installed.
        WriteFile(tmp.file("doc.pdf"), MakePdf(1));
        WriteFile(tmp.file("printer.ppd"), MakePpd({}));
        RunOptions paint;
        paint.program = root + "/lib/cups/filter/pdftopjl";
        paint.args = {"pdftopjl", "1", "user", "title", "1", "ZRPDFRasterizedMode=true", tmp.file("doc.pdf")};
        paint.env["PPD"] = tmp.file("printer.ppd");
        paint.env["TMPDIR"] = tmp.path();
        r = RunProgram(paint);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find("/Subtype /Image"), std::string::npos) << r.err;

        if (c.prefixArgs.empty() && access("/usr/bin/cupstestppd", X_OK) == 0) {
            // -R looks for the filter under the staging root, as cupsd would under /.
            for (const std::string& ppd : ppds) {
                r = Exec({"/usr/bin/cupstestppd", "-R", dest, root + ppd});
                EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
                EXPECT_NE(r.out.find("PASS"), std::string::npos) << r.out;
            }
        }
        if (access("/usr/bin/man", X_OK) == 0) {
            std::vector<std::string> pages = {"/share/man/man8/pdftopjl.8", "/share/man/man1/pjlinspect.1"};
            if (app) pages.push_back("/share/man/man1/pdftopjl-app.1");
            for (const std::string& page : pages) {
                r = Exec({"/usr/bin/man", "--warnings", "-l", root + page});
                EXPECT_EQ(r.exitCode, 0) << page;
                EXPECT_EQ(r.err, "") << page;
                EXPECT_NE(r.out.find("SYNOPSIS"), std::string::npos) << page;
            }
        }

        r = Exec({PDFTOPJL_CMAKE, "--build", build, "--target", "uninstall"}, dest);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_EQ(FilesUnder(dest), std::set<std::string>{});
    }
}

}  // namespace
