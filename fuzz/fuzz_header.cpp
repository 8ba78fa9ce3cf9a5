// SPDX-License-Identifier: Apache-2.0
// The header rules over any job.  The input holds, split on NUL bytes (no
// command-line text can hold one): option string, title, PPD text, user,
// copies, host name, host address.  Missing parts take plain values.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.hpp"
#include "pjl/header.hpp"
#include "pjl/jobstream.hpp"
#include "cups/adapter.hpp"
#include "job/text.hpp"

using namespace pdftopjl;

namespace {

// Written out here rather than taken from the writer, so that a change there
// cannot relax the check.
constexpr size_t kLineMax = 254;
constexpr std::string_view kFirstLine = "\x1b%-12345X@PJL JOB MODE=PRINTER\n";
constexpr std::string_view kFsiz = "@PJL SET JOBATTR=\"@FSIZ=";

std::vector<std::string> SplitOnNul(std::string_view input)
{
    std::vector<std::string> parts;
    for (size_t at = 0;;) {
        const size_t end = input.find('\0', at);
        parts.emplace_back(input.substr(at, end - at));
        if (end == std::string_view::npos) return parts;
        at = end + 1;
    }
}

// The PPD goes through OpenPpd as in the filter, from a file in memory so
// that runs leave nothing on disk.  Fuzzed lines follow a PPD's first line,
// without which nothing past it would ever be parsed.
PpdHandle OpenFuzzedPpd(std::string_view body)
{
    if (body.empty()) return PpdHandle();
    static const int fd = memfd_create("fuzz.ppd", 0);
    std::string text(body);
    if (!text.starts_with("*PPD-Adobe:")) text = "*PPD-Adobe: \"4.3\"\n" + text;
    if (fd < 0 || ftruncate(fd, 0) != 0 ||
        pwrite(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size()))
        std::abort();
    return OpenPpd(("/proc/self/fd/" + std::to_string(fd)).c_str());
}

void CheckHeader(std::string_view header, int64_t fileSize)
{
    FUZZ_REQUIRE(header.starts_with(kFirstLine), "the first line is the universal exit and the job line");
    FUZZ_REQUIRE(header.ends_with('\n'), "every line ends with a line feed");
    const std::string fsizLine = std::string(kFsiz) + std::to_string(fileSize) + "\"\n";
    int fsizLines = 0;
    for (size_t at = 0; at < header.size();) {
        const size_t end = header.find('\n', at) + 1;
        const std::string_view line = header.substr(at, end - at);
        FUZZ_REQUIRE(line.size() <= kLineMax, "no line longer than 254 bytes with its line feed");
        FUZZ_REQUIRE(at == 0 || line.starts_with("@PJL"), "every line after the first starts with @PJL");
        // The first line's ESC is the universal exit's; the last byte is the line feed.
        for (size_t i = at == 0 ? 1 : 0; i + 1 < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            FUZZ_REQUIRE(c >= 0x20 && c != 0x7F, "no control bytes but the exit's ESC and line feeds");
        }
        if (line.starts_with(kFsiz)) {
            ++fsizLines;
            FUZZ_REQUIRE(line == fsizLine, "FSIZ carries the document's size");
        }
        at = end;
    }
    FUZZ_REQUIRE(fsizLines == 1, "exactly one FSIZ line");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    SilenceJobMessages();
    setenv("TZ", "UTC", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> parts = SplitOnNul(input);
    parts.resize(std::max<size_t>(parts.size(), 7));
    auto part = [&](size_t i, const char* fallback) { return parts[i].empty() ? fallback : parts[i]; };

    JobArguments args;
    args.program = "pdftopjl";
    args.jobId = "1";
    args.optionText = parts[0];
    args.title = parts[1];
    args.user = part(3, "user");
    const int32_t copies = ParseDecimalInt32(part(4, "1"));
    const JobInputs job(std::move(args), OpenFuzzedPpd(parts[2]));
    const CupsJob adapted = AdaptCupsJob(job, copies);
    const JobTicket& ticket = adapted.ticket;
    const HeaderTexts texts = EncodeHeaderTexts(ticket, adapted.printer);
    const HostIdentity host{part(5, "host"), parts[6]};

    // The input itself is the document, so the stream can be read back whole.
    char* buffer = nullptr;
    size_t length = 0;
    FILE* out = open_memstream(&buffer, &length);
    PjlWriter writer(out);
    const int64_t fileSize = static_cast<int64_t>(size);
    const bool written = StoredJobPasscodeUsable(ticket);
    if (written)
        WriteJobHeader(HeaderInputs{ticket, adapted.printer, texts, host, 1700000000, fileSize}, writer);
    std::fflush(out);
    const std::string header(buffer, length);
    if (written) {
        std::fwrite(data, 1, size, out);
        WriteJobTrailer(writer);
    }
    std::fclose(out);
    const std::string stream(buffer, length);
    std::free(buffer);

    if (!written) {
        FUZZ_REQUIRE(header.empty(), "a refused job writes no byte");
        FUZZ_REQUIRE(ticket.held.type == PrintType::Store, "only a stored job's passcode refuses a job");
        return 0;
    }
    CheckHeader(header, fileSize);

    // What the filter writes, the inspector must read back as written.
    const JobStream parsed = ParseJobStream(stream);
    FUZZ_REQUIRE(parsed.valid, "the job stream parses back");
    FUZZ_REQUIRE(parsed.fileSize == fileSize && parsed.body == input, "the body parses back whole");
    FUZZ_REQUIRE(parsed.header.size() == static_cast<size_t>(std::count(header.begin(), header.end(), '\n')),
                 "every header line parses back");
    return 0;
}
