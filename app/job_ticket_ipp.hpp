// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <functional>
#include <optional>
#include <string>

#include "models.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// A job's IPP attributes, with the printer's defaults for what the job
// leaves open, as the core's typed ticket; and the printer as the core's
// profile.
namespace pdftopjl::app {

// A job-password as it arrived (an operation attribute; see passcodes.hpp).
struct JobPassword {
    std::string value;
    std::string encryption;  // empty when not given
};

// Why the printer cannot take the passcode as sent; empty when it can.
std::string PasscodeError(const JobPassword& password);

// What the adapter reads of one job.
struct IppJob {
    // The job's own attributes (null when the job did not give one).
    std::function<ipp_attribute_t*(const char* name)> attribute;
    // The printer's extra attributes: the defaults of its vendor attributes.
    ipp_t* printerAttributes = nullptr;
    // PAPPL's reading of the job, its defaults applied (copies, sides,
    // colour, quality, orientation, scaling, output bin, default media).
    const pappl_pr_options_t* options = nullptr;
    std::string jobId;
    std::string user;
    std::string title;
};

// The ticket for a job whose passcode, if any, PasscodeError accepted.
JobTicket TicketFromIpp(const IppJob& job, const std::optional<JobPassword>& password);

// The PWG name of the job's paper size, else the printer's default.
std::string MediaSizeName(const IppJob& job);

// The IppJob of a PAPPL job; `printerAttributes` stays the caller's.
IppJob IppJobOf(pappl_job_t* job, const pappl_pr_options_t* options, ipp_t* printerAttributes);

// What the core needs to know of a model.
PrinterProfile ProfileForModel(const Model& model);

}  // namespace pdftopjl::app
