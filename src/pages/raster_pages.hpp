// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <memory>

#include "pages/page_writer.hpp"

namespace pdftopjl {

// Paints each page at 300 dpi into an image page.
std::unique_ptr<PageWriter> MakeRasterWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file);

}  // namespace pdftopjl
