// SPDX-License-Identifier: Apache-2.0
// The printer's own state, asked with "@PJL INFO STATUS" and over SNMP: the
// reasons and supply levels clients see in Get-Printer-Attributes and the
// supplies page's text, and jobs that print whatever the printer does with
// the questions.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>

#include "app_server.hpp"
#include "support/fixtures.hpp"
#include "support/sim_printer.hpp"

using namespace testsupport;
using apptest::AppServer;

namespace {

class AppStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
        std::string error;
        ASSERT_TRUE(server_.Start(&error) && server_.AddPrinter("st", &error, sim_.Uri())) << error;
    }

    // Whether the reasons come to read `reasons`, the supplies page to say
    // `text` and the levels to be `levels` (any when empty; queries are a few
    // seconds apart); what they were if not.
    std::string Shows(const std::string& reasons, const std::string& text, const std::string& printer = "st",
                      const std::string& levels = "")
    {
        std::string seen, seenLevels;
        for (int waited = 0; waited < 150; ++waited) {
            auto attrs = server_.PrinterAttributes(printer);
            seen = attrs["printer-state-reasons"];
            seenLevels = attrs["marker-levels"];
            if (seen == reasons && (levels.empty() || seenLevels == levels) &&
                server_.WebPage("/" + printer + "/supplies").find(text) != std::string::npos)
                return "";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "reasons " + seen + ", levels " + seenLevels + ", page: " + server_.WebPage("/" + printer + "/supplies");
    }

    // Jobs print whole to a printer that will not say (all of) its state,
    // and the reasons become what it does say.
    void PrintsWithout(SimPrinter::Mode mode, const char* reasons = "none")
    {
        sim_.Set(mode);
        sim_.SetSnmp(false);
        sim_.Set(SimPrinter::State::Jam);
        for (int waited = 0; waited < 100 && (sim_.StatusQueries() == 0 || !SnmpAsked()); ++waited) {
            server_.PrinterAttributes("st");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_GT(sim_.StatusQueries(), 0);
        EXPECT_TRUE(SnmpAsked());
        EXPECT_EQ(Shows(reasons, ""), "");
        const std::string levels = server_.PrinterAttributes("st")["marker-levels"];
        EXPECT_TRUE(std::regex_match(levels, std::regex("(-1,)*-1"))) << levels;

        WriteFile(docs_.file("one.pdf"), MakePdf(1));
        std::string report;
        const int id = apptest::PrintWithIpptool(server_.PrinterUri("st"), docs_.file("one.pdf"), "application/pdf",
                                                 "one", {}, {}, docs_.path(), &report);
        ASSERT_GT(id, 0) << report;
        EXPECT_EQ(server_.WaitForJob("st", id, 60000)["job-state"], "completed") << server_.Log();
        const auto jobs = sim_.WaitForJobs(1, 10000);
        ASSERT_EQ(jobs.size(), 1u);
        EXPECT_TRUE(jobs[0].valid) << jobs[0].error;
        EXPECT_TRUE(jobs[0].pdf.starts_with("%PDF-"));
        EXPECT_EQ(server_.PrinterAttributes("st")["printer-state"], "idle");
    }

    bool SnmpAsked() const { return !sim_.SnmpProblem().empty() || sim_.SnmpRequests() > 0; }

    AppServer server_;
    SimPrinter sim_;
    TempDir docs_;
};

struct StateCase {
    SimPrinter::State state;
    SimPrinter::Mode pjl;
    const char* reasons;
    const char* page;    // on the supplies page
    const char* levels;  // marker-levels from SNMP: black toner, drum (level unknown)
};

// Each state as PJL and SNMP report it, the same reasons from either, and
// each cleared by the next.
TEST_F(AppStatus, PrinterStateReachesReasonsAndSuppliesPage)
{
    using S = SimPrinter::State;
    const SimPrinter::Mode answer = SimPrinter::Mode::Answer, silent = SimPrinter::Mode::Silent;
    const StateCase cases[] = {
        {S::TonerLow, answer, "toner-low", "Toner low", "5,-1"},
        {S::PaperOutTray2, answer, "media-empty,media-needed", "Tray 2 is empty", "80,-1"},
        {S::Jam, answer, "media-jam", "Paper jam", "80,-1"},
        {S::DoorOpen, answer, "cover-open", "Door open", "80,-1"},
        {S::Offline, answer, "offline", "Offline", "80,-1"},
        // SNMP alone: PJL answers nothing.
        {S::Jam, silent, "media-jam", "Paper jam", "80,-1"},
        {S::TonerLow, silent, "toner-low", "Toner low: black", "5,-1"},
        {S::Busy, answer, "none", "Printing", "80,-1"},
        {S::Ready, answer, "none", "Ready", "80,-1"},
    };
    const bool snmp = sim_.SnmpProblem().empty();
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.page);
        if (!snmp && c.pjl != answer) continue;
        sim_.Set(c.state);
        sim_.Set(c.pjl);
        EXPECT_EQ(Shows(c.reasons, c.page, "st", snmp ? c.levels : ""), "");
    }
    const auto attrs = server_.PrinterAttributes("st");
    EXPECT_NE(attrs.at("printer-supply-info-uri").find("/st/supplies"), std::string::npos);
    EXPECT_NE(server_.WebPage("/st/").find("/st/supplies"), std::string::npos);
    EXPECT_EQ(server_.WebPage("/st/supplies").find("The printer says it is"), std::string::npos);
    if (!snmp) GTEST_SKIP() << "the SNMP rows: " << sim_.SnmpProblem();
    EXPECT_EQ(attrs.at("marker-names"), "Black Toner,Imaging Drum");
    EXPECT_EQ(attrs.at("marker-colors"), "#000000,#777777");  // PAPPL's colour for none
    EXPECT_NE(server_.WebPage("/st/supplies").find("Black Toner:</th><td>80%</td>"), std::string::npos);
}

// A printer that cannot be reached is offline until it answers again.
TEST_F(AppStatus, UnreachablePrinterIsOfflineUntilItAnswers)
{
    const int port = FreeLoopbackPort();
    const std::string uri = "socket://127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(server_.Command({"add", "-d", "gone", "-m", "zarelle_zx4200", "-v", uri}).exitCode, 0);
    EXPECT_EQ(Shows("offline", "Cannot connect to " + uri + ": Connection refused", "gone"), "");
    EXPECT_NE(server_.Command({"status", "-d", "gone"}).out.find(" GMT: Offline\n"), std::string::npos);
    SimPrinter back(port);
    EXPECT_EQ(Shows("none", "Ready", "gone"), "");
    EXPECT_NE(server_.Command({"status"}).out.find("gone: idle since "), std::string::npos);
}

// A monochrome model has one cartridge, the one a low toner is about.
TEST_F(AppStatus, MonochromeTonerLowNamesBlack)
{
    sim_.SetSnmp(false);  // which would name the printer's own cartridges
    ASSERT_EQ(server_.Command({"add", "-d", "mono", "-m", "zarelle_zx2100", "-v", sim_.Uri()}).exitCode, 0);
    EXPECT_EQ(server_.PrinterAttributes("mono")["printer-supply-description"], "Black Toner");
    sim_.Set(SimPrinter::State::TonerLow);
    EXPECT_EQ(Shows("toner-low", "Toner low: black", "mono"), "");
    EXPECT_NE(server_.WebPage("/mono/supplies").find("Black Toner:</th><td>low</td>"), std::string::npos);
    // The simulated printer calls itself a ZX-4200.
    EXPECT_NE(server_.WebPage("/mono/supplies").find("The printer says it is &quot;ZARELLE ZX-4200&quot;, but it is set up as a Zarelle ZX-2100"),
              std::string::npos);
}

TEST_F(AppStatus, SilentPrinterStillPrints) { PrintsWithout(SimPrinter::Mode::Silent); }

TEST_F(AppStatus, PrinterDroppingStatusQueriesStillPrints) { PrintsWithout(SimPrinter::Mode::Drop); }

// PJL answers, SNMP does not: the levels stay unknown.
TEST_F(AppStatus, PrinterWithoutSnmpStillPrints)
{
    if (!sim_.SnmpProblem().empty()) GTEST_SKIP() << sim_.SnmpProblem();
    PrintsWithout(SimPrinter::Mode::Answer, "media-jam");
}

}  // namespace
