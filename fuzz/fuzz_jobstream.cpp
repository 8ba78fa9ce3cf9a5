// SPDX-License-Identifier: Apache-2.0
// The job stream reader over any bytes: it never crashes, and what it calls
// valid is framed as the filter frames it.
#include <cstdint>
#include <string_view>

#include "fuzz_check.hpp"
#include "pjl/jobstream.hpp"

using namespace pdftopjl;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    const JobStream job = ParseJobStream(stream);
    FUZZ_REQUIRE(job.valid == job.error.empty(), "an error exactly when invalid");
    if (!job.valid) return 0;

    FUZZ_REQUIRE(job.fileSize >= 0 && job.body.size() == static_cast<uint64_t>(job.fileSize),
                 "the body is FSIZ bytes");
    FUZZ_REQUIRE(job.body.data() >= stream.data() &&
                     job.body.data() + job.body.size() <= stream.data() + stream.size(),
                 "the body lies inside the stream");
    FUZZ_REQUIRE(stream.starts_with("\x1b%-12345X@PJL JOB MODE=PRINTER\n"), "the stream opens a job");
    FUZZ_REQUIRE(stream.ends_with(kTrailer) || stream.ends_with(kStatusTrailer), "the stream ends the job");
    FUZZ_REQUIRE(!job.header.empty() && job.header.back() == "@PJL ENTER LANGUAGE=PDF",
                 "the header ends with the switch to PDF");
    for (const std::string& line : job.header) {
        for (unsigned char c : ReadableLine(line, job.codeSet))
            FUZZ_REQUIRE(c >= 0x20 && c != 0x7F, "a readable line shows no control bytes");
    }
    return 0;
}
