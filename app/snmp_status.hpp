// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <vector>

// A network printer's state and supplies as its SNMP agent reports them
// (Printer MIB supplies table, Host MIB error bits), asked on threads of
// their own: UDP needs no connection to the printer, so neither a job nor
// an IPP client ever waits for an answer.
namespace pdftopjl::app {

struct SnmpCondition {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    std::string text;  // "Paper jam", "Toner low: black"
};

struct SnmpState {
    bool answered = false;
    std::vector<SnmpCondition> conditions;
    std::vector<pappl_supply_t> supplies;  // level -1 where the printer gives none
};

// Asks the agent on `host` now, waiting at most timeoutMs for each answer.
SnmpState AskSnmp(const std::string& host, int timeoutMs);

// Starts asking the printer behind a socket:// URI unless it is being
// asked, or was asked a moment ago (a minute ago when it did not answer);
// around a job, an answering printer is asked again at once.
void AskSnmpSoon(int printerId, const std::string& uri, bool aroundJob = false);
// The last answer (not answered before any).
SnmpState LastSnmp(int printerId);

}  // namespace pdftopjl::app
