// SPDX-License-Identifier: Apache-2.0
// What a PJL printer says about its state, as the app and the filter read
// it: the meaning of answers the simulated printer does not give, and
// status messages as they come back during a job, cut anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pjl/status.hpp"

using namespace pdftopjl;

namespace {

TEST(PjlStatusAnswer, Meaning)
{
    struct Case {
        const char* answer;
        bool colour;
        bool valid;
        uint32_t reasons;
        const char* text;
    };
    const Case cases[] = {
        {"@PJL INFO STATUS\r\nCODE=44102\r\nDISPLAY=\"Jam in duplexer\"\r\nONLINE=FALSE\r\n\f", false, true,
         kReasonMediaJam | kReasonOffline, "Offline; Paper jam"},
        {"CODE=10006\r\nONLINE=TRUE\r\n\f", true, true, kReasonTonerLow, "Toner low"},
        {"CODE=41013\r\n\f", false, true, kReasonMediaEmpty | kReasonMediaNeeded, "Out of paper"},
        {"CODE=30016\r\nDISPLAY=\"<b>Memory\x1b full\"\r\n\f", false, true, kReasonOtherWarning,
         "Warning: <b>Memory full"},
        {"CODE=50000\r\n\f", false, true, kReasonOther, "The printer needs attention: code 50000"},
        {"CODE=10001x\r\nDISPLAY=\"Ready\"\r\n\f", false, false, kReasonNone, ""},
        {"", false, false, kReasonNone, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        const PjlStatus status = ParsePjlStatus(c.answer);
        EXPECT_EQ(status.valid, c.valid);
        if (!status.valid) continue;
        const PrinterCondition meaning = ConditionOf(status, c.colour);
        EXPECT_EQ(meaning.reasons, c.reasons);
        EXPECT_EQ(meaning.text, c.text);
    }
}

// The codes of the device status messages found in `chunks`, fed in order.
std::vector<int> Codes(const std::vector<std::string>& chunks)
{
    PjlStatusStream stream;
    std::vector<int> codes;
    for (const std::string& chunk : chunks)
        for (const PjlStatus& status : stream.Feed(chunk)) codes.push_back(status.code);
    return codes;
}

TEST(PjlStatusStream, FindsDeviceMessagesOnly)
{
    const std::string device = "@PJL USTATUS DEVICE\r\nCODE=41202\r\nDISPLAY=\"Load tray 2\"\r\nONLINE=TRUE\r\n\f";
    const std::string answer = "@PJL INFO STATUS\r\nCODE=10001\r\nDISPLAY=\"Ready\"\r\nONLINE=TRUE\r\n\f";
    const std::string job = "@PJL USTATUS JOB\r\nEND\r\nNAME=\"x\"\r\nPAGES=1\r\n\f";
    struct Case {
        const char* name;
        std::vector<std::string> chunks;
        std::vector<int> codes;
    };
    const Case cases[] = {
        {"answer then change", {answer + device}, {10001, 41202}},
        {"cut inside a line", {device.substr(0, 20), device.substr(20)}, {41202}},
        {"job events passed over", {job, "\r\n" + device}, {41202}},
        {"no form feed yet", {device.substr(0, device.size() - 1)}, {}},
        {"garbage before", {std::string("\0\r\nxx", 5) + answer}, {10001}},
        {"endless message dropped", {"@PJL USTATUS DEVICE\r\nCODE=40021\r\n" + std::string(10000, 'x'), "\f" + answer},
         {10001}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Codes(c.chunks), c.codes);
    }
}

}  // namespace
