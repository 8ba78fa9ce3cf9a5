// The address selection over resolved lists, and getHostAddress's bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/UtilityFunctionFilter.hpp"
#include "host_fakes.hpp"

namespace {

using hostfakes::Answer;

ResolvedAddress V4(const char* text) { return hostfakes::Address(text); }
ResolvedAddress V6(const char* text, uint32_t scope = 0) { return hostfakes::Address(text, scope); }
ResolvedAddress Unconvertible() { return hostfakes::Address(""); }

class HostAddress : public ::testing::Test {
protected:
    void SetUp() override { hostfakes::UseFakeResolver(); }
    void TearDown() override { SetAddressResolver(nullptr); }
};

struct SelectionCase {
    const char* name;
    std::vector<ResolvedAddress> addresses;
    const char* text;
    int result;
};

class Selection : public HostAddress, public ::testing::WithParamInterface<SelectionCase> {};

TEST_P(Selection, PicksTheAddressAndResult)
{
    Answer().addresses = GetParam().addresses;
    char buffer[255];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getHostAddress("mac01", buffer, sizeof buffer), GetParam().result);
    EXPECT_STREQ(buffer, GetParam().text);
    // The rest of the buffer is cleared, not left with old bytes.
    EXPECT_EQ(std::string(buffer, sizeof buffer).find('x'), std::string::npos);
    EXPECT_EQ(Answer().askedFor, std::vector<std::string>{"mac01"});
}

INSTANTIATE_TEST_SUITE_P(
    Lists, Selection,
    ::testing::Values(
        SelectionCase{"LoopbackThenLan", {V4("127.0.0.1"), V4("192.168.1.5")}, "192.168.1.5", 1},
        SelectionCase{"V6LoopbackLinkLocalV4Loopback",
                      {V6("::1"), V6("fe80::1", 1), V4("127.0.0.1")}, "::1", 1},
        SelectionCase{"LinkLocalThenV4",
                      {V6("fe80::1c2b:3dff:fe4a:9a10", 2), V4("10.0.0.7")}, "10.0.0.7", 1},
        SelectionCase{"OnlyV4Loopback", {V4("127.0.0.1")}, "", 1},
        SelectionCase{"UniqueLocalThenUnconvertible", {V6("fd00::5"), Unconvertible()}, "fd00::5", 0},
        SelectionCase{"EmptyList", {}, "", 0},
        SelectionCase{"FirstV4Wins", {V4("192.168.1.5"), V4("10.0.0.1")}, "192.168.1.5", 1},
        SelectionCase{"V4ReplacesEarlierV6", {V6("2001:db8::1"), V4("10.0.0.1")}, "10.0.0.1", 1},
        SelectionCase{"LastV6IsKept", {V6("2001:db8::1"), V6("2001:db8::2")}, "2001:db8::2", 1},
        SelectionCase{"V6ThenLoopback", {V6("2001:db8::1"), V4("127.0.0.1")}, "2001:db8::1", 1},
        SelectionCase{"UnconvertibleThenLoopback", {Unconvertible(), V4("127.0.0.1")}, "", 1},
        SelectionCase{"UnconvertibleOnly", {Unconvertible()}, "", 0},
        SelectionCase{"UnconvertibleThenLan", {Unconvertible(), V4("192.168.1.5")}, "192.168.1.5", 1},
        SelectionCase{"LinkLocalOneOnly", {V6("fe80::1")}, "", 1},
        // Only texts containing "fe80::1" are excluded.
        SelectionCase{"OtherLinkLocal", {V6("fe80::2")}, "fe80::2", 1}),
    [](const ::testing::TestParamInfo<SelectionCase>& info) { return info.param.name; });

TEST_F(HostAddress, FailedResolutionClearsTheBufferAndFails)
{
    Answer().addresses = {V4("192.168.1.5")};
    Answer().resolves = false;
    char buffer[255];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(getHostAddress("mac01", buffer, sizeof buffer), 0);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(sizeof buffer, '\0'));
}

TEST_F(HostAddress, ResultOfAnEarlierLookupDoesNotCarryOver)
{
    char buffer[255];
    Answer().addresses = {V4("192.168.1.5")};
    ASSERT_EQ(getHostAddress("mac01", buffer, sizeof buffer), 1);
    Answer().addresses.clear();
    EXPECT_EQ(getHostAddress("mac01", buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "");
}

struct BoundCase {
    int length;
    const char* text;
};

class Bounds : public HostAddress, public ::testing::WithParamInterface<BoundCase> {};

// The address is copied with at most length - 1 bytes; nothing past the
// given length is touched.
TEST_P(Bounds, StaysInsideTheGivenLength)
{
    Answer().addresses = {V4("192.168.100.200")};
    char area[64];
    std::memset(area, 'Z', sizeof area);
    const int length = GetParam().length;
    EXPECT_EQ(getHostAddress("mac01", area, length), 1);
    EXPECT_EQ(std::string(area), GetParam().text);
    EXPECT_EQ(std::string(area + length, sizeof area - length), std::string(sizeof area - length, 'Z'));
}

INSTANTIATE_TEST_SUITE_P(Lengths, Bounds,
                         ::testing::Values(BoundCase{1, ""}, BoundCase{2, "1"}, BoundCase{8, "192.168"},
                                           BoundCase{15, "192.168.100.20"},
                                           BoundCase{16, "192.168.100.200"},
                                           BoundCase{40, "192.168.100.200"}));

struct RefusalCase {
    const char* name;
    const char* hostName;
    bool buffer;
    int length;
};

class Refusal : public HostAddress, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusal, ReturnsZeroWithoutTouchingTheBuffer)
{
    Answer().addresses = {V4("192.168.1.5")};
    char area[32];
    std::memset(area, 'Z', sizeof area);
    const RefusalCase& c = GetParam();
    EXPECT_EQ(getHostAddress(c.hostName, c.buffer ? area : nullptr, c.length), 0);
    EXPECT_EQ(std::string(area, sizeof area), std::string(sizeof area, 'Z'));
    EXPECT_TRUE(Answer().askedFor.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, Refusal,
    ::testing::Values(RefusalCase{"NoName", nullptr, true, 32}, RefusalCase{"NoBuffer", "mac01", false, 32},
                      RefusalCase{"ZeroLength", "mac01", true, 0},
                      RefusalCase{"NegativeLength", "mac01", true, -5},
                      RefusalCase{"NonASCIIName", "m\xC3\xA4" "c01", true, 32}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

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
    EXPECT_DEATH(MyPrintAddressArray(&list, "mac01"), CheckMessage("addr != NULL", "MyPrintAddressArray"));
}

TEST_F(HostChecksDeathTest, MissingHostName)
{
    AddressList list = {V4("192.168.1.5")};
    EXPECT_DEATH(MyPrintAddressArray(&list, nullptr), CheckMessage("hostName != NULL", "MyPrintAddressArray"));
    HostLookup host;
    EXPECT_DEATH(MyResolveNameToAddress(nullptr, &host),
                 CheckMessage("hostName != NULL", "MyResolveNameToAddress"));
}

TEST_F(HostChecksDeathTest, MissingHostObject)
{
    EXPECT_DEATH(MyResolveNameToAddress("mac01", nullptr), CheckMessage("host != NULL", "MyResolveNameToAddress"));
    EXPECT_DEATH(MyHostCleanup(nullptr), CheckMessage("host != NULL", "MyHostCleanup"));
}

}  // namespace
