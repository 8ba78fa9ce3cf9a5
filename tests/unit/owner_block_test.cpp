// SPDX-License-Identifier: Apache-2.0
// The job owner block: which identity is written, date and time, client
// name, owner, host address and passcode text.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "host/host_address.hpp"
#include "host_fakes.hpp"
#include "pjl/header.hpp"
#include "pjl/owner.hpp"
#include "unit/job_fixture.hpp"

using namespace pdftopjl;

namespace {

std::string Attr(const std::string& name, const std::string& value)
{
    return "@PJL SET JOBATTR=\"@" + name + "=" + value + "\"";
}

// 6 December 2026, 06:30:05 UTC.
constexpr time_t kJobTime = 1796538605;
time_t gNow = kJobTime;

std::string gHostName = "mac01";
bool gHostNameFails = false;
int FakeHostName(char* name, size_t size)
{
    if (gHostNameFails) return -1;
    snprintf(name, size, "%s", gHostName.c_str());
    return 0;
}

using hostfakes::Address;
using hostfakes::Answer;

class OwnerBlock : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        gNow = kJobTime;
        gHostName = "mac01";
        gHostNameFails = false;
        services.hostName = FakeHostName;
        services.resolver = hostfakes::UseFakeResolver();
        Answer().addresses = {Address("192.168.1.20")};

        ticket = JobTicket{};
        ticket.user = user;
        printer.codeSet = CodeSet::Utf8;
    }
    void TearDown() override
    {
        unsetenv("TZ");
        tzset();
    }

    // The job's origin as the entry point looks it up.
    HostIdentity Host()
    {
        return ResolveHostIdentity(utf8Mode(), ticket.accounting.clientAddress.empty(), services);
    }

    std::vector<std::string> Run()
    {
        const HostIdentity host = Host();
        const HeaderTexts texts = EncodeHeaderTexts(ticket, printer);
        return testjob::Lines(testjob::Captured([&](PjlWriter& out) {
            WriteOwnerBlocks(OwnerInputs{texts.accounting, utf8Mode(), user, host, gNow}, out);
        }));
    }

    // The block as written for this test's clock and host.
    static std::vector<std::string> Block(const std::string& owner, const std::string& passcode)
    {
        return {"@PJL COMMENT DATE=12/06/2026", "@PJL COMMENT TIME=06:30:05", Attr("CNAM", "mac01"),
                Attr("JOAU", owner),          Attr("HOAD", "IC0A8114"),   Attr("JOEP", passcode)};
    }

    std::string LineOf(const std::string& name)
    {
        for (const std::string& line : Run())
            if (line.rfind("@PJL SET JOBATTR=\"@" + name + "=", 0) == 0 ||
                line.rfind("@PJL COMMENT " + name + "=", 0) == 0)
                return line;
        return "(none)";
    }

    bool utf8Mode() const { return printer.codeSet == CodeSet::Utf8; }

    std::string user = "alice";
    JobTicket ticket;
    PrinterProfile printer;
    HostServices services;
};

TEST_F(OwnerBlock, WithoutAccountingTicketsOneBlockForTheRequestingUser)
{
    EXPECT_EQ(Run(), Block("alice", ""));
    EXPECT_EQ(Answer().askedFor, std::vector<std::string>{"mac01"});
}

struct ChoiceCase {
    const char* name;
    int manageType;
    int listCtrl;
    int radio;
    const char* inputUserId;   // the other fields keep the fixture's values
    const char* adminUserId;
    const char* userId;
    const char* loginName;
    const char* password;
    std::vector<std::pair<std::string, std::string>> blocks;  // JOAU, JOEP
};

class OwnerChoice : public OwnerBlock, public ::testing::WithParamInterface<ChoiceCase> {};

TEST_P(OwnerChoice, WritesTheChosenIdentities)
{
    const ChoiceCase& c = GetParam();
    ticket.accounting.manageType = c.manageType;
    ticket.accounting.adminUserIdListCtrl = c.listCtrl;
    ticket.accounting.adminUserInputRadio = c.radio;
    ticket.accounting.inputUserId = c.inputUserId;
    ticket.accounting.inputUserPassword = "enteredpw";
    ticket.accounting.adminUserId = c.adminUserId;
    ticket.accounting.adminPassword = "adminpw";
    ticket.accounting.userId = c.userId;
    ticket.accounting.password = c.password;
    ticket.accounting.loginName = c.loginName;

    std::vector<std::string> expected;
    for (const auto& [owner, passcode] : c.blocks) {
        std::vector<std::string> block = Block(owner, passcode);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(Run(), expected);
}

using B = std::vector<std::pair<std::string, std::string>>;

INSTANTIATE_TEST_SUITE_P(
    Table, OwnerChoice,
    ::testing::Values(
        ChoiceCase{"M1AdminId", 1, 2, 0, "entered", "admin", "user2", "login", "pw2", B{{"admin", "adminpw"}}},
        ChoiceCase{"M1Login", 1, 1, 0, "entered", "admin", "user2", "login", "pw2", B{{"login", "adminpw"}}},
        ChoiceCase{"M1Other", 1, 0, 0, "entered", "admin", "user2", "login", "pw2", B{{"alice", ""}}},
        ChoiceCase{"M1Absent", 1, -1, -1, "entered", "admin", "user2", "login", "pw2", B{{"alice", ""}}},
        ChoiceCase{"M1EmptyAdminIdIgnoresAdminPassword", 1, 2, 0, "entered", "", "user2", "login", "pw2",
                   B{{"alice", ""}}},
        ChoiceCase{"M1EmptyLogin", 1, 1, 0, "entered", "admin", "user2", "", "pw2", B{{"alice", ""}}},
        ChoiceCase{"M1EnteredThenAdminId", 1, 2, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"admin", "adminpw"}}},
        ChoiceCase{"M1EnteredThenLogin", 1, 1, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"login", "adminpw"}}},
        ChoiceCase{"M1EnteredTwice", 1, 3, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"entered", "adminpw"}}},
        ChoiceCase{"M1EnteredThenEmptyAdminId", 1, 2, 1, "entered", "", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"alice", "enteredpw"}}},
        ChoiceCase{"M1NothingEnteredThenAdminId", 1, 2, 1, "", "admin", "user2", "login", "pw2",
                   B{{"alice", ""}, {"admin", "adminpw"}}},
        ChoiceCase{"M1NothingAtAll", 1, 2, 1, "", "", "user2", "login", "pw2", B{{"alice", ""}, {"alice", ""}}},
        ChoiceCase{"M2UserId", 2, 2, 0, "entered", "admin", "user2", "login", "pw2", B{{"user2", "pw2"}}},
        ChoiceCase{"M2Login", 2, 1, 0, "entered", "admin", "user2", "login", "pw2", B{{"login", "pw2"}}},
        ChoiceCase{"M2Other", 2, 0, 0, "entered", "admin", "user2", "login", "pw2", B{{"alice", "pw2"}}},
        ChoiceCase{"M2EmptyUserIdKeepsPassword", 2, 2, 0, "entered", "admin", "", "login", "pw2",
                   B{{"alice", "pw2"}}},
        ChoiceCase{"M2EmptyPassword", 2, 2, 0, "entered", "admin", "user2", "login", "", B{{"user2", ""}}},
        ChoiceCase{"M2EnteredThenUserId", 2, 2, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"user2", "pw2"}}},
        ChoiceCase{"M2EnteredTwice", 2, 0, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"entered", "enteredpw"}, {"entered", "pw2"}}},
        ChoiceCase{"M2NothingEnteredThenUserId", 2, 2, 1, "", "admin", "user2", "login", "pw2",
                   B{{"alice", ""}, {"user2", "pw2"}}},
        ChoiceCase{"OtherManageTypeIgnoresEverything", 3, 2, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"alice", ""}}},
        ChoiceCase{"ManageTypeZero", 0, 1, 1, "entered", "admin", "user2", "login", "pw2", B{{"alice", ""}}},
        ChoiceCase{"ManageTypeAbsent", -1, 2, 1, "entered", "admin", "user2", "login", "pw2",
                   B{{"alice", ""}}}),
    [](const ::testing::TestParamInfo<ChoiceCase>& info) { return info.param.name; });

struct ClockCase {
    const char* name;
    const char* tz;
    time_t now;
    const char* date;
    const char* time;
};

class ClockDateTime : public OwnerBlock, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(ClockDateTime, AreLocalMonthDayYearAndTime)
{
    setenv("TZ", GetParam().tz, 1);
    tzset();
    gNow = GetParam().now;
    std::vector<std::string> lines = Run();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string("@PJL COMMENT DATE=") + GetParam().date);
    EXPECT_EQ(lines[1], std::string("@PJL COMMENT TIME=") + GetParam().time);
}

INSTANTIATE_TEST_SUITE_P(
    Clocks, ClockDateTime,
    ::testing::Values(ClockCase{"Utc", "UTC", kJobTime, "12/06/2026", "06:30:05"},
                      ClockCase{"PaddedMonthAndDay", "UTC", 1799107200, "01/05/2027", "00:00:00"},
                      ClockCase{"EastOfUtcNextDay", "JST-9", 1796588100, "12/07/2026", "05:15:00"},
                      ClockCase{"WestOfUtcDayBefore", "EST5", 1799107200, "01/04/2027", "19:00:00"},
                      ClockCase{"LastSecondOfTheCentury", "UTC", 946684799, "12/31/1999", "23:59:59"}),
    [](const ::testing::TestParamInfo<ClockCase>& info) { return info.param.name; });

TEST_F(OwnerBlock, TicketDateAndTimeAreWrittenUnchanged)
{
    ticket.accounting.printDate = "2026/12/06";
    ticket.accounting.printTime = "6:30";
    std::vector<std::string> lines = Run();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "@PJL COMMENT DATE=2026/12/06");
    EXPECT_EQ(lines[1], "@PJL COMMENT TIME=6:30");

    ticket.accounting.printTime = "";
    EXPECT_EQ(LineOf("TIME"), "@PJL COMMENT TIME=06:30:05");
}

// Every block of a job carries the same date and time.
TEST_F(OwnerBlock, BlocksShareTheJobsTime)
{
    gNow = 1796601599;  // 23:59:59
    ticket.accounting.manageType = 2;
    ticket.accounting.adminUserInputRadio = 1;
    std::vector<std::string> lines = Run();
    ASSERT_EQ(lines.size(), 12u);
    for (size_t at : {0u, 6u}) {
        EXPECT_EQ(lines[at], "@PJL COMMENT DATE=12/06/2026");
        EXPECT_EQ(lines[at + 1], "@PJL COMMENT TIME=23:59:59");
    }
    EXPECT_EQ(Answer().askedFor.size(), 1u) << "one lookup per job";
}

const std::string kA = "\xE3\x81\x82";     // U+3042 in UTF-8
const std::string kASjis = "\x82\xA0";     // the same in Shift-JIS

struct ClientCase {
    const char* name;
    std::string macHostName;
    std::string hostNameString;
    std::string encoding;
    std::string cnam;
};

class ClientName : public OwnerBlock, public ::testing::WithParamInterface<ClientCase> {};

TEST_P(ClientName, ComesFromTheFirstNonEmptySource)
{
    ticket.accounting.clientName = GetParam().macHostName;
    ticket.accounting.clientHostName = GetParam().hostNameString;
    printer.codeSet = std::string(GetParam().encoding) == "UTF-8" ? CodeSet::Utf8 : CodeSet::ShiftJis;
    gHostName = "host-" + kA;
    EXPECT_EQ(LineOf("CNAM"), Attr("CNAM", GetParam().cnam));
}

INSTANTIATE_TEST_SUITE_P(
    Sources, ClientName,
    ::testing::Values(ClientCase{"MacNameUtf8Printer", "mac-" + kA, "second", "UTF-8", "mac-" + kA},
                      ClientCase{"MacNameConvertedForOtherPrinters", "mac-" + kA, "second", "", "mac-" + kASjis},
                      ClientCase{"MacNameConvertedForLatin1", "mac-" + kA, "", "ISOLatin1", "mac-" + kASjis},
                      ClientCase{"SecondChoiceNeverConverted", "", "second-" + kA, "", "second-" + kA},
                      ClientCase{"HostNameNeverConverted", "", "", "", "host-" + kA},
                      ClientCase{"HostNameOnUtf8Printer", "", "", "UTF-8", "host-" + kA}),
    [](const ::testing::TestParamInfo<ClientCase>& info) { return info.param.name; });

TEST_F(OwnerBlock, ClientNameIsEmptyWhenTheHostNameCannotBeRead)
{
    gHostNameFails = true;
    EXPECT_EQ(LineOf("CNAM"), Attr("CNAM", ""));
}

TEST_F(OwnerBlock, OwnerIsAlwaysConverted)
{
    ticket.accounting.manageType = 2;
    ticket.accounting.adminUserIdListCtrl = 2;
    ticket.accounting.userId = "u-" + kA;
    EXPECT_EQ(LineOf("JOAU"), Attr("JOAU", "u-" + kASjis));

    ticket.accounting.userId = "";
    user = "r-" + kA;
    EXPECT_EQ(LineOf("JOAU"), Attr("JOAU", "r-" + kASjis));
}

struct AddressCase {
    const char* name;
    std::vector<ResolvedAddress> answer;
    bool resolves;
    const char* hoad;  // null: no HOAD line
};

class HostAddressLine : public OwnerBlock, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(HostAddressLine, IsTheLetterIAndHexadecimalPieces)
{
    Answer().addresses = GetParam().answer;
    Answer().resolves = GetParam().resolves;
    std::vector<std::string> lines = Run();
    if (GetParam().hoad == nullptr) {
        EXPECT_EQ(lines.size(), 5u);
        EXPECT_EQ(LineOf("HOAD"), "(none)");
    } else {
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ(lines[4], Attr("HOAD", GetParam().hoad));
    }
    EXPECT_EQ(lines.back(), Attr("JOEP", ""));
    EXPECT_EQ(Answer().askedFor.front(), "mac01");
}

INSTANTIATE_TEST_SUITE_P(
    Answers, HostAddressLine,
    ::testing::Values(AddressCase{"Lan", {Address("192.168.1.20")}, true, "IC0A8114"},
                      AddressCase{"ZeroPieces", {Address("10.0.0.5")}, true, "IA005"},
                      AddressCase{"Private172", {Address("172.16.254.1")}, true, "IAC10FE1"},
                      AddressCase{"V6IsOnePiece", {Address("2001:db8::1")}, true, "I7D1"},
                      AddressCase{"LoopbackSkipped", {Address("127.0.0.1"), Address("10.0.0.5")}, true, "IA005"},
                      AddressCase{"OnlyLoopback", {Address("127.0.0.1")}, true, nullptr},
                      AddressCase{"LookupFails", {Address("10.0.0.5")}, false, nullptr},
                      AddressCase{"NoAddresses", {}, true, nullptr},
                      AddressCase{"LastUnconvertible", {Address("fd00::5"), Address("")}, true, nullptr}),
    [](const ::testing::TestParamInfo<AddressCase>& info) { return info.param.name; });

TEST_F(OwnerBlock, TicketAddressIsWrittenUnchangedWithoutLookup)
{
    ticket.accounting.clientAddress = "192.168.1.20";
    EXPECT_EQ(LineOf("HOAD"), Attr("HOAD", "192.168.1.20"));
    EXPECT_TRUE(Answer().askedFor.empty());
}

struct ValueCase {
    const char* address;
    size_t size;
    const char* value;
};

class HostAddressText : public ::testing::TestWithParam<ValueCase> {};

TEST_P(HostAddressText, ReadsEachPieceLikeADecimalNumber)
{
    EXPECT_EQ(HostAddressValue(GetParam().address), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Texts, HostAddressText,
                         ::testing::Values(ValueCase{"192.168.1.20", 32, "IC0A8114"},
                                           ValueCase{"1..2.", 32, "I12"}, ValueCase{".5", 32, "I5"},
                                           ValueCase{"a.10", 32, "I0A"}, ValueCase{" 7.+8", 32, "I78"},
                                           ValueCase{"-1.2", 32, "IFFFFFFFF2"},
                                           ValueCase{"99999999999.1", 32, "I7FFFFFFF1"},
                                           ValueCase{"fd00::5", 32, "I0"}, ValueCase{"", 32, "I"}));

// Wide sources are cut to the line; nothing overruns.
TEST_F(OwnerBlock, LongValuesAreCutToTheLine)
{
    user = std::string(5000, 'u');
    ticket.accounting.manageType = 1;
    ticket.accounting.adminUserInputRadio = 1;
    ticket.accounting.adminUserIdListCtrl = 1;
    ticket.accounting.inputUserId = std::string(96, 'e');
    ticket.accounting.inputUserPassword = std::string(2047, 'p');
    ticket.accounting.loginName = "";
    ticket.accounting.adminPassword = std::string(2047, 'q');
    ticket.accounting.printDate = std::string(63, 'd');
    ticket.accounting.clientHostName = std::string(63, 'h');
    std::vector<std::string> lines = Run();
    ASSERT_EQ(lines.size(), 12u);
    for (const std::string& line : lines) EXPECT_LE(line.size() + 1, kPJLLineMax) << line;
    EXPECT_EQ(lines[0], "@PJL COMMENT DATE=" + std::string(63, 'd'));
    EXPECT_EQ(lines[2], Attr("CNAM", std::string(63, 'h')));
    EXPECT_EQ(lines[3], Attr("JOAU", std::string(96, 'e')));
    const std::string joep = Attr("JOEP", "");
    EXPECT_EQ(lines[5], joep.substr(0, joep.size() - 1) + std::string(kPJLLineMax - joep.size() - 1, 'p') + "\"");
    // The second block: no login name, so the requesting user, and the
    // entered password stays.
    EXPECT_EQ(lines[9], Attr("JOAU", std::string(kPJLLineMax - Attr("JOAU", "").size() - 1, 'u')));
    EXPECT_EQ(lines[11], lines[5]);
}

TEST_F(OwnerBlock, FollowsTheFixedCommentsInTheHeader)
{
    const HostIdentity host = Host();
    std::vector<std::string> lines = testjob::Lines(testjob::Captured([&](PjlWriter& out) {
        const HeaderTexts texts = EncodeHeaderTexts(ticket, printer);
        WriteJobHeader(HeaderInputs{ticket, printer, texts, host, gNow, 7}, out);
    }));
    ASSERT_GE(lines.size(), 10u);
    EXPECT_EQ(lines[3], "@PJL COMMENT Version:4.00");
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 4, lines.begin() + 10), Block("alice", ""));
}

}  // namespace
