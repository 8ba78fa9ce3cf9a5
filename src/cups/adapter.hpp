// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>

#include "cups/job_inputs.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// The CUPS front door: the only code that knows PPD keywords, CUPS option
// names and the print dialog's ticket names.  It reads the filter's
// arguments, the parsed options and the PPD once, into the typed ticket and
// the printer's profile the core works from.
namespace pdftopjl {

struct CupsJob {
    JobTicket ticket;
    PrinterProfile printer;
    // The queue lets the filter ask the printer for its state: ZRPrinterStatus
    // in the job (where lpadmin -o puts a queue's default) or the PPD is not
    // False/off/no.
    bool printerStatus = true;
    bool colourDevice = false;  // *ColorDevice: a low toner is not named
};

// Each setting from the first of: the print dialog's tickets and the
// printer's own (ZR) options in the job, the standard PPD option in the job,
// the standard attribute, the queue's default choice in the PPD.  `copies`
// is the filter's copies argument, already checked.
CupsJob AdaptCupsJob(const JobInputs& job, int32_t copies);

// The duplex setting from what CUPS clients send instead of the macOS
// dialog's ticket: the job's "sides", then its "Duplex", then the PPD's
// default Duplex choice.  1 one-sided, 2 long-edge, 3 short-edge; -1 when
// none of them says anything usable.
int32_t DuplexingFromCupsOptions(const JobOptions& options, const ppd_file_t* ppd);

// What the PPD says about the printer: code set, bypass tray, landscape
// direction and the input type of its filter.
PrinterProfile ProfileFromPpd(const ppd_file_t* ppd);

// The type the printer's own filter takes: the first token of the PPD's
// first cupsFilter line; empty when there is none or it is too long.
std::string FilterInputType(const ppd_file_t* ppd);

// True when CUPS lays the document out before this filter: the printer's
// PPD takes only the layout filter's output type, so pdftopdf runs in the
// CUPS filter chain and must not run again.
bool LaidOutByCups(const ppd_file_t* ppd);

}  // namespace pdftopjl
