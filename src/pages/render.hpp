#pragma once

#include "pages/pdf_doc_info.hpp"

// Writes the re-rendered document into a new temporary file whose path goes
// into stagedPath (128 bytes).  1 on success, 0 on failure.
int PreProcess(PdfDocInfo* info, char* stagedPath);
