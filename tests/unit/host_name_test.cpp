// SPDX-License-Identifier: Apache-2.0
// The local host name and its cut to the printer's limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/host_address.hpp"

using namespace pdftopjl;

namespace {

std::string gName;
bool gNameFails = false;

int FakeHostName(char* name, size_t size)
{
    if (gNameFails) return -1;
    // Like gethostname: no terminating zero when the name fills the buffer.
    std::memcpy(name, gName.data(), std::min(gName.size() + 1, size));
    return 0;
}

std::string Repeat(const std::string& piece, size_t count)
{
    std::string text;
    for (size_t i = 0; i < count; ++i) text += piece;
    return text;
}

const std::string kHiragana = "\xE3\x81\x82";     // U+3042, 3 bytes, 1 unit
const std::string kEmoji = "\xF0\x9F\x98\x80";    // U+1F600, 4 bytes, 2 units

enum class Printer { UTF8, Other };

class HostName : public ::testing::Test {
protected:
    void SetUp() override { gNameFails = false; }

    std::string Read(Printer printer, bool systemName = false)
    {
        HostServices services;
        if (!systemName) services.hostName = FakeHostName;
        const std::string name = LocalHostName(printer == Printer::UTF8, services);
        EXPECT_LE(name.size(), 96u);
        return name;
    }
};

struct NameCase {
    const char* label;
    Printer printer;
    std::string name;
    std::string expected;
};

class Cuts : public HostName, public ::testing::WithParamInterface<NameCase> {};

TEST_P(Cuts, FitThePrinter)
{
    gName = GetParam().name;
    EXPECT_EQ(Read(GetParam().printer), GetParam().expected);
}

const std::string k40 = "abcdefghijklmnopqrstuvwxyz0123456789ABCD";

INSTANTIATE_TEST_SUITE_P(
    Names, Cuts,
    ::testing::Values(
        NameCase{"Ascii40Utf8", Printer::UTF8, k40, k40.substr(0, 32)},
        NameCase{"Ascii40Other", Printer::Other, k40, k40},
        NameCase{"Ascii32Utf8", Printer::UTF8, k40.substr(0, 32), k40.substr(0, 32)},
        NameCase{"ThreeByte40Utf8", Printer::UTF8, Repeat(kHiragana, 40), Repeat(kHiragana, 32)},
        NameCase{"ThreeByte40Latin1", Printer::Other, Repeat(kHiragana, 40), Repeat(kHiragana, 32)},
        NameCase{"Bytes120Latin1", Printer::Other, std::string(120, 'h'), std::string(96, 'h')},
        NameCase{"Bytes120Utf8", Printer::UTF8, std::string(120, 'h'), std::string(32, 'h')},
        NameCase{"Bytes255Latin1", Printer::Other, std::string(255, 'h'), std::string(96, 'h')},
        // A cut after 96 bytes may fall inside a character.
        NameCase{"TwoByteCutInsideLatin1", Printer::Other, "a" + Repeat("\xC3\xA9", 60),
                 "a" + Repeat("\xC3\xA9", 47) + "\xC3"},
        NameCase{"Emoji20Utf8", Printer::UTF8, Repeat(kEmoji, 20), Repeat(kEmoji, 16)},
        // The 32nd unit would split a surrogate pair: the whole character goes.
        NameCase{"PairAtTheLimitUtf8", Printer::UTF8, std::string(31, 'a') + kEmoji + "b",
                 std::string(31, 'a')},
        NameCase{"NotUtf8KeptAsRead", Printer::UTF8, std::string(120, '\xFF'), std::string(96, '\xFF')},
        NameCase{"SurrogateBytesKeptAsRead", Printer::UTF8,
                 std::string(40, 'a') + "\xED\xA0\x80", std::string(40, 'a') + "\xED\xA0\x80"},
        NameCase{"OverlongKeptAsRead", Printer::UTF8, std::string(40, 'a') + "\xC0\xAF",
                 std::string(40, 'a') + "\xC0\xAF"},
        NameCase{"Empty", Printer::UTF8, "", ""}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return info.param.label; });

TEST_F(HostName, FailedReadLeavesItEmpty)
{
    gNameFails = true;
    EXPECT_EQ(Read(Printer::Other), "");
}

TEST_F(HostName, DefaultSourceIsTheSystemName)
{
    char name[256] = {};
    ASSERT_EQ(gethostname(name, 255), 0);
    EXPECT_EQ(Read(Printer::Other, /*systemName=*/true), std::string(name).substr(0, 96));
}

}  // namespace
