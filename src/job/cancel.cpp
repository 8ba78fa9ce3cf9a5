// SPDX-License-Identifier: Apache-2.0
#include "job/cancel.hpp"

#include <sys/time.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <utility>

#include "job/output.hpp"
#include "job/tempfiles.hpp"

namespace pdftopjl::job {

namespace {

std::function<bool()> gCancelCheck;
volatile sig_atomic_t gCancelled = 0;
volatile sig_atomic_t gOutputClosed = 0;
// Nothing has gone out yet: a cancel may end the process where it stands.
volatile sig_atomic_t gBeforeOutput = 0;
volatile sig_atomic_t gChildToEnd = 0;

// How long a cancel before any output waits for the job to notice it.
constexpr suseconds_t kCancelGraceMicroseconds = 500 * 1000;

void onTerminate(int)
{
    gCancelled = 1;
    if (!gBeforeOutput) return;
    struct itimerval grace = {{0, 0}, {0, kCancelGraceMicroseconds}};
    setitimer(ITIMER_REAL, &grace, nullptr);
}

void onBrokenPipe(int) { gOutputClosed = 1; }

// The job did not notice the cancel in time (a library at work that never
// looks, such as qpdf on a document built to take minutes): as it has sent
// nothing, it ends here, as a noticed cancel would, with only what is safe in
// a signal handler.
void onCancelGraceOver(int)
{
    if (!gBeforeOutput) return;
    static const char kLine[] = "INFO: Job cancelled\n";
    if (gChildToEnd > 0) kill(gChildToEnd, SIGKILL);
    RemoveAllTempFilesFromSignal();
    LogFromSignal(kLine, sizeof kLine - 1);
    _exit(1);
}

}  // namespace

void SetCancelCheck(std::function<bool()> check) { gCancelCheck = std::move(check); }

// The caller's answer is not kept: a process that runs many jobs asks it
// again for each.
bool Cancelled() { return gCancelled != 0 || (gCancelCheck && gCancelCheck()); }
bool OutputClosed() { return gOutputClosed != 0; }

void InstallSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onTerminate;
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onBrokenPipe;
    sigaction(SIGPIPE, &action, nullptr);
    action.sa_handler = onCancelGraceOver;
    sigaction(SIGALRM, &action, nullptr);
}

void EndOnCancel(pid_t child) { gChildToEnd = child > 0 ? child : 0; }

void BeforeOutput(bool before)
{
    gBeforeOutput = before ? 1 : 0;
    if (before) return;
    struct itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_REAL, &off, nullptr);
}

}  // namespace pdftopjl::job
