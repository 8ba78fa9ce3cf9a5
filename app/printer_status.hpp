// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

// The printer's own state, asked over its device with "@PJL INFO STATUS"
// and over SNMP, as printer-state-reasons, supply levels and a supplies
// page in plain English.
namespace pdftopjl::app {

// Whether printers are asked at all (the server option status-poll=off).
void SetStatusPolling(bool on);

// The driver's status callback: asks a socket:// printer that is not busy,
// for at most 2 s, and sets the printer's reasons from the answer and from
// the last SNMP answer, whose levels become the printer's supplies.
bool UpdatePrinterStatus(pappl_printer_t* printer);

// As a job starts and ends: the printer's SNMP agent is asked again, on a
// thread of its own (the job does not wait).
void StatusAroundJob(pappl_printer_t* printer);

// The page printer-supply-info-uri names, linked from the printer's page.
void AddSuppliesPage(pappl_printer_t* printer);

}  // namespace pdftopjl::app
