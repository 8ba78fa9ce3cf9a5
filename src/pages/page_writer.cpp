// SPDX-License-Identifier: Apache-2.0
#include "pages/page_writer.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "job/log.hpp"
#include "job/text.hpp"

namespace pdftopjl {

namespace {

bool gHolding = false;
std::vector<std::string> gHeld;

void report(const std::string& reason)
{
    job::Logf(job::Severity::Warning, "Page re-rendering failed: %s; the document is sent unchanged",
              reason.c_str());
}

}  // namespace

void ReportRenderFailure(const char* format, ...)
{
    // The reason at its whole length: it may name a file under a long TMPDIR.
    va_list args;
    va_start(args, format);
    std::string reason = FormatText(format, args);
    va_end(args);
    if (gHolding)
        gHeld.push_back(std::move(reason));
    else
        report(reason);
}

HeldRenderFailures::HeldRenderFailures() { gHolding = true; }

void HeldRenderFailures::drop()
{
    gHolding = false;
    gHeld.clear();
}

HeldRenderFailures::~HeldRenderFailures()
{
    const std::vector<std::string> held = std::move(gHeld);
    drop();
    for (const std::string& reason : held) report(reason);
}

}  // namespace pdftopjl
