#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>

#include "models.hpp"

// A job's IPP attributes, with the printer's defaults for what the job
// leaves open, as the core reads them from CUPS: an option string in the
// filter's command line and a PPD.
namespace pdftopjl::app {

// A job-password as it arrived (an operation attribute; see passcodes.hpp).
struct JobPassword {
    std::string value;
    std::string encryption;  // empty when not given
};

struct FilterSettings {
    std::string options;  // "media=iso_a4_210x297mm sides=one-sided ..."
    std::string copies;
    std::string ppd;      // the model's PPD with the job's passcode as its default
    std::string media;    // PWG size name, for documents made into PDF here
    std::string error;    // why the job cannot be printed as asked
};

// Why the printer cannot take the passcode as sent; empty when it can.
std::string PasscodeError(const JobPassword& password);

FilterSettings SettingsForJob(pappl_job_t* job, const Model& model,
                              const std::optional<JobPassword>& password);

// Appends name=value to a CUPS option string, quoted so that
// cupsParseOptions reads the value back as it is.
void AddOption(std::string& options, const std::string& name, const std::string& value);

}  // namespace pdftopjl::app
