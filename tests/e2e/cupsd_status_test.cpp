// SPDX-License-Identifier: Apache-2.0
// The printer's own state under CUPS, through the filter: a private cupsd's
// queue on the simulated printer's socket://, and what lpstat shows of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/cupsd.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"
#include "support/sim_printer.hpp"

using namespace testsupport;

namespace {

constexpr int kJobTimeoutMs = 20000;

// Every reason the filter reports.
const std::vector<std::string> kReasons = {"media-empty-warning", "media-needed-error", "media-jam-warning",
                                           "door-open-report",     "toner-low-report",  "offline-report",
                                           "other-warning",       "other-error"};

struct StatusCase {
    const char* name;
    SimPrinter::State state;
    // While the job is at the printer: the reasons ("Alerts:") and the
    // message; once it is done, the reasons that stay.
    std::vector<std::string> during;
    std::string message;
    std::vector<std::string> after;
    SimPrinter::Mode mode = SimPrinter::Mode::Answer;
    bool off = false;  // the queue's ZRPrinterStatus
};

class CupsdStatus : public ::testing::TestWithParam<StatusCase> {
protected:
    static void SetUpTestSuite()
    {
        skip_ = PrivateCupsd::Unavailable();
        if (!skip_.empty()) return;
        sim_ = std::make_unique<SimPrinter>();
        server_ = std::make_unique<PrivateCupsd>("warn");
        std::string error;
        if (!server_->Start(&error) ||
            !server_->AddQueue("zx", SamplePpd(ServeBuiltFilter(server_->Root()), "UTF-8"), &error,
                                 sim_->Uri() + "/?snmp=false"))
            startError_ = error;
        documents_ = std::make_unique<TempDir>();
        chmod(documents_->path().c_str(), 0755);
        WriteFile(documents_->file("one.pdf"), MakePdf(1));
        chmod(documents_->file("one.pdf").c_str(), 0644);
    }
    static void TearDownTestSuite()
    {
        server_.reset();
        sim_.reset();
        documents_.reset();
    }
    void SetUp() override
    {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(startError_.empty()) << startError_;
        sim_->Set(SimPrinter::State::Ready);
    }

    static std::string Lpstat()
    {
        RunOptions o;
        o.program = "/usr/bin/lpstat";
        o.args = {"lpstat", "-h", server_->Server(), "-l", "-p", "zx"};
        return RunProgram(o).out;
    }
    // The queue's reasons, from lpstat's "Alerts:" line.
    static std::string Alerts()
    {
        const std::string out = Lpstat();
        const size_t at = out.find("Alerts:");
        return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at) + " ";
    }
    static bool Shows(const std::string& alerts, const std::string& reason)
    {
        return alerts.find(" " + reason + " ") != std::string::npos;
    }

    // Submits the document; the job's id.
    int Submit()
    {
        std::string error;
        const int id = server_->Submit("zx", {}, documents_->file("one.pdf"), &error);
        EXPECT_GT(id, 0) << error;
        return id;
    }
    // Prints the document; it completes, reaching the printer well framed.
    void PrintsWhole()
    {
        const size_t before = sim_->WaitForJobs(0, 0).size();
        const int id = Submit();
        ASSERT_EQ(server_->WaitForJob(id, kJobTimeoutMs), "completed") << server_->ErrorLog();
        const auto jobs = sim_->WaitForJobs(before + 1, kJobTimeoutMs);
        ASSERT_EQ(jobs.size(), before + 1);
        EXPECT_TRUE(jobs.back().valid) << jobs.back().error;
        EXPECT_TRUE(jobs.back().pdf.starts_with("%PDF-"));
    }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<SimPrinter> sim_;
    static std::unique_ptr<PrivateCupsd> server_;
    static std::unique_ptr<TempDir> documents_;
};

std::string CupsdStatus::skip_;
std::string CupsdStatus::startError_;
std::unique_ptr<SimPrinter> CupsdStatus::sim_;
std::unique_ptr<PrivateCupsd> CupsdStatus::server_;
std::unique_ptr<TempDir> CupsdStatus::documents_;

// The printer's state changes while it holds the job: the filter reports it
// (cupsd clears the message and offline-report itself when the job ends),
// and the next job, to a printer that is ready again, clears the rest.  A
// printer that never answers or cuts its answers short still gets its jobs
// whole; a queue whose status is off asks nothing.
TEST_P(CupsdStatus, PrinterStateReachesLpstat)
{
    const StatusCase& c = GetParam();
    std::string error;
    ASSERT_TRUE(server_->SetDefaults("zx", {std::string("ZRPrinterStatus-default=") + (c.off ? "False" : "True")}, &error))
        << error;
    sim_->Set(c.mode);
    sim_->Hold(true);
    const size_t before = sim_->WaitForJobs(0, 0).size();
    const int asked = sim_->StatusQueries();
    const int id = Submit();
    ASSERT_EQ(sim_->WaitForJobs(before + 1, kJobTimeoutMs).size(), before + 1) << server_->ErrorLog();
    sim_->Set(c.state);
    const std::string message = "\t" + c.message + "\n";
    std::string seen;
    for (int waited = 0; waited < 100 && !c.message.empty(); ++waited) {
        seen = Lpstat();
        bool all = seen.find(message) != std::string::npos;
        for (const std::string& reason : c.during) all = all && Shows(Alerts(), reason);
        if (all) break;
        usleep(100000);
    }
    if (!c.message.empty()) {
        EXPECT_NE(seen.find(message), std::string::npos) << seen;
    }
    for (const std::string& reason : c.during) EXPECT_TRUE(Shows(Alerts(), reason)) << reason << ": " << seen;
    sim_->Hold(false);
    ASSERT_EQ(server_->WaitForJob(id, kJobTimeoutMs), "completed") << server_->ErrorLog();
    const auto jobs = sim_->WaitForJobs(before + 1, 0);
    EXPECT_TRUE(jobs.back().valid) << jobs.back().error;
    EXPECT_EQ(sim_->StatusQueries() > asked, !c.off);
    const std::string after = Alerts();
    for (const std::string& reason : kReasons) {
        const bool stays = std::find(c.after.begin(), c.after.end(), reason) != c.after.end();
        EXPECT_EQ(Shows(after, reason), stays) << reason << ": " << after;
    }

    sim_->Set(SimPrinter::Mode::Answer);
    sim_->Set(SimPrinter::State::Ready);
    ASSERT_TRUE(server_->SetDefaults("zx", {"ZRPrinterStatus-default=True"}, &error)) << error;
    PrintsWhole();
    for (const std::string& reason : kReasons) EXPECT_FALSE(Shows(Alerts(), reason)) << reason << ": " << Alerts();
}

using State = SimPrinter::State;
using Mode = SimPrinter::Mode;

INSTANTIATE_TEST_SUITE_P(
    States, CupsdStatus,
    ::testing::Values(
        StatusCase{"TonerLow", State::TonerLow, {"toner-low-report"}, "Toner low", {"toner-low-report"}},
        StatusCase{"PaperOut", State::PaperOutTray2, {"media-empty-warning", "media-needed-error"}, "Tray 2 is empty",
                   {"media-empty-warning"}},
        StatusCase{"Jam", State::Jam, {"media-jam-warning"}, "Paper jam", {"media-jam-warning"}},
        StatusCase{"DoorOpen", State::DoorOpen, {"door-open-report"}, "Door open", {"door-open-report"}},
        StatusCase{"Offline", State::Offline, {"offline-report"}, "Offline", {}},
        StatusCase{"SilentPrinter", State::Jam, {}, "", {}, Mode::Silent},
        StatusCase{"AnswersCutShort", State::Jam, {}, "", {}, Mode::Drop},
        StatusCase{"QueueStatusOff", State::Jam, {}, "", {}, Mode::Answer, true}),
    [](const ::testing::TestParamInfo<StatusCase>& info) { return std::string(info.param.name); });

}  // namespace
