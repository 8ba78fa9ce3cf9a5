// SPDX-License-Identifier: Apache-2.0
// The address chosen from resolved lists, and the consistency checks.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_address.hpp"
#include "host_fakes.hpp"

using namespace pdftopjl;

namespace {

using hostfakes::Answer;

ResolvedAddress V4(const char* text) { return hostfakes::Address(text); }
ResolvedAddress V6(const char* text, uint32_t scope = 0) { return hostfakes::Address(text, scope); }
ResolvedAddress Unconvertible() { return hostfakes::Address(""); }

class HostAddress : public ::testing::Test {
protected:
    void SetUp() override { services.resolver = hostfakes::UseFakeResolver(); }
    std::string Lookup(const char* name) { return LookupHostAddress(name, services); }
    HostServices services;
};

struct SelectionCase {
    const char* name;
    std::vector<ResolvedAddress> addresses;
    const char* text;  // empty: the job reports no address
};

class Selection : public HostAddress, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, PicksTheAddress)
{
    Answer().addresses = GetParam().addresses;
    EXPECT_EQ(Lookup("mac01"), GetParam().text);
    EXPECT_EQ(Answer().askedFor, std::vector<std::string>{"mac01"});
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Selection,
    ::testing::Values(
        SelectionCase{"LoopbackThenLan", {V4("127.0.0.1"), V4("192.168.1.5")}, "192.168.1.5"},
        // Loopback reaches no printer: 127.0.0.0/8 and ::1 are never sent.
        SelectionCase{"V6LoopbackLinkLocalV4Loopback",
                      {V6("::1"), V6("fe80::1", 1), V4("127.0.0.1")}, ""},
        SelectionCase{"DebianHostsEntry", {V4("127.0.1.1")}, ""},
        SelectionCase{"AnyOf127Slash8ThenLan", {V4("127.5.6.7"), V4("10.1.2.3")}, "10.1.2.3"},
        SelectionCase{"V6LoopbackOnly", {V6("::1")}, ""},
        SelectionCase{"MappedV4Loopback", {V6("::ffff:127.0.1.1")}, ""},
        SelectionCase{"V6LoopbackThenGlobal", {V6("::1"), V6("2001:db8::7")}, "2001:db8::7"},
        SelectionCase{"LinkLocalThenV4",
                      {V6("fe80::1c2b:3dff:fe4a:9a10", 2), V4("10.0.0.7")}, "10.0.0.7"},
        SelectionCase{"OnlyV4Loopback", {V4("127.0.0.1")}, ""},
        SelectionCase{"UniqueLocalThenUnconvertible", {V6("fd00::5"), Unconvertible()}, ""},
        SelectionCase{"EmptyList", {}, ""},
        SelectionCase{"FirstV4Wins", {V4("192.168.1.5"), V4("10.0.0.1")}, "192.168.1.5"},
        SelectionCase{"V4ReplacesEarlierV6", {V6("2001:db8::1"), V4("10.0.0.1")}, "10.0.0.1"},
        SelectionCase{"LastV6IsKept", {V6("2001:db8::1"), V6("2001:db8::2")}, "2001:db8::2"},
        SelectionCase{"V6ThenLoopback", {V6("2001:db8::1"), V4("127.0.0.1")}, "2001:db8::1"},
        SelectionCase{"UnconvertibleThenLoopback", {Unconvertible(), V4("127.0.0.1")}, ""},
        SelectionCase{"UnconvertibleOnly", {Unconvertible()}, ""},
        SelectionCase{"UnconvertibleThenLan", {Unconvertible(), V4("192.168.1.5")}, "192.168.1.5"},
        SelectionCase{"LinkLocalOneOnly", {V6("fe80::1")}, ""},
        // Only texts containing "fe80::1" are excluded.
        SelectionCase{"OtherLinkLocal", {V6("fe80::2")}, "fe80::2"}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

TEST_F(HostAddress, FailedOrRefusedLookupsGiveNoAddress)
{
    Answer().addresses = {V4("192.168.1.5")};
    EXPECT_EQ(Lookup("m\xC3\xA4" "c01"), "");
    EXPECT_TRUE(Answer().askedFor.empty()) << "a name that is not ASCII is not looked up";
    Answer().resolves = false;
    EXPECT_EQ(Lookup("mac01"), "");
}

// A job says nothing about a host that has loopback addresses only; a
// lookup that failed is a debug line, worded as what happened.
TEST_F(HostAddress, OnlyAFailedLookupIsMentionedAndOnlyAtDebugLevel)
{
    struct Case {
        std::vector<ResolvedAddress> addresses;
        bool resolves;
        const char* address;
        const char* message;
    };
    services.hostName = [](char* name, size_t size) {
        snprintf(name, size, "vm");
        return 0;
    };
    for (const Case& c : {Case{{V4("127.0.1.1"), V6("::1")}, true, "", ""},
                          Case{{V4("192.168.1.5")}, true, "192.168.1.5", ""},
                          Case{{}, false, "",
                               "DEBUG: The address lookup for this host (vm) failed or timed out; "
                               "the job carries no address (HOAD)\n"}}) {
        Answer().addresses = c.addresses;
        Answer().resolves = c.resolves;
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(ResolveHostIdentity(false, true, services).address, c.address);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.message);
    }
}

// Consistency checks stop the process naming function, module, line and
// the failed expression.
std::string CheckMessage(const char* expression, const char* function)
{
    return std::string("Assertion failed: \\(") + expression + "\\), function " + function +
           ", file UtilityFunctionFilter, line [0-9]+\\.";
}

using HostChecksDeathTest = HostAddress;

TEST_F(HostChecksDeathTest, AddressEntryWithoutBytes)
{
    AddressList list = {V4("192.168.1.5")};
    list.front().length = 0;
    EXPECT_DEATH(SelectHostAddress(list, "mac01"), CheckMessage("addr != NULL", "SelectHostAddress"));
}

TEST_F(HostChecksDeathTest, MissingHostName)
{
    AddressList list = {V4("192.168.1.5")};
    EXPECT_DEATH(SelectHostAddress(list, nullptr), CheckMessage("hostName != NULL", "SelectHostAddress"));
}

}  // namespace
