#include "settings/job_options.hpp"

#include <cstdlib>

namespace {

GatheringScope* gScope = nullptr;

const char* ppdPathFromEnvironment()
{
    const char* path = std::getenv("PPD");
    return path != nullptr ? path : "";
}

}  // namespace

JobOptions::JobOptions(const char* text)
{
    if (text != nullptr) count_ = cupsParseOptions(text, 0, &list_);
}

JobOptions::~JobOptions() { cupsFreeOptions(count_, list_); }

GatheringScope::GatheringScope(const char* optionText)
    : optionText_(optionText), options_(optionText), previous_(gScope)
{
    gScope = this;
}

GatheringScope::~GatheringScope() { gScope = previous_; }

const JobOptions& JobOptionsFor(const char* text, std::optional<JobOptions>& local)
{
    if (gScope != nullptr && gScope->optionText_ == text) return gScope->options_;
    local.emplace(text);
    return *local;
}

JobPPD::JobPPD()
{
    GatheringScope* scope = gScope;
    // The scope keeps the PPD it opened only while PPD still names that file.
    if (scope != nullptr && (!scope->ppdOpened_ || scope->ppdPath_ == ppdPathFromEnvironment())) {
        if (!scope->ppdOpened_) {
            scope->ppdPath_ = ppdPathFromEnvironment();
            scope->ppd_ = OpenJobPPD();
            scope->ppdOpened_ = true;
        }
        ppd_ = scope->ppd_.get();
        return;
    }
    owned_ = OpenJobPPD();
    ppd_ = owned_.get();
}
