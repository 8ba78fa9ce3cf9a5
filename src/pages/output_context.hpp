#pragma once

#include <cstdio>
#include <memory>

struct SourceDocument;

// The new PDF file that the re-rendered pages go into.
class OutputContext {
public:
    virtual ~OutputContext() = default;
    // Completes the file.  False, after a message, when it could not be
    // written in full.
    virtual bool close() = 0;
};

// Both write into `file`, which stays the caller's.
std::shared_ptr<OutputContext> MakeVectorOutput(FILE* file, SourceDocument& source);
std::shared_ptr<OutputContext> MakeRasterOutput(FILE* file);

// "Page re-rendering failed: <reason>; the document is sent unchanged"
void ReportRenderFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
