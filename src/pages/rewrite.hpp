#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

#include "pages/document.hpp"
#include "pages/edit_decision.hpp"

namespace pdftopjl {

// Writes the document as the plan says into `destination`, which stays the
// caller's.  False, after a message, when it cannot be rewritten faithfully:
// the caller then sends the document unchanged.
bool RewritePages(SourceDocument* source, const EditPlan& plan, FILE* destination);

// The page numbers the rewrite emits: 1, 1 + pageStep, ... while not above
// lastPage.  A number beyond the document's pages ends the list.
std::vector<int32_t> EmittedPages(const EditPlan& plan);

}  // namespace pdftopjl
