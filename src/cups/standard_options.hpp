// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cups/job_inputs.hpp"
#include "cups/tickets.hpp"

#include <optional>
#include <string>
#include <string_view>

// What print dialogs, IPP clients and lp send: the standard CUPS/IPP job
// attributes and the standard PPD options, read into the printer's own
// settings.  Each setting is taken from the first of: the print dialog's
// tickets and the printer's own (ZR) options in the job, the standard PPD
// option in the job, the standard attribute, the queue's default choice in
// the PPD.
namespace pdftopjl {

// The printer's own (legacy ZR) tray, quality and colour options at their
// queue default yield to the standard option the job sends: print dialogs
// send every PPD option with its current value, which must not undo the
// user's choice of the standard one.  A legacy choice that differs from its
// default still wins.
void YieldLegacyDefaults(const JobOptions& options, const ppd_file_t* ppd, Choices& choices);

// Fills the settings the job left empty from its standard PPD options and
// attributes: tray, paper, media type, colour, quality, finishing, output bin.
void ApplyStandardOptions(const JobOptions& options, Choices& choices);

// The office features from the PPD's options (ZRPrintType, ZRPasscode,
// ZRUserName, ZRJobName, ZRAccountId, queue defaults included) and from the
// IPP attributes job-password, job-account-id and job-accounting-user-id,
// where the dialog's tickets left them open.  A passcode the job gives
// without a print type makes a stored private job.  The queue's default
// passcode is never taken (every user can read it): passcodeIssue says it
// was left out.
void ApplyOfficeOptions(const JobOptions& options, const ppd_file_t* ppd, JobTicket& ticket,
                        Choices& choices);

// The value of a custom option choice: "Custom.1234" or "{Name=1234}" give
// "1234"; anything else (a plain choice such as "None") gives nothing.
std::optional<std::string> CustomValue(const char* choice);

// Then what is still empty from the queue's defaults: the PPD's default
// choice of each option the printer offers.
void ApplyQueueDefaults(const ppd_file_t* ppd, Choices& choices);

// The paper named by a media or PageSize value in any spelling CUPS uses
// (PPD names, PWG self-describing names, legacy names), as the PPD names it;
// empty when it names no size.
std::string PaperName(std::string_view media);

}  // namespace pdftopjl
