#include "pages/page_writer.hpp"

#include <cstdarg>
#include <cstdio>

#include "job/channel.hpp"

namespace pdftopjl {

void ReportRenderFailure(const char* format, ...)
{
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    job::Logf(job::Severity::Warning, "Page re-rendering failed: %s; the document is sent unchanged",
              reason);
}

}  // namespace pdftopjl
