#include "settings/cups_standins.hpp"

#include <cstring>
#include <optional>

#include "settings/job_options.hpp"

namespace {

struct DuplexName {
    const char* name;
    int duplexing;
};

const DuplexName kSides[] = {
    {"one-sided", 1}, {"two-sided-long-edge", 2}, {"two-sided-short-edge", 3}};
const DuplexName kDuplexChoices[] = {{"None", 1}, {"DuplexNoTumble", 2}, {"DuplexTumble", 3}};

template <std::size_t N>
int lookup(const DuplexName (&table)[N], const char* value)
{
    if (value == nullptr) return -1;
    for (const DuplexName& entry : table)
        if (std::strcmp(entry.name, value) == 0) return entry.duplexing;
    return -1;
}

}  // namespace

int DuplexingFromCupsOptions(const char* optionText)
{
    std::optional<JobOptions> local;
    const JobOptions& options = JobOptionsFor(optionText, local);
    int duplexing = lookup(kSides, options.get("sides"));
    if (duplexing < 0) duplexing = lookup(kDuplexChoices, options.get("Duplex"));
    if (duplexing < 0) {
        JobPPD ppd;
        if (ppd) {
            if (ppd_option_t* option = ppdFindOption(ppd.get(), "Duplex"))
                duplexing = lookup(kDuplexChoices, option->defchoice);
        }
    }
    return duplexing;
}
