// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "pages/document.hpp"
#include "pages/edit_decision.hpp"

namespace pdftopjl {

enum class RewriteStatus {
    Done,
    Unfaithful,   // the document cannot be rewritten faithfully (a message said why)
    WriteFailed,  // the destination could not be written (error says why)
    Cancelled,
};

struct RewriteOutcome {
    RewriteStatus status = RewriteStatus::Done;
    int error = 0;  // errno of a failed write
};

// Writes the document as the plan says into `destination`, which stays the
// caller's.  A document that cannot be rewritten faithfully is sent unchanged
// by the caller; a destination that cannot be written fails the job.
RewriteOutcome RewritePages(SourceDocument* source, const EditPlan& plan, FILE* destination);

// The page numbers the rewrite emits: 1, 1 + pageStep, ... while not above
// lastPage.  A number beyond the document's pages ends the list.
std::vector<int32_t> EmittedPages(const EditPlan& plan);

}  // namespace pdftopjl
