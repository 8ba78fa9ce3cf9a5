// SPDX-License-Identifier: Apache-2.0
// The system resolver behind the job's address: answers, failures, the time
// limit, and a lookup through a hosts file of our own.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>

#include "host/host_address.hpp"
#include "support/fixtures.hpp"

using namespace pdftopjl;

namespace {

// True when no child of this process is left, running or unreaped.
bool NoChildLeft()
{
    errno = 0;
    return waitpid(-1, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

// The address the job would report, through the system resolver.
std::string HostAddress(const char* name) { return LookupHostAddress(name); }

struct NumericCase {
    const char* name;
    const char* text;
};

class NumericNames : public ::testing::TestWithParam<NumericCase> {};

// Numeric names resolve without any resolver configuration.
TEST_P(NumericNames, ResolveThroughTheSystemResolver)
{
    EXPECT_EQ(HostAddress(GetParam().name), GetParam().text);
    EXPECT_TRUE(NoChildLeft());
}

INSTANTIATE_TEST_SUITE_P(Names, NumericNames,
                         ::testing::Values(NumericCase{"192.0.2.7", "192.0.2.7"},
                                           NumericCase{"2001:db8::1", "2001:db8::1"},
                                           NumericCase{"127.0.0.1", ""}, NumericCase{"", ""}));

TEST(ResolveHostAddresses, DeliversEachAddressOnce)
{
    AddressList list;
    ASSERT_TRUE(ResolveHostAddresses("192.0.2.7", &list, kHostLookupTimeoutMs));
    ASSERT_EQ(list.size(), 1u);
    const auto* sin = reinterpret_cast<const sockaddr_in*>(&list[0].storage);
    EXPECT_EQ(sin->sin_family, AF_INET);
    EXPECT_EQ(list[0].length, sizeof(sockaddr_in));
    EXPECT_EQ(ntohl(sin->sin_addr.s_addr), 0xC0000207u);
}

int NeverAnswers(const char*, addrinfo**)
{
    for (;;) pause();
}

int DiesWithoutAnswer(const char*, addrinfo**)
{
    raise(SIGKILL);
    return 0;
}

int FailsToResolve(const char*, addrinfo**) { return EAI_NONAME; }

// A long answer, and an entry without an address.
int ManyAddresses(const char*, addrinfo** answer)
{
    static sockaddr_in addresses[100];
    static addrinfo entries[100];
    for (int i = 0; i < 100; ++i) {
        addresses[i] = sockaddr_in{};
        addresses[i].sin_family = AF_INET;
        addresses[i].sin_addr.s_addr = htonl(0x0A000001u + i);
        entries[i] = addrinfo{};
        entries[i].ai_family = AF_INET;
        entries[i].ai_addr = i == 1 ? nullptr : reinterpret_cast<sockaddr*>(&addresses[i]);
        entries[i].ai_addrlen = i == 1 ? 0 : sizeof(sockaddr_in);
        entries[i].ai_next = i + 1 < 100 ? &entries[i + 1] : nullptr;
    }
    *answer = entries;
    return 0;
}

TEST(ResolveHostAddresses, AHungResolverIsStoppedAtTheTimeLimit)
{
    AddressList list;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ResolveHostAddresses("mac01", &list, 300, NeverAnswers));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, std::chrono::milliseconds(300));
    EXPECT_LT(elapsed, std::chrono::seconds(30));
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(NoChildLeft());
}

TEST(ResolveHostAddresses, ALookupThatDiesOrFailsCountsAsFailed)
{
    for (HostLookupFunction lookup : {DiesWithoutAnswer, FailsToResolve}) {
        AddressList list;
        EXPECT_FALSE(ResolveHostAddresses("mac01", &list, kHostLookupTimeoutMs, lookup));
        EXPECT_TRUE(list.empty());
        EXPECT_TRUE(NoChildLeft());
    }
}

TEST(ResolveHostAddresses, KeepsOrderAndCutsAVeryLongAnswer)
{
    AddressList list;
    ASSERT_TRUE(ResolveHostAddresses("mac01", &list, kHostLookupTimeoutMs, ManyAddresses));
    ASSERT_EQ(list.size(), 64u);
    EXPECT_EQ(list[1].length, 0u);  // passed on as delivered
    for (size_t i = 0; i < list.size(); ++i) {
        if (i == 1) continue;
        const auto* sin = reinterpret_cast<const sockaddr_in*>(&list[i].storage);
        EXPECT_EQ(ntohl(sin->sin_addr.s_addr), 0x0A000001u + i);
    }
    EXPECT_TRUE(NoChildLeft());
}

// Runs `body` in a child with a private mount and host-name namespace whose
// /etc/hosts and /etc/nsswitch.conf are ours; its output comes back as text.
// Empty optional: the platform does not allow the namespace.
std::optional<std::string> InPrivateHosts(const std::string& hosts, std::string (*body)())
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("hosts"), hosts);
    testsupport::WriteFile(dir.file("nsswitch.conf"), "hosts: files\n");
    int fds[2];
    if (pipe(fds) != 0) return std::nullopt;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string out = "SKIP";
        if (unshare(CLONE_NEWNS | CLONE_NEWUTS) == 0 &&
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
            mount(dir.file("hosts").c_str(), "/etc/hosts", nullptr, MS_BIND, nullptr) == 0 &&
            mount(dir.file("nsswitch.conf").c_str(), "/etc/nsswitch.conf", nullptr, MS_BIND, nullptr) == 0 &&
            sethostname("pdftopjl-lan", 12) == 0)
            out = body();
        ssize_t ignored = write(fds[1], out.data(), out.size());
        (void)ignored;
        _exit(0);
    }
    close(fds[1]);
    std::string text;
    char chunk[512];
    ssize_t n;
    while ((n = read(fds[0], chunk, sizeof chunk)) > 0) text.append(chunk, n);
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    if (text == "SKIP") return std::nullopt;
    return text;
}

std::string LookUpTestNames()
{
    std::string out = "name=" + LocalHostName(false) + "\n";
    for (const char* name : {"pdftopjl-lan", "pdftopjl-loop.test", "pdftopjl-v6.test", "pdftopjl-missing.test"}) {
        out += std::string(name) + " " + HostAddress(name) + "\n";
    }
    out += NoChildLeft() ? "reaped\n" : "child left\n";
    return out;
}

TEST(ResolveHostAddresses, ThroughAHostsFileOfOurOwn)
{
    std::optional<std::string> out = InPrivateHosts(
        "fd00::5 pdftopjl-lan\n"
        "127.0.0.1 pdftopjl-lan\n"
        "192.168.1.20 pdftopjl-lan\n"
        "127.0.0.1 pdftopjl-loop.test\n"
        "fd00::5 pdftopjl-v6.test\n",
        LookUpTestNames);
    if (!out) GTEST_SKIP() << "no private mount namespace on this platform";
    EXPECT_EQ(*out,
              "name=pdftopjl-lan\n"
              "pdftopjl-lan 192.168.1.20\n"
              "pdftopjl-loop.test \n"
              "pdftopjl-v6.test fd00::5\n"
              "pdftopjl-missing.test \n"
              "reaped\n");
}

}  // namespace
