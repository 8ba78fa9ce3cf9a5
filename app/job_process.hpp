// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <string>
#include <string_view>

#include "device_writer.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// Runs the core on a PDF in a process of its own: the core keeps
// process-wide state (signal handlers, the cancel flag, its log channel),
// while PAPPL runs jobs on threads.  The application runs itself with
// kRunJobMode; the ticket and profile go to it as a typed record, and its
// log lines, page count and outcome come back as typed records; its standard
// output is the job stream, copied to the job's output.
namespace pdftopjl::app {

// The hidden argument that makes the application run one job.
inline constexpr const char kRunJobMode[] = "--run-job";

// Where this program is, to run it for each job; called once at start-up.
void RememberProgramPath();

// The job's process: reads its job from descriptor 3, reports on 4.
int RunJobProcess();

// Who counts the job's impressions besides the core's page count: PAPPL
// adds one itself after a printed file, and counts raster pages itself.
enum class Accounting { All, AllButOne, None };

// False when the job failed, after setting its message and reasons.  The
// layout filter (pdftopdf), when the job needs it, reads the printer's page
// sizes and duplex from `layoutPpd`, as under CUPS.
bool RunCore(pappl_job_t* job, JobOutput& output, const std::string& pdfPath, const JobTicket& ticket,
             const PrinterProfile& printer, std::string_view layoutPpd, Accounting accounting);

// Marks a job that cannot print: its message and reasons.
void FailJob(pappl_job_t* job, const std::string& message, pappl_jreason_t reason);

}  // namespace pdftopjl::app
