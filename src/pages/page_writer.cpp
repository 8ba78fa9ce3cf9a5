#include "pages/page_writer.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "job/channel.hpp"
#include "job/text.hpp"

namespace pdftopjl {

void ReportRenderFailure(const char* format, ...)
{
    // The reason at its whole length: it may name a file under a long TMPDIR.
    va_list args;
    va_start(args, format);
    const std::string reason = FormatText(format, args);
    va_end(args);
    job::Logf(job::Severity::Warning, "Page re-rendering failed: %s; the document is sent unchanged",
              reason.c_str());
}

}  // namespace pdftopjl
