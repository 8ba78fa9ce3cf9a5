#pragma once

#include <string>

#include "settings/job_inputs.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

// The whole record from the job's PPD and options: the printer's code set,
// the fitted document name, every ticket, the duplex setting CUPS clients
// give, and the printer's defaults for what the job leaves open.
PrintOptions GatherSettings(const JobInputs& job);

// The duplex setting from what CUPS clients send instead of the macOS
// dialog's ticket: the job's "sides", then its "Duplex", then the PPD's
// default Duplex choice.  1 one-sided, 2 long-edge, 3 short-edge; -1 when
// none of them says anything usable.
int32_t DuplexingFromCupsOptions(const JobOptions& options, const ppd_file_t* ppd);

// A held job (stored or proof) is listed on the printer's panel by user and
// job name: where the dialog and options gave none, the job's user and its
// title, as the print dialog's own defaults are, in the printer's code set.
void NameHeldJob(const std::string& user, PrintOptions& record);

// What the printer's PPD implies for settings the job leaves empty: the
// queue's default choices, and the bypass tray's name.
void ApplyPrinterDefaults(const ppd_file_t* ppd, PrintOptions& record);

}  // namespace pdftopjl
