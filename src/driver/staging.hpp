#pragma once

#include <cstdint>

#include "pages/pdf_doc_info.hpp"
#include "settings/print_options.hpp"

constexpr int kStagedPathSize = 128;

// Stages the document: through the pre-filter when the layout asks for it,
// else copied; re-rendered when the edit decision says so.  Fills stagedPath
// (kStagedPathSize bytes) and the staged file's size.  1 on success; 0 after a
// message when the document cannot be staged.
int ProcessData(int argc, char* argv[], char* stagedPath, PdfDocInfo* info, int64_t* fileSize,
                PrintOptions* options);

// 1 when the layout settings need the system pre-filter.
int checkIfNeddApplePDF(const PrintOptions* options);

// Copies everything read from fd into a new temporary file whose path goes
// into intakePath (kStagedPathSize bytes); the bytes bypass the output channel.
// Returns the number of bytes copied, or -1 after a message.
int64_t SaveToTempFile(int fd, char* intakePath);

// Copies the job's document (standard input with six arguments, else the file
// named by argument 6) into a new temporary file through the output channel.
// 1 on success, 0 after a message.
int SaveToTempFileFromCups(int argc, char* argv[], char* intakePath);

// Sends the staged file to standard output through the output channel and
// removes it.  1 on success, 0 after a message.
int WritePDFData(const char* stagedPath);
