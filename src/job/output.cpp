// SPDX-License-Identifier: Apache-2.0
#include "job/output.hpp"

#include <unistd.h>

#include <csignal>
#include <ctime>
#include <string>

#include "job/jobcopy.hpp"
#include "job/log.hpp"

namespace pdftopjl::job {

namespace {

FILE* gJobCopy = nullptr;
bool gKeepSecrets = false;
// For the signal handlers, which may not touch the stream.
volatile sig_atomic_t gJobCopyFd = -1;

}  // namespace

void LogFromSignal(const char* text, size_t size)
{
    (void)!write(STDERR_FILENO, text, size);
    if (gJobCopyFd >= 0) (void)!write(gJobCopyFd, text, size);
}

size_t Write(const void* data, size_t size, FILE* stream)
{
    if (gJobCopy != nullptr) fwrite(data, 1, size, gJobCopy);
    return fwrite(data, 1, size, stream);
}

void WriteText(std::string_view text, FILE* stream)
{
    if (!text.empty()) Write(text.data(), text.size(), stream);
}

void WriteSecret(std::string_view text, std::string_view masked, FILE* stream)
{
    if (gJobCopy != nullptr) {
        const std::string_view copied = gKeepSecrets ? text : masked;
        fwrite(copied.data(), 1, copied.size(), gJobCopy);
    }
    fwrite(text.data(), 1, text.size(), stream);
}

void OpenJobCopy(const char* marker)
{
    std::string problem;
    const std::optional<JobCopySettings> settings = ReadJobCopyMarker(marker, &problem);
    if (settings) {
        UniqueFd fd = CreateJobCopyFile(*settings, &problem, time(nullptr));
        if (fd) {
            gJobCopy = fdopen(fd.get(), "wb");
            if (gJobCopy != nullptr) gJobCopyFd = fd.release();
            gKeepSecrets = settings->keepPasscodes;
        }
    }
    // The job prints either way; the administrator who asked for copies
    // learns why there are none.
    if (!problem.empty()) Logf(Severity::Warning, "No job copy is made: %s", problem.c_str());
}

bool JobCopyOpen() { return gJobCopy != nullptr; }

void CloseJobCopy()
{
    if (gJobCopy == nullptr) return;
    fflush(gJobCopy);
    gJobCopyFd = -1;
    fclose(gJobCopy);
    gJobCopy = nullptr;
}

void DetachJobCopy()
{
    gJobCopy = nullptr;
    gJobCopyFd = -1;
}

}  // namespace pdftopjl::job
