// The printer's own state, asked with "@PJL INFO STATUS": the reasons
// clients see in Get-Printer-Attributes and the supplies page's text, and
// jobs that print whatever the printer does with the question.
#include <gtest/gtest.h>

#include <chrono>
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

    // Whether the reasons come to read `reasons` and the supplies page to
    // say `text` (queries are a few seconds apart); what they were if not.
    std::string Shows(const std::string& reasons, const std::string& text, const std::string& printer = "st")
    {
        std::string seen;
        for (int waited = 0; waited < 150; ++waited) {
            seen = server_.PrinterAttributes(printer)["printer-state-reasons"];
            if (seen == reasons && server_.WebPage("/" + printer + "/supplies").find(text) != std::string::npos)
                return "";
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return "reasons " + seen + ", page: " + server_.WebPage("/" + printer + "/supplies");
    }

    // Jobs print whole to a printer that will not say its state, and the
    // reasons stay as they were.
    void PrintsWithout(SimPrinter::Mode mode)
    {
        sim_.Set(mode);
        sim_.Set(SimPrinter::State::Jam);
        for (int waited = 0; waited < 100 && sim_.StatusQueries() == 0; ++waited) {
            server_.PrinterAttributes("st");
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        EXPECT_GT(sim_.StatusQueries(), 0);
        EXPECT_EQ(server_.PrinterAttributes("st")["printer-state-reasons"], "none");

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

    AppServer server_;
    SimPrinter sim_;
    TempDir docs_;
};

struct StateCase {
    SimPrinter::State state;
    const char* reasons;
    const char* page;  // on the supplies page
};

TEST_F(AppStatus, PrinterStateReachesReasonsAndSuppliesPage)
{
    const StateCase cases[] = {
        {SimPrinter::State::TonerLow, "toner-low", "Toner low"},
        {SimPrinter::State::PaperOutTray2, "media-empty,media-needed", "Tray 2 is empty"},
        {SimPrinter::State::Jam, "media-jam", "Paper jam"},
        {SimPrinter::State::DoorOpen, "cover-open", "Door open"},
        {SimPrinter::State::Offline, "offline", "Offline"},
        {SimPrinter::State::Busy, "none", "Printing"},
        {SimPrinter::State::Ready, "none", "Ready"},
    };
    for (const StateCase& c : cases) {
        SCOPED_TRACE(c.page);
        sim_.Set(c.state);
        EXPECT_EQ(Shows(c.reasons, c.page), "");
    }
    const auto attrs = server_.PrinterAttributes("st");
    EXPECT_NE(attrs.at("printer-supply-info-uri").find("/st/supplies"), std::string::npos);
    EXPECT_NE(server_.WebPage("/st/").find("/st/supplies"), std::string::npos);
}

// A printer that cannot be reached is offline until it answers again.
TEST_F(AppStatus, UnreachablePrinterIsOfflineUntilItAnswers)
{
    const int port = FreeLoopbackPort();
    const std::string uri = "socket://127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(server_.Command({"add", "-d", "gone", "-m", "zarelle_zx4200", "-v", uri}).exitCode, 0);
    EXPECT_EQ(Shows("offline", "Cannot connect to " + uri + ": Connection refused", "gone"), "");
    SimPrinter back(port);
    EXPECT_EQ(Shows("none", "Ready", "gone"), "");
}

// A monochrome model has one cartridge, the one a low toner is about.
TEST_F(AppStatus, MonochromeTonerLowNamesBlack)
{
    ASSERT_EQ(server_.Command({"add", "-d", "mono", "-m", "zarelle_zx2100", "-v", sim_.Uri()}).exitCode, 0);
    EXPECT_EQ(server_.PrinterAttributes("mono")["printer-supply-description"], "Black Toner");
    sim_.Set(SimPrinter::State::TonerLow);
    EXPECT_EQ(Shows("toner-low", "Toner low: black", "mono"), "");
    EXPECT_NE(server_.WebPage("/mono/supplies").find("Black Toner:</th><td>low</td>"), std::string::npos);
}

TEST_F(AppStatus, SilentPrinterStillPrints) { PrintsWithout(SimPrinter::Mode::Silent); }

TEST_F(AppStatus, PrinterDroppingStatusQueriesStillPrints) { PrintsWithout(SimPrinter::Mode::Drop); }

}  // namespace
