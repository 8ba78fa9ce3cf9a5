// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <optional>

#include "job_ticket_ipp.hpp"

// A stored job's passcode travels in "job-password", an operation attribute.
// PAPPL 1.3 keeps only a request's job attributes with the job, so the
// passcode is taken from the request here and held until the job prints or
// ends: in memory, and in a file only the server reads, for a restart.
//
// The hook that sees a Print-Job or Create-Job request before its job exists
// is PAPPL's authorization callback; who may do what is decided there too
// (access.hpp), and the job-created event, raised on the same
// thread right after, ties the passcode to the new job.
namespace pdftopjl::app {

// Installs the hooks; without them job-password is ignored and requests are
// not checked (access.hpp).  Not installed when the system authenticates
// through PAM (auth-service), which the callback would replace.
void InstallPasscodeHooks(pappl_system_t* system);

// The request's job-password, as sent.
std::optional<JobPassword> RequestPassword(ipp_t* request);

// The job's passcode, removed from the store; *lost when the job has one
// that could not be read back after a restart.
std::optional<JobPassword> TakeJobPassword(pappl_job_t* job, bool* lost = nullptr);

}  // namespace pdftopjl::app
