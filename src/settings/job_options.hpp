#pragma once

#include <cups/cups.h>

#include <optional>
#include <string>

#include "settings/ppd.hpp"

// The job's option string (argument 5) parsed with the CUPS option parser.
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

// Option gathering reads the same option string and the same PPD in several
// routines.  While a scope is alive those routines share one parse of each;
// every routine still sees exactly what a parse of its own would give it.
class GatheringScope {
public:
    explicit GatheringScope(const char* optionText);
    ~GatheringScope();
    GatheringScope(const GatheringScope&) = delete;
    GatheringScope& operator=(const GatheringScope&) = delete;

private:
    friend const JobOptions& JobOptionsFor(const char*, std::optional<JobOptions>&);
    friend class JobPPD;

    const char* optionText_;
    JobOptions options_;
    bool ppdOpened_ = false;
    std::string ppdPath_;
    PpdHandle ppd_;
    GatheringScope* previous_;
};

// The options parsed from `text`: the live scope's parse when the scope was
// made for this very text, otherwise a fresh parse kept in `local`.
const JobOptions& JobOptionsFor(const char* text, std::optional<JobOptions>& local);

// The job's PPD as OpenJobPPD() opens it, borrowed from the live scope when
// there is one.  Empty when the PPD cannot be opened.
class JobPPD {
public:
    JobPPD();
    ppd_file_t* get() const { return ppd_; }
    explicit operator bool() const { return ppd_ != nullptr; }

private:
    PpdHandle owned_;
    ppd_file_t* ppd_ = nullptr;
};
