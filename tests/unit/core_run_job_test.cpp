// SPDX-License-Identifier: Apache-2.0
// The core as one call: what a front door that calls RunJob directly gets
// back through its hooks and the outcome.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/run_job.hpp"
#include "host_fakes.hpp"
#include "support/fixtures.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

int FakeHostName(char* name, size_t size)
{
    snprintf(name, size, "%s", "host01");
    return 0;
}

struct RunCase {
    const char* name;
    std::string document;  // the document's bytes
    bool storedWithBadPasscode;
    bool cancelled;
    Outcome outcome;
    LogLevel firstLevel;   // of the first line the log hook got
};

class CoreCall : public ::testing::TestWithParam<RunCase> {};

TEST_P(CoreCall, GivesTheOutcomeAndCallsTheHooks)
{
    const RunCase& c = GetParam();
    TempDir tmp;
    setenv("TMPDIR", tmp.path().c_str(), 1);
    WriteFile(tmp.file("doc.pdf"), c.document);

    JobTicket ticket;
    ticket.user = "alice";
    ticket.title = "Report";
    ticket.copies = 2;
    if (c.storedWithBadPasscode) {
        ticket.held.type = PrintType::Store;
        ticket.held.passcode = "12";
    }
    PrinterProfile printer;
    printer.described = true;
    JobDocument document;
    document.path = tmp.file("doc.pdf");

    std::vector<std::pair<LogLevel, std::string>> logged;
    int64_t pages = -1, impressions = -1;
    int32_t copies = -1;
    JobHooks hooks;
    hooks.log = [&](LogLevel level, std::string_view text) { logged.emplace_back(level, std::string(text)); };
    hooks.cancelled = [&] { return c.cancelled; };
    hooks.pagesSent = [&](int64_t p, int32_t n) { pages = p, copies = n; };
    hooks.impressionsKnown = [&](int64_t n) { impressions = n; };
    JobServices services;
    services.host.hostName = FakeHostName;
    services.host.resolver = hostfakes::UseFakeResolver();
    hostfakes::Answer().addresses = {hostfakes::Address("192.168.1.20")};

    FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ::testing::internal::CaptureStderr();
    const Outcome outcome = RunJob(ticket, printer, document, out, hooks, services);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const long written = std::ftell(out);
    std::fclose(out);
    unsetenv("TMPDIR");

    EXPECT_EQ(outcome, c.outcome);
    EXPECT_EQ(ExitStatus(outcome), c.outcome == Outcome::Printed ? 0 : 1);
    // Every message went to the hook, none to standard error.
    EXPECT_EQ(err, "");
    if (c.outcome == Outcome::Printed) {
        EXPECT_TRUE(logged.empty());
        EXPECT_EQ(pages, 3);
        EXPECT_EQ(copies, 2);
        EXPECT_EQ(impressions, 6);
        EXPECT_GT(written, static_cast<long>(c.document.size()));
    } else {
        ASSERT_FALSE(logged.empty());
        EXPECT_EQ(logged.front().first, c.firstLevel) << logged.front().second;
        EXPECT_EQ(pages, -1);
        EXPECT_EQ(written, 0) << "nothing reaches the output of a job that fails before it starts";
    }
    EXPECT_TRUE(tmp.entries().size() == 1) << "the job leaves no file behind";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CoreCall,
    ::testing::Values(RunCase{"Printed", MakePdf(3), false, false, Outcome::Printed, LogLevel::Info},
                      RunCase{"NotPdf", "This is not a PDF.\n", false, false, Outcome::NotPdf, LogLevel::Error},
                      RunCase{"Empty", "", false, false, Outcome::NoPages, LogLevel::Error},
                      RunCase{"PasscodeRefused", MakePdf(1), true, false, Outcome::PasscodeRefused,
                              LogLevel::Error},
                      RunCase{"Cancelled", MakePdf(1), false, true, Outcome::Cancelled, LogLevel::Info},
                      // A cancel the caller reported ends only that job.
                      RunCase{"PrintedAfterACancel", MakePdf(3), false, false, Outcome::Printed,
                              LogLevel::Info}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return std::string(info.param.name); });

}  // namespace
