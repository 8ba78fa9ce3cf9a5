// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

#include "runtime.hpp"

namespace pdftopjl::app {

namespace {

constexpr int kSignals[] = {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGILL};
struct sigaction previous[sizeof kSignals / sizeof kSignals[0]];
// Opened when the signal comes: PAPPL renames a full log and starts another.
char logPath[1024];

// Only what is safe in a signal handler: write(2) of text built in place.
void onFatalSignal(int number, siginfo_t* info, void*)
{
    char line[160] = "F [crash] pdftopjl-app: fatal signal ";
    size_t length = std::strlen(line);
    char digits[8];
    int count = 0;
    for (int n = number; n > 0 && count < 8; n /= 10) digits[count++] = static_cast<char>('0' + n % 10);
    while (count > 0) line[length++] = digits[--count];
    const char* name = sigabbrev_np(number);
    const char* middle = " (SIG";
    for (const char* c = middle; *c != '\0'; ++c) line[length++] = *c;
    for (const char* c = name != nullptr ? name : "?"; *c != '\0' && length < 120; ++c) line[length++] = *c;
    const char* tail = "), the server stops\n";
    for (const char* c = tail; *c != '\0'; ++c) line[length++] = *c;
    [[maybe_unused]] ssize_t ignored = write(STDERR_FILENO, line, length);
    if (logPath[0] != '\0') {
        const int fd = open(logPath, O_WRONLY | O_APPEND | O_CLOEXEC);
        if (fd >= 0) {
            ignored = write(fd, line, length);
            close(fd);
        }
    }

    // Whoever handled it before (the default: die, with a core) handles it
    // now; a fault raised by the processor comes again on return.
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i)
        if (kSignals[i] == number) sigaction(number, &previous[i], nullptr);
    if (info == nullptr || info->si_code <= 0) raise(number);
}

}  // namespace

void LogFatalSignals(const std::string& logFile)
{
    if (!logFile.empty() && logFile != "-" && logFile != "syslog" && logFile.size() < sizeof logPath)
        std::memcpy(logPath, logFile.c_str(), logFile.size() + 1);
    struct sigaction action {};
    action.sa_sigaction = onFatalSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < sizeof kSignals / sizeof kSignals[0]; ++i) sigaction(kSignals[i], &action, &previous[i]);
}

}  // namespace pdftopjl::app
