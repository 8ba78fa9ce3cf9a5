// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "core/run_job.hpp"
#include "job/fd.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

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
// standard layout requests (page ranges, landscape, fitting, scaling,
// position, margins, n-up layout).
bool NeedsLayoutPreFilter(const Layout& layout);

// Stages the document: through the pre-filter when the layout asks for it,
// else copied; rewritten when the edit decision says so.  Nothing, after a
// message and with `failure` saying why, when the document cannot be staged
// or is no printable PDF (empty, unreadable, locked by a user password,
// without pages).
std::optional<StagedDocument> StageDocument(const JobTicket& ticket, const PrinterProfile& printer,
                                           const JobDocument& document, Outcome* failure);

// Sends the staged file to `out` through the output channel and removes it,
// running `betweenBlocks` (if given) before each block.  False after a
// message when it cannot be read in full.
bool SendStagedDocument(const StagedDocument& staged, FILE* out, const std::function<void()>& betweenBlocks = {});

}  // namespace pdftopjl
