#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>
#include <vector>

// The printer's own state, asked over its device with "@PJL INFO STATUS",
// as printer-state-reasons and a supplies page in plain English.
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

// Whether printers are asked at all (the server option status-poll=off).
void SetStatusPolling(bool on);

// The driver's status callback: asks a socket:// printer that is not busy,
// for at most 2 s, and sets the printer's reasons from the answer.
bool UpdatePrinterStatus(pappl_printer_t* printer);

// The page printer-supply-info-uri names, linked from the printer's page.
void AddSuppliesPage(pappl_printer_t* printer);

}  // namespace pdftopjl::app
