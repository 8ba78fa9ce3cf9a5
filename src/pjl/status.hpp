// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What a PJL printer says about its state ("@PJL INFO STATUS" answers and
// "@PJL USTATUS DEVICE" messages: CODE=, DISPLAY=, ONLINE=) and what that
// means, for the Printer Application's reasons and the filter's STATE: lines.
namespace pdftopjl {

struct PjlStatus {
    bool valid = false;  // a CODE line came
    int code = 0;
    std::string display;
    bool online = true;
};

// One status message's lines, up to its form feed.
PjlStatus ParsePjlStatus(std::string_view answer);

// The conditions a status sets, as IPP names them without their severity.
enum PrinterReason : uint32_t {
    kReasonNone = 0,
    kReasonMediaEmpty = 1u << 0,
    kReasonMediaNeeded = 1u << 1,  // for the job that is printing
    kReasonMediaJam = 1u << 2,
    kReasonDoorOpen = 1u << 3,
    kReasonTonerLow = 1u << 4,
    kReasonOffline = 1u << 5,
    kReasonOtherWarning = 1u << 6,  // the printer goes on
    kReasonOther = 1u << 7,         // the printer waits for someone
};

// What a status means: the reasons it sets and a line for people.
struct PrinterCondition {
    uint32_t reasons = kReasonNone;
    std::string text;  // "Tray 2 is empty"
    bool operator==(const PrinterCondition&) const = default;
};
PrinterCondition ConditionOf(const PjlStatus& status, bool colour);

// The device status messages in what a printer sends back during a job:
// bytes go in as they come, whole messages come out.  Other messages (job
// and page events, echoes) are passed over.
class PjlStatusStream {
public:
    std::vector<PjlStatus> Feed(std::string_view bytes);

private:
    std::string pending_;  // a message not yet ended by its form feed
    bool overlong_ = false;  // the rest of a message too long to be one
};

}  // namespace pdftopjl
