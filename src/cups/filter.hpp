// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>

#include "core/run_job.hpp"

// The CUPS filter around the core: its arguments, the PPD and the options
// through the adapter into RunJob, its ERROR:/PAGE:/ATTR: lines and its exit
// status out.
namespace pdftopjl {

inline constexpr char kFilterUsage[] = "Usage: pdftopjl job-id user title copies options [file]\n";

// Runs one job as CUPS runs the filter, writing the job to `output`; returns
// the exit status.
int RunCupsFilter(int argc, char* argv[], const JobServices& services, FILE* output);

// The filter's entry point.
int FilterMain(int argc, char* argv[]);

}  // namespace pdftopjl
