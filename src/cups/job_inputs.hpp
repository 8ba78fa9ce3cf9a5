// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>

#include <memory>
#include <optional>
#include <string>

// What a job is given: its arguments, its options parsed once and its PPD
// opened once.  Built by the entry point and only read below it.
namespace pdftopjl {

// The filter's command line: program, job id, user, title, copies, options
// and, with seven arguments, the document's path.
struct JobArguments {
    std::string program;
    std::string jobId;
    std::string user;
    std::string title;
    std::string copies;
    std::string optionText;
    std::optional<std::string> documentPath;

    // Empty when there are fewer than six arguments.
    static std::optional<JobArguments> FromCommandLine(int argc, char* argv[]);
};

// The job's option string parsed with the CUPS option parser.
class JobOptions {
public:
    explicit JobOptions(const char* text);
    ~JobOptions();
    JobOptions(const JobOptions&) = delete;
    JobOptions& operator=(const JobOptions&) = delete;

    int count() const { return count_; }
    cups_option_t* list() const { return list_; }
    // The value, or null when the option is absent (an empty value is present).
    const char* get(const char* name) const { return cupsGetOption(name, count_, list_); }

private:
    int count_ = 0;
    cups_option_t* list_ = nullptr;
};

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const
    {
        if (ppd != nullptr) ppdClose(ppd);
    }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

// Empty when there is no path or the file cannot be read or parsed.
PpdHandle OpenPpd(const char* path);

// First attribute, in file order, whose name begins with `name` (compared over
// its length).  Null when none matches.
ppd_attr_t* FindAttributeByPrefix(const ppd_file_t* ppd, const char* name);

// The choice the PPD marks as default for an option it offers, or null when
// it does not offer the option.
const char* PpdDefaultChoice(const ppd_file_t* ppd, const char* option);
bool PpdOffers(const ppd_file_t* ppd, const char* option);

struct JobInputs {
    JobArguments args;
    JobOptions options;
    PpdHandle ppd;  // empty when the PPD cannot be opened

    JobInputs(JobArguments arguments, PpdHandle printerPpd)
        : args(std::move(arguments)), options(args.optionText.c_str()), ppd(std::move(printerPpd))
    {
    }
};

}  // namespace pdftopjl
