#pragma once

#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>

#include "driver/staging.hpp"
#include "host/host_address.hpp"
#include "settings/job_inputs.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

// Everything one job works with, built once at the entry point and handed
// down: what the job was given, the settings gathered from it, the job's
// origin and the staged document.
struct JobContext {
    JobInputs inputs;
    PrintOptions settings{};
    HostIdentity host;
    std::optional<StagedDocument> staged;

    JobContext(JobArguments args, PpdHandle ppd) : inputs(std::move(args), std::move(ppd)) {}
};

// What the job reaches outside itself, replaceable in tests.
struct JobServices {
    HostServices host;
    std::function<time_t()> clock;  // empty: time()
    FILE* jobStream = stdout;
};

inline constexpr char kFilterUsage[] = "Usage: pdftopjl job-id user title copies options [file]\n";

// Runs one job as CUPS runs the filter; returns the exit status.
int RunJob(int argc, char* argv[], const JobServices& services);

// The filter's entry point.
int FilterMain(int argc, char* argv[]);

}  // namespace pdftopjl
