// SPDX-License-Identifier: Apache-2.0
#include "cups/filter.hpp"

#include <cups/file.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "cups/adapter.hpp"
#include "cups/printer_state.hpp"
#include "core/platform.hpp"
#include "job/output.hpp"
#include "job/log.hpp"
#include "job/cancel.hpp"

// Test builds name a marker of their own, so that a machine's marker never
// reaches their jobs.
#ifndef PDFTOPJL_JOBCOPY_MARKER
#define PDFTOPJL_JOBCOPY_MARKER ""
#endif

namespace pdftopjl {

namespace {

// The copies argument goes into the header as it is, so only a plain count
// the printer takes may reach it: decimal digits, 1 to 9999.  Anything else
// (a sign, spaces, quotes, no digits) prints one copy.
constexpr int kMaxCopies = 9999;

int validatedCopies(const std::string& text)
{
    int count = 0;
    bool digits = !text.empty();
    for (char c : text) {
        if (c < '0' || c > '9' || count > kMaxCopies) {
            digits = false;
            break;
        }
        count = count * 10 + (c - '0');
    }
    if (digits && count >= 1 && count <= kMaxCopies) return count;
    // Shown printable and short: the argument may hold anything, line ends
    // included.
    std::string shown;
    for (char c : text.substr(0, 32)) shown += (c >= 0x20 && c < 0x7f) ? c : '?';
    if (text.size() > 32) shown += "...";
    job::Logf(job::Severity::Warning,
              "The copies argument \"%s\" is not a count from 1 to %d; one copy is printed",
              shown.c_str(), kMaxCopies);
    return 1;
}

// A PPD larger than this is refused unread: real ones stay under a few
// hundred kilobytes, and CUPS's reader takes time by the square of the
// options (14 s for 4 MiB of them here, minutes for a few more).
constexpr off_t kMaxPpdBytes = 4 << 20;

// Why the PPD at `path` cannot be used, or empty with the PPD opened into
// `ppd`.  The open never waits on what is at the path: a FIFO is no PPD.
std::string readPpd(const char* path, PpdHandle* ppd)
{
    if (path == nullptr || *path == '\0') return "PPD is not set";
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return "it is not a regular file";
    }
    if (st.st_size > kMaxPpdBytes) {
        close(fd);
        return "it is larger than " + std::to_string(kMaxPpdBytes >> 20) + " MiB";
    }
    cups_file_t* file = cupsFileOpenFd(fd, "r");
    if (file == nullptr) {
        close(fd);
        return "it cannot be read";
    }
    ppd->reset(ppdOpen2(file));
    cupsFileClose(file);  // closes fd
    if (*ppd) return {};
    int line = 0;
    const ppd_status_t status = ppdLastError(&line);
    return std::string(ppdErrorString(status)) + " on line " + std::to_string(line);
}

// The printer's PPD; without it, a warning says what the job goes without.
PpdHandle openPrinterPpd(const char* path)
{
    PpdHandle ppd;
    const std::string why = readPpd(path, &ppd);
    if (!ppd)
        job::Logf(job::Severity::Warning,
                  "The printer's PPD %s cannot be read (%s); the job goes without the printer's "
                  "defaults (quality, colour, trapping, tray, media type, finishing, duplex), its "
                  "UTF-8 text mode, page turning, rasterising and the bypass tray's feed edge, and "
                  "the layout filter",
                  path != nullptr && *path != '\0' ? path : "(none)", why.c_str());
    return ppd;
}

// The job-copy marker: the build's own when it names one, else
// $CUPS_SERVERROOT/pdftopjl/jobcopy (/etc/cups/pdftopjl/jobcopy).
std::string jobCopyMarker()
{
    if (*PDFTOPJL_JOBCOPY_MARKER != '\0') return PDFTOPJL_JOBCOPY_MARKER;
    return std::string(platform::CupsDirectory("CUPS_SERVERROOT", platform::kDefaultCupsServerRoot)) +
           "/pdftopjl/jobcopy";
}

// Standard input, output or error closed when the filter starts would be
// the first pipe or file the job opens (the host lookup's pipe read as the
// document): each missing one is opened on /dev/null.
void openMissingStandardDescriptors()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        const int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

// CUPS reads the job's impressions from an ATTR: line and counts what its
// last filter reports in PAGE: lines: each page of the body, with the copies
// the printer makes of it.
JobHooks cupsHooks()
{
    JobHooks hooks;
    hooks.impressionsKnown = [](int64_t impressions) {
        job::WriteText("ATTR: job-impressions=" + std::to_string(impressions) + "\n", stderr);
    };
    hooks.pagesSent = [](int64_t pages, int32_t copies) {
        for (int64_t page = 1; page <= pages; ++page)
            job::WriteText("PAGE: " + std::to_string(page) + " " + std::to_string(copies) + "\n",
                           stderr);
    };
    return hooks;
}

// cupsd hands every filter the back channel's reading end here.
constexpr int kBackChannelFd = 3;

// How long the printer is heard once the job is at the backend: until the
// backend is done (the channel closes: cupsd waits for the backend then
// anyway), at most this long.
constexpr int kListenAfterJobMs = 15000;

// The job's output handed on whole: the backend sees its end and can finish
// while the printer is still heard.  The stream stays usable, on /dev/null.
void endOutput(FILE* output)
{
    fflush(output);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0) return;
    dup2(null, fileno(output));
    close(null);
}

}  // namespace

int RunCupsFilter(int argc, char* argv[], const JobServices& services, FILE* output)
{
    // A cancel while the PPD is read is honoured as one during the job.
    job::InstallSignalHandlers();
    job::BeforeOutput(true);
    std::optional<JobArguments> args = JobArguments::FromCommandLine(argc, argv);
    if (!args) {
        job::BeforeOutput(false);
        fputs(kFilterUsage, stderr);
        return 1;
    }
    job::OpenJobCopy(jobCopyMarker().c_str());
    const int copies = validatedCopies(args->copies);
    const char* ppdPath = std::getenv("PPD");
    JobDocument document;
    document.path = args->documentPath;
    CupsJob adapted;
    {
        JobInputs inputs(std::move(*args), openPrinterPpd(ppdPath));
        adapted = AdaptCupsJob(inputs, copies);
    }
    JobHooks hooks = cupsHooks();
    // The printer's state, when its backend passes on what it says; banner
    // pages and documents with more of the job after them are left out,
    // since the channel stays open for the rest of the job.
    const char* fileType = std::getenv("CUPS_FILETYPE");
    CupsPrinterState state;
    std::optional<PrinterWatch> watch;
    if (adapted.printerStatus && (fileType == nullptr || std::strcmp(fileType, "job-sheet") != 0) &&
        !LaterDocumentFollows(document.path ? document.path->c_str() : nullptr) &&
        BackChannelOffered(std::getenv("DEVICE_URI"), kBackChannelFd))
        watch.emplace(kBackChannelFd, adapted.colourDevice,
                      [&state](const PrinterCondition& now) { job::WriteText(state.Update(now), stderr); });
    hooks.printerWatch = watch ? &*watch : nullptr;
    const Outcome outcome = RunJob(adapted.ticket, adapted.printer, document, output, hooks, services);
    if (watch) {
        if (outcome == Outcome::Printed) {
            endOutput(output);
            watch->Listen(kListenAfterJobMs);
        }
        job::WriteText(state.EndJob(), stderr);
    }
    return ExitStatus(outcome);
}

int FilterMain(int argc, char* argv[])
{
    openMissingStandardDescriptors();
    return RunCupsFilter(argc, argv, JobServices{}, stdout);
}

}  // namespace pdftopjl
