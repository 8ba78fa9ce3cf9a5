// SPDX-License-Identifier: Apache-2.0
// The filter as users meet it through a private cupsd at the default LogLevel
// warn: stored jobs and their passcodes, collated copies, and successful jobs
// that say nothing, as lp, lpstat -l and the error log show them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/cupsd.hpp"
#include "support/expect.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;

namespace {

constexpr int kJobTimeoutMs = 20000;

class CupsdUser : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = PrivateCupsd::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<PrivateCupsd>("warn");
        std::string error;
        // The server's directory exists once it has started.
        const bool started = server_->Start(&error);
        const std::string ppd = started ? SamplePpd(ServeBuiltFilter(server_->Root()), "UTF-8") : "";
        // "qd": a queue whose default passcode every user can read; "qs": the
        // same, making every job a stored one.
        if (!started || !server_->AddQueue("zx", ppd, &error) ||
            !server_->AddQueue("qd", ppd, &error) || !server_->AddQueue("qs", ppd, &error) ||
            !server_->SetDefaults("qd", {"ZRPasscode=Custom.4321"}, &error) ||
            !server_->SetDefaults("qs", {"ZRPasscode=Custom.4321", "ZRPrintType=Stored"}, &error))
            startError_ = error;
        documents_ = std::make_unique<TempDir>();
        chmod(documents_->path().c_str(), 0755);
        WriteFile(documents_->file("doc.pdf"), MakePdf(4));
        chmod(documents_->file("doc.pdf").c_str(), 0644);
    }
    static void TearDownTestSuite()
    {
        server_.reset();
        documents_.reset();
    }
    void SetUp() override
    {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(startError_.empty()) << startError_;
    }

    struct Outcome {
        std::string state;
        std::string status;        // lpstat -l's Status line for the job
        std::vector<std::string> header;
        std::string newLogLines;   // what the error log gained
    };

    static Outcome Print(const std::string& queue, std::vector<std::string> lpArgs)
    {
        Outcome o;
        unlink(server_->OutputFile(queue).c_str());
        const size_t logBefore = server_->ErrorLog().size();
        lpArgs.insert(lpArgs.begin(), {"-t", "Report"});
        std::string error;
        const int id = server_->Submit(queue, lpArgs, documents_->file("doc.pdf"), &error);
        EXPECT_GT(id, 0) << error;
        if (id <= 0) return o;
        o.state = server_->WaitForJob(id, kJobTimeoutMs);
        RunOptions lpstat;
        lpstat.program = "/usr/bin/lpstat";
        lpstat.args = {"lpstat", "-h", server_->Server(), "-l", "-W", "all", "-o", queue};
        const std::string listing = RunProgram(lpstat).out;
        // The job's entry, then its indented lines up to the next job.
        const size_t entry = listing.find(queue + "-" + std::to_string(id) + " ");
        if (entry != std::string::npos) {
            const size_t next = listing.find('\n' + queue + "-", entry);
            const std::string block = listing.substr(entry, next == std::string::npos ? next : next - entry);
            const size_t status = block.find("Status: ");
            if (status != std::string::npos)
                o.status = block.substr(status + 8, block.find('\n', status) - status - 8);
        }
        o.header = BlockLines(ParseJob(ReadFile(server_->OutputFile(queue))));
        o.newLogLines = server_->ErrorLog().substr(logBefore);
        return o;
    }

    static bool Has(const std::vector<std::string>& lines, const std::string& line)
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<PrivateCupsd> server_;
    static std::unique_ptr<TempDir> documents_;
};

std::string CupsdUser::skip_;
std::string CupsdUser::startError_;
std::unique_ptr<PrivateCupsd> CupsdUser::server_;
std::unique_ptr<TempDir> CupsdUser::documents_;

const char kRule[] = "The stored job's passcode must be 4 to 8 digits; nothing was sent to the printer";
const char kQueueDefault[] = "The queue's default passcode is not used, since every user can read it";

struct PasscodeCase {
    const char* name;
    const char* queue;
    std::vector<std::string> lpArgs;
    const char* state;
    const char* status;                 // the start of lpstat's Status line; "" for none
    std::vector<std::string> header;    // lines the job carries (none when it failed)
};

// A stored job is held under the passcode the job gave, or fails visibly:
// never printed at once, never held under another code.
TEST_F(CupsdUser, PasscodesAsTheUserGivesThem)
{
    const std::vector<std::string> held = {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE",
                                           "@PJL SET USERNAME=\"root\"", "@PJL SET JOBNAME=\"Report\""};
    auto with = [&](const std::string& key) {
        std::vector<std::string> lines = held;
        lines.push_back("@PJL SET HOLDENCRYPTKEY=\"" + key + "\"");
        return lines;
    };
    const std::vector<PasscodeCase> cases = {
        {"Valid", "zx", {"-o", "ZRPrintType=Stored", "-o", "ZRPasscode=Custom.1234"}, "completed", "",
         with("1234")},
        {"TooShort", "zx", {"-o", "ZRPrintType=Stored", "-o", "ZRPasscode=Custom.12"}, "stopped", kRule, {}},
        {"Letters", "zx", {"-o", "ZRPasscode=Custom.abcd"}, "stopped", kRule, {}},
        {"FifteenDigits", "zx", {"-o", "job-password=123456789012345"}, "stopped", kRule, {}},
        {"WithoutPrintType", "zx", {"-o", "ZRPasscode=Custom.1234"}, "completed", "", with("1234")},
        {"QueueDefault", "qd", {}, "completed", kQueueDefault, {"@PJL SET COPIES=1"}},
        {"QueueDefaultStored", "qs", {}, "stopped", kQueueDefault, {}},
        {"QueueDefaultYieldsToTheJobs", "qs", {"-o", "job-password=24680"}, "completed", "",
         with("24680")},
    };
    for (const PasscodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome o = Print(c.queue, c.lpArgs);
        EXPECT_EQ(o.state, c.state);
        EXPECT_EQ(o.status.rfind(c.status, 0), 0u) << o.status;
        if (*c.status == '\0') {
            EXPECT_EQ(o.status, "");
        }
        for (const std::string& line : c.header) EXPECT_TRUE(Has(o.header, line)) << line;
        if (c.header.empty()) {
            EXPECT_TRUE(o.header.empty());
        }
        // A job that is not held says nothing of holding.
        if (!Has(c.header, "@PJL SET HOLD=STORE")) {
            EXPECT_FALSE(Has(o.header, "@PJL SET HOLD=STORE"));
        }
        const bool failed = std::string(c.state) != "completed";
        EXPECT_EQ(o.newLogLines.find("E ["), failed ? 0u : std::string::npos) << o.newLogLines;
    }
}

// Collation asked for the standard IPP way; -n 3 is the copies.
TEST_F(CupsdUser, CopiesCollatedAsIppAsks)
{
    for (const auto& [handling, line] :
         {std::pair{"separate-documents-collated-copies", "@PJL SET QTY=3"},
          std::pair{"separate-documents-uncollated-copies", "@PJL SET COPIES=3"}}) {
        SCOPED_TRACE(handling);
        const Outcome o = Print("zx", {"-n", "3", "-o", std::string("multiple-document-handling=") + handling});
        EXPECT_EQ(o.state, "completed");
        EXPECT_TRUE(Has(o.header, line));
    }
}

// A job that prints as asked leaves no warning or error: not in lpstat -l,
// not in the error log.  This host's only addresses may be loopback ones.
TEST_F(CupsdUser, SuccessfulJobsAreQuiet)
{
    for (const std::vector<std::string>& lpArgs :
         {std::vector<std::string>{}, std::vector<std::string>{"-o", "number-up=2"},
          std::vector<std::string>{"-o", "page-ranges=2-3", "-o", "fit-to-page"}}) {
        const Outcome o = Print("zx", lpArgs);
        EXPECT_EQ(o.state, "completed");
        EXPECT_EQ(o.status, "");
        EXPECT_EQ(o.newLogLines, "");
        EXPECT_FALSE(o.header.empty());
    }
}

}  // namespace
