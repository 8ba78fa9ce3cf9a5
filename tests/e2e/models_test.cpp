// SPDX-License-Identifier: Apache-2.0
// The PPDs the build writes from the model table: what CUPS makes of them
// and what the filter makes of them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "models/model_table.hpp"
#include "models/ppd_writer.hpp"
#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"
#include "support/sim_printer.hpp"

using namespace testsupport;

namespace {

const std::string kPpdDir = std::string(PDFTOPJL_BUILD_DIR) + "/ppd";

std::string BuiltPpd(const pdftopjl::PrinterModel& model) { return kPpdDir + "/" + pdftopjl::PpdFileName(model); }

// The header from the document's name on: the same for the same settings.
std::vector<std::string> DocumentLines(const std::string& stream)
{
    const std::vector<std::string> lines = BlockLines(ParseJob(stream));
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i].starts_with("@PJL COMMENT DNAME=")) return {lines.begin() + static_cast<long>(i), lines.end()};
    return {};
}

bool Has(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(ModelPpd, IsWhatTheBuildWrote)
{
    for (const pdftopjl::PrinterModel& model : pdftopjl::Models())
        EXPECT_EQ(ReadFile(BuiltPpd(model)), pdftopjl::WritePpd(model)) << model.driver;
}

// The ZX-4200's PPD drives the filter to the header the sample PPD gives
// for the same standard options, its queue defaults included.
TEST(ModelPpd, HeaderAsFromTheSamplePpd)
{
    const pdftopjl::PrinterModel& zx4200 = *pdftopjl::FindModelByDriver("zarelle_zx4200");
    TempDir tmp;
    WriteFile(tmp.file("doc.pdf"), MakePdf(2));
    auto header = [&](const std::string& ppd, const std::string& options) {
        RunOptions o;
        o.args = {"pdftopjl", "5", "user1", "Report", "1", options, tmp.file("doc.pdf")};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = ppd;
        RunResult r = RunProgram(o);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return DocumentLines(r.out);
    };
    for (const char* options : {
             "",
             "InputSlot=Tray2 PageSize=A3 MediaType=Thick",
             "InputSlot=MPTray ZRMSILeadingEdge=LongEdge",
             "print-color-mode=monochrome print-quality=5",
             "cupsPrintQuality=Draft",
             "finishings=28 OutputBin=Stacker1 sides=two-sided-long-edge",
             "finishings=5 Duplex=DuplexTumble ZRTrapping=false",
         }) {
        SCOPED_TRACE(options);
        const std::vector<std::string> sample =
            header(std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd", options);
        EXPECT_FALSE(sample.empty());
        EXPECT_EQ(header(BuiltPpd(zx4200), options), sample);
    }
}

// Each model's PPD as an administrator meets it: checked by cupstestppd,
// listed by lpinfo -m, made a queue with lpadmin -m, and printing to the
// tray a job names, the bypass tray the model names, in the model's colour
// and code set.
TEST(ModelPpd, ListedQueuedAndPrintedThroughCupsd)
{
    if (const std::string why = PrivateCupsd::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (access("/usr/bin/cupstestppd", X_OK) != 0 || access("/usr/sbin/lpinfo", X_OK) != 0)
        GTEST_SKIP() << "cupstestppd/lpinfo are not installed (package cups-client)";
    TempDir served;
    chmod(served.path().c_str(), 0755);
    PrivateCupsd cupsd;
    cupsd.ServeInstalled(ServeBuiltFilter(served.path()), kPpdDir);
    std::string error;
    ASSERT_TRUE(cupsd.Start(&error)) << error;
    const std::string listed = cupsd.Models();
    WriteFile(served.file("doc.pdf"), MakePdf(1, 595, 842));
    chmod(served.file("doc.pdf").c_str(), 0644);

    for (const pdftopjl::PrinterModel& model : pdftopjl::Models()) {
        SCOPED_TRACE(model.driver);
        RunOptions check;
        check.program = "/usr/bin/cupstestppd";
        check.args = {"cupstestppd", "-W", "all", BuiltPpd(model)};
        check.env["CUPS_SERVERBIN"] = cupsd.Root() + "/serverbin";
        RunResult r = RunProgram(check);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find(": PASS"), std::string::npos) << r.out;

        const std::string name = "pdftopjl/" + pdftopjl::PpdFileName(model);
        EXPECT_NE(listed.find(name + " " + model.modelName + ", pdftopjl\n"), std::string::npos) << listed;
        const std::string queue = std::string(model.driver);
        ASSERT_TRUE(cupsd.AddQueueFromModel(queue, name, &error)) << error;
        // What IPP clients see of the queue is the row.
        std::map<std::string, std::string> seen = cupsd.PrinterAttributes(queue);
        std::string sources = "auto", sizes;
        for (const pdftopjl::TrayEntry& tray : model.trays) sources += std::string(",") + tray.ippSource;
        for (const char* size : model.sizes) sizes += (sizes.empty() ? "" : ",") + std::string(size);
        EXPECT_EQ(seen["media-source-supported"], sources);
        EXPECT_EQ(seen["media-supported"], sizes);
        EXPECT_EQ(seen["printer-device-id"], model.deviceId);
        EXPECT_EQ(seen["print-color-mode-supported"], model.colour ? "monochrome,color" : "monochrome");
        EXPECT_EQ(seen["finishings-supported"].find("staple") != std::string::npos, pdftopjl::Staples(model));
        EXPECT_EQ(seen["finishings-supported"].find("punch") != std::string::npos, pdftopjl::Punches(model));

        auto print = [&](const std::vector<std::string>& lpArgs) {
            unlink(cupsd.OutputFile(queue).c_str());
            const int id = cupsd.Submit(queue, lpArgs, served.file("doc.pdf"), &error);
            EXPECT_GT(id, 0) << error;
            EXPECT_EQ(cupsd.WaitForJob(id, 20000), "completed") << cupsd.ErrorLog();
            return ParseJob(ReadFile(cupsd.OutputFile(queue))).header;
        };
        const std::vector<std::string> tray2 = print({"-o", "InputSlot=Tray2"});
        EXPECT_TRUE(Has(tray2, "@PJL SET MEDIASOURCE=TRAY2"));
        EXPECT_TRUE(Has(tray2, model.colour ? "@PJL SET RENDERMODE=AUTOCOLOR" : "@PJL SET RENDERMODE=GRAYSCALE"));
        EXPECT_EQ(Has(tray2, "@PJL SET STRINGCODESET=\"UTF8\""), model.codeSet == pdftopjl::CodeSet::Utf8);
        EXPECT_TRUE(Has(print({"-o", "InputSlot=MPTray"}), "@PJL SET MEDIASOURCE=" + std::string(model.bypassTray)));
        // The standard colour option, beside the print-color-mode lp adds.
        EXPECT_TRUE(Has(print({"-o", "ColorModel=Gray", "-o", "cupsPrintQuality=High"}), "@PJL SET RENDERMODE=GRAYSCALE"));
    }
}

// A queue on a network printer: around each job CUPS's socket backend reads
// the printer's supplies and state over SNMP (the PPD's cupsSNMPSupplies),
// and the queue shows them until the next job.
TEST(ModelPpd, NetworkQueueShowsThePrintersSupplies)
{
    if (const std::string why = PrivateCupsd::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    SimPrinter printer;
    if (!printer.SnmpProblem().empty()) GTEST_SKIP() << printer.SnmpProblem();
    TempDir served;
    chmod(served.path().c_str(), 0755);
    PrivateCupsd cupsd("warn");
    cupsd.ServeInstalled(ServeBuiltFilter(served.path()), kPpdDir);
    std::string error;
    ASSERT_TRUE(cupsd.Start(&error)) << error;
    const pdftopjl::PrinterModel* model = pdftopjl::FindModelByDriver("zarelle_zx4200");
    ASSERT_NE(model, nullptr);
    ASSERT_TRUE(cupsd.AddQueueFromModel("zx", "pdftopjl/" + pdftopjl::PpdFileName(*model), &error)) << error;
    RunOptions device;
    device.program = "/usr/sbin/lpadmin";
    device.args = {"lpadmin", "-h", cupsd.Server(), "-p", "zx", "-v", printer.Uri()};
    ASSERT_EQ(RunProgram(device).exitCode, 0);
    WriteFile(served.file("doc.pdf"), MakePdf(1, 595, 842));
    chmod(served.file("doc.pdf").c_str(), 0644);

    struct Case {
        SimPrinter::State state;
        const char* levels;   // black toner, imaging drum (level unknown)
        const char* reasons;  // printer-state-reasons after the job
    };
    const Case cases[] = {
        {SimPrinter::State::TonerLow, "5,-1", "toner-low-report"},
        {SimPrinter::State::Jam, "80,-1", "media-jam-warning"},
        {SimPrinter::State::Ready, "80,-1", "none"},
    };
    size_t jobs = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.levels + std::string(" ") + c.reasons);
        printer.Set(c.state);
        const int id = cupsd.Submit("zx", {}, served.file("doc.pdf"), &error);
        ASSERT_GT(id, 0) << error;
        EXPECT_EQ(cupsd.WaitForJob(id, 30000), "completed") << cupsd.ErrorLog();
        EXPECT_EQ(printer.WaitForJobs(++jobs, 10000).size(), jobs);
        auto seen = cupsd.PrinterAttributes("zx");
        EXPECT_EQ(seen["marker-levels"], c.levels);
        EXPECT_EQ(seen["marker-names"], "Black Toner,Imaging Drum");
        EXPECT_EQ(seen["printer-state-reasons"], c.reasons);
    }
    // A printer without SNMP still prints (after the backend's questions
    // have gone unanswered: about 4 s).
    printer.SetSnmp(false);
    const int id = cupsd.Submit("zx", {}, served.file("doc.pdf"), &error);
    ASSERT_GT(id, 0) << error;
    EXPECT_EQ(cupsd.WaitForJob(id, 30000), "completed") << cupsd.ErrorLog();
    EXPECT_EQ(printer.WaitForJobs(++jobs, 10000).size(), jobs);
}

}  // namespace
