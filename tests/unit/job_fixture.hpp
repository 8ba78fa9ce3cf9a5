// SPDX-License-Identifier: Apache-2.0
#pragma once
// A job as the entry point builds it, for in-process tests: arguments, the
// parsed options and an opened PPD, and the header it leads to.

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "cups/adapter.hpp"
#include "cups/job_inputs.hpp"
#include "pjl/header.hpp"

namespace testjob {

inline pdftopjl::JobArguments Arguments(const std::string& options, const std::string& title = "t",
                                        const std::string& copies = "1",
                                        const std::string& user = "alice")
{
    pdftopjl::JobArguments args;
    args.program = "pdftopjl";
    args.jobId = "1";
    args.user = user;
    args.title = title;
    args.copies = copies;
    args.optionText = options;
    return args;
}

// The job's inputs with the PPD at ppdPath (none for an empty path).
inline pdftopjl::JobInputs Inputs(const std::string& options, const std::string& ppdPath,
                                  const std::string& title = "t")
{
    return pdftopjl::JobInputs(Arguments(options, title),
                               pdftopjl::OpenPpd(ppdPath.empty() ? nullptr : ppdPath.c_str()));
}

// The ticket and profile the CUPS adapter makes of the job.
inline pdftopjl::CupsJob Adapt(const std::string& options, const std::string& ppdPath,
                               const std::string& title = "t")
{
    return pdftopjl::AdaptCupsJob(Inputs(options, ppdPath, title), 1);
}

// What a writer step put on the job stream.
template <typename Write>
std::string Captured(Write write)
{
    char* data = nullptr;
    size_t size = 0;
    FILE* stream = open_memstream(&data, &size);
    pdftopjl::PjlWriter out(stream);
    write(out);
    fclose(stream);
    std::string text(data, size);
    free(data);
    return text;
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace testjob
