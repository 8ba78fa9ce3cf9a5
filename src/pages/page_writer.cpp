#include "pages/page_writer.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "job/channel.hpp"

namespace pdftopjl {

void ReportRenderFailure(const char* format, ...)
{
    // The reason at its whole length: it may name a file under a long TMPDIR.
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string reason(length > 0 ? static_cast<size_t>(length) : 0, '\0');
    if (length > 0) std::vsnprintf(reason.data(), reason.size() + 1, format, again);
    va_end(again);
    job::Logf(job::Severity::Warning, "Page re-rendering failed: %s; the document is sent unchanged",
              reason.c_str());
}

}  // namespace pdftopjl
