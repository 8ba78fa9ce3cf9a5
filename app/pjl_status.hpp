#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>

// What a PJL printer's status answer says, for IPP and for people.
namespace pdftopjl::app {

// An "@PJL INFO STATUS" answer: CODE=, DISPLAY= and ONLINE= lines.
struct PjlStatus {
    bool valid = false;  // a CODE line came
    int code = 0;
    std::string display;
    bool online = true;
};
PjlStatus ParsePjlStatus(std::string_view answer);

// What a status means: the reasons it sets and a line for people.
struct Condition {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    std::string text;  // "Tray 2 is empty"
};
Condition ConditionOf(const PjlStatus& status, bool colour);

}  // namespace pdftopjl::app
