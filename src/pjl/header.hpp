#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

#include "host/host_address.hpp"
#include "pjl/writer.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

struct HeaderInputs {
    const PrintOptions& settings;
    std::string_view requestingUser;  // the filter's user argument
    std::string_view copies;          // the filter's copies argument
    const HostIdentity& host;
    time_t now;
    int64_t fileSize;  // bytes of the PDF that follows
};

// The whole header: universal exit and job line, string code set, comments,
// owner and document blocks, FSIZ and the switch to PDF.  False, after a
// message and before any byte is written, when the job cannot be held at the
// printer as asked.
bool WriteJobHeader(const HeaderInputs& in, PjlWriter& out);

// Universal exit and end of job.
void WriteJobTrailer(PjlWriter& out);

}  // namespace pdftopjl
