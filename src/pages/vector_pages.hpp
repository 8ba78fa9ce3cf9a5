// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <memory>

#include "pages/page_writer.hpp"

namespace pdftopjl {

// Redraws each page's own content through one transformation.
std::unique_ptr<PageWriter> MakeVectorWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file);

}  // namespace pdftopjl
