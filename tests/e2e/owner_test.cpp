// SPDX-License-Identifier: Apache-2.0
// The owner block as the built filter writes it, on this machine and on a
// host name and hosts file of our own (private namespaces, when allowed).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "host/host_address.hpp"
#include "pjl/writer.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using pdftopjl::kHostLookupTimeoutMs;
using pdftopjl::kPJLLineMax;

namespace {

std::string UtcDate(time_t t)
{
    struct tm tm {};
    gmtime_r(&t, &tm);
    char text[32];
    strftime(text, sizeof text, "%m/%d/%Y", &tm);
    return text;
}

class OwnerRun : public ::testing::Test {
protected:
    RunOptions Options(const std::string& user = "alice")
    {
        RunOptions o;
        o.args = {"pdftopjl", "42", user, "Report", "1", ""};
        o.env["TMPDIR"] = tmp.path();
        o.env["PPD"] = std::nullopt;
        o.env["TZ"] = "UTC";
        o.input = MakePdf(1);
        return o;
    }

    // Runs the filter in private mount and host-name namespaces where the
    // host is called `hostName` and /etc/hosts is `hostsFile`.
    RunOptions InNamespace(RunOptions o, const std::string& hostName, const std::string& hostsFile)
    {
        WriteFile(data.file("nsswitch.conf"), "hosts: files\n");
        const std::string script =
            "mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" /etc/nsswitch.conf && "
            "hostname \"$3\" && shift 3 && exec \"$@\"";
        std::vector<std::string> args = {"unshare", "-mu", "/bin/sh", "-c", script, "sh", hostsFile,
                                         data.file("nsswitch.conf"), hostName, FilterBinary()};
        args.insert(args.end(), o.args.begin() + 1, o.args.end());
        o.program = "/usr/bin/unshare";
        o.args = args;
        return o;
    }

    static bool NamespacesAllowed()
    {
        if (access("/usr/bin/unshare", X_OK) != 0) return false;
        RunOptions o;
        o.program = "/usr/bin/unshare";
        o.args = {"unshare", "-mu", "/bin/sh", "-c", "mount --bind /etc/hosts /etc/hosts && hostname x"};
        return RunProgram(o).exitCode == 0;
    }

    std::vector<std::string> Block(const RunResult& r)
    {
        EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err;
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Job job = ParseJob(r.out);
        EXPECT_TRUE(job.framed) << job.error;
        // The owner block ends where the document block starts.
        std::vector<std::string> lines = BlockLines(job);
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].rfind("@PJL COMMENT DNAME=", 0) == 0) lines.resize(i);
        return lines;
    }

    TempDir tmp;
    TempDir data;
};

std::string Attr(const std::string& name, const std::string& value)
{
    return "@PJL SET JOBATTR=\"@" + name + "=" + value + "\"";
}

TEST_F(OwnerRun, OneBlockFromTheClockAndThisHost)
{
    const time_t before = time(nullptr);
    RunResult r = RunProgram(Options());
    const time_t after = time(nullptr);
    std::vector<std::string> lines = Block(r);
    ASSERT_GE(lines.size(), 5u);

    EXPECT_TRUE(lines[0] == "@PJL COMMENT DATE=" + UtcDate(before) ||
                lines[0] == "@PJL COMMENT DATE=" + UtcDate(after))
        << lines[0];
    EXPECT_TRUE(std::regex_match(lines[1], std::regex("@PJL COMMENT TIME=([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]")))
        << lines[1];
    char name[256] = {};
    ASSERT_EQ(gethostname(name, 255), 0);
    EXPECT_EQ(lines[2], Attr("CNAM", std::string(name).substr(0, 96)));
    EXPECT_EQ(lines[3], Attr("JOAU", "alice"));
    size_t next = 4;
    if (lines.size() > 5 && lines[4].rfind("@PJL SET JOBATTR=\"@HOAD=", 0) == 0) {
        EXPECT_TRUE(std::regex_match(lines[4], std::regex("@PJL SET JOBATTR=\"@HOAD=I[0-9A-F]+\"")))
            << lines[4];
        ++next;
    }
    EXPECT_EQ(lines[next], Attr("JOEP", ""));
}

TEST_F(OwnerRun, LongRequestingUserIsCutToTheLine)
{
    RunResult r = RunProgram(Options(std::string(10000, 'u')));
    std::vector<std::string> lines = Block(r);
    ASSERT_GE(lines.size(), 5u);
    const std::string prefix = "@PJL SET JOBATTR=\"@JOAU=";
    EXPECT_EQ(lines[3], prefix + std::string(kPJLLineMax - prefix.size() - 2, 'u') + "\"");
}

struct NamedHostCase {
    const char* name;
    std::string hostName;
    std::string hosts;
    std::string ppdEncoding;  // empty: no PPD
    std::string cnam;
    const char* hoad;  // null: no HOAD line
};

class NamedHost : public OwnerRun, public ::testing::WithParamInterface<NamedHostCase> {};

TEST_P(NamedHost, ClientNameAndAddressComeFromTheResolver)
{
    if (!NamespacesAllowed()) GTEST_SKIP() << "no private mount and host-name namespaces here";
    const NamedHostCase& c = GetParam();
    WriteFile(data.file("hosts"), c.hosts);
    RunOptions o = Options();
    if (!c.ppdEncoding.empty()) {
        WriteFile(data.file("p.ppd"), MakePpd({"*ZRPrinterLanguageEncoding: \"" + c.ppdEncoding + "\""}));
        o.env["PPD"] = data.file("p.ppd");
    }
    std::vector<std::string> lines = Block(RunProgram(InNamespace(o, c.hostName, data.file("hosts"))));
    ASSERT_EQ(lines.size(), c.hoad != nullptr ? 6u : 5u);
    EXPECT_EQ(lines[2], Attr("CNAM", c.cnam));
    EXPECT_EQ(lines[3], Attr("JOAU", "alice"));
    if (c.hoad != nullptr) {
        EXPECT_EQ(lines[4], Attr("HOAD", c.hoad));
    }
    EXPECT_EQ(lines.back(), Attr("JOEP", ""));
}

// The cut name is the one that is resolved.
const std::string k40 = "pdftopjl-e2e-abcdefghijklmnopqrstuvwxyz0";

INSTANTIATE_TEST_SUITE_P(
    Hosts, NamedHost,
    ::testing::Values(
        NamedHostCase{"LanAddress", "pdftopjl-e2e",
                      "127.0.0.1 localhost pdftopjl-e2e\nfd00::5 pdftopjl-e2e\n192.168.1.20 pdftopjl-e2e\n", "",
                      "pdftopjl-e2e", "IC0A8114"},
        NamedHostCase{"OnlyLoopback", "pdftopjl-e2e", "127.0.0.1 localhost pdftopjl-e2e\n", "",
                      "pdftopjl-e2e", nullptr},
        NamedHostCase{"V6Only", "pdftopjl-e2e", "2001:db8::1 pdftopjl-e2e\n", "", "pdftopjl-e2e", "I7D1"},
        NamedHostCase{"Unknown", "pdftopjl-e2e", "10.0.0.5 someone-else\n", "", "pdftopjl-e2e", nullptr},
        NamedHostCase{"LongNameCutForUtf8Printer", k40, "172.16.254.1 " + k40.substr(0, 32) + "\n", "UTF-8",
                      k40.substr(0, 32), "IAC10FE1"},
        NamedHostCase{"LongNameKeptForOtherPrinters", k40, "10.0.0.5 " + k40 + "\n", "ISOLatin1", k40,
                      "IA005"}),
    [](const ::testing::TestParamInfo<NamedHostCase>& info) { return info.param.name; });

// A resolver that never answers (here: a hosts file nobody ever writes)
// costs the job the time limit and its HOAD line, nothing more.
TEST_F(OwnerRun, HungResolverDoesNotHoldUpTheJob)
{
    if (!NamespacesAllowed()) GTEST_SKIP() << "no private mount and host-name namespaces here";
    const std::string fifo = data.file("hosts");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    RunOptions o = InNamespace(Options(), "pdftopjl-e2e", fifo);
    o.timeoutMs = 60000;
    const auto start = std::chrono::steady_clock::now();
    RunResult r = RunProgram(o);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(r.timedOut);
    std::vector<std::string> lines = Block(r);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[2], Attr("CNAM", "pdftopjl-e2e"));
    EXPECT_EQ(lines[4], Attr("JOEP", ""));
    // The lookup was waited for, up to its limit and no longer.
    EXPECT_GE(elapsed, std::chrono::milliseconds(kHostLookupTimeoutMs));
    EXPECT_LT(elapsed, std::chrono::milliseconds(kHostLookupTimeoutMs) + std::chrono::seconds(20));
}

}  // namespace
