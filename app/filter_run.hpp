#pragma once

#include <pappl/pappl.h>

#include <string>

#include "device_writer.hpp"
#include "job_settings.hpp"

// Runs the core on a PDF exactly as CUPS runs the filter: a process of its
// own with the job's arguments, its options and a PPD, whose standard output
// goes to the job's output and whose messages become the job's log,
// page counts and, when it fails, the job's state message.
namespace pdftopjl::app {

// The argument that makes the application run as the filter.
inline constexpr const char kFilterMode[] = "--filter";

// Where this program is, to run it as the filter; called once at start-up.
void RememberProgramPath();

// Who counts the job's impressions besides the filter's PAGE lines: PAPPL
// adds one itself after a printed file, and counts raster pages itself.
enum class Accounting { All, AllButOne, None };

// False when the job failed, after setting its message and reasons.
bool RunFilter(pappl_job_t* job, JobOutput& output, const std::string& pdfPath,
               const FilterSettings& settings, Accounting accounting);

// Marks a job that cannot print: its message and reasons.
void FailJob(pappl_job_t* job, const std::string& message, pappl_jreason_t reason);

}  // namespace pdftopjl::app
