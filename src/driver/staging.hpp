#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "job/fd.hpp"
#include "settings/job_inputs.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

// The document as it will be sent: the job's own document when it is a
// regular file that needs no change (`path` empty), else a temporary file;
// read and measured only through its descriptor (whatever later appears at a
// path cannot take its place; the path only removes it), its size and pages.
struct StagedDocument {
    std::string path;
    job::UniqueFd fd;
    int64_t size = 0;
    int64_t pages = 0;  // known once the document has been opened
};

// True when the layout settings need the system pre-filter: the print
// dialog's (n-up, scaling, borders, order, page set, mirror) and the
// standard CUPS layout options (page ranges, landscape, fitting, scaling,
// position, margins, n-up layout).
bool NeedsLayoutPreFilter(const FeaturesOption& features, const JobOptions& options);

// True when CUPS laid the document out before this filter: the printer's
// PPD takes only the layout filter's output type, so pdftopdf ran in the
// CUPS filter chain and must not run again.
bool LaidOutByCups(const ppd_file_t* ppd);

// Stages the document: through the pre-filter when the layout asks for it,
// else copied; rewritten when the edit decision says so.  Nothing, after a
// message, when the document cannot be staged or is no printable PDF (empty,
// unreadable, locked by a user password, without pages).
std::optional<StagedDocument> StageDocument(const JobInputs& job, const PrintOptions& settings);

// Sends the staged file to `out` through the output channel and removes it.
// False after a message when it cannot be read in full.
bool SendStagedDocument(const StagedDocument& staged, FILE* out);

}  // namespace pdftopjl
