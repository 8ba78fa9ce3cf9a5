// SPDX-License-Identifier: Apache-2.0
#include "core/printer_watch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>

#include "job/cancel.hpp"

namespace pdftopjl {

PrinterWatch::PrinterWatch(int fd, bool colour, Report report) : fd_(fd), colour_(colour), report_(std::move(report))
{
    // Read without waiting whoever else holds the channel.
    const int flags = fcntl(fd_, F_GETFL);
    open_ = flags >= 0 && ((flags & O_NONBLOCK) != 0 || fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0);
}

bool PrinterWatch::readSome()
{
    char buffer[4096];
    const ssize_t n = read(fd_, buffer, sizeof buffer);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return open_ = false;
    if (n < 0) return true;
    for (const PjlStatus& status : stream_.Feed(std::string_view(buffer, static_cast<size_t>(n)))) {
        PrinterCondition now = ConditionOf(status, colour_);
        if (reported_ && now == last_) continue;
        reported_ = true;
        last_ = std::move(now);
        report_(last_);
    }
    return true;
}

void PrinterWatch::Poll()
{
    // A bounded number of reads: a sender that never pauses does not hold
    // the job here.
    for (int reads = 0; open_ && reads < 16; ++reads) {
        pollfd ready{fd_, POLLIN, 0};
        if (poll(&ready, 1, 0) != 1 || !readSome()) return;
    }
}

void PrinterWatch::Listen(int limitMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (open_ && !job::Cancelled()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return;
        // In short slices, so that a cancel is seen.
        pollfd ready{fd_, POLLIN, 0};
        const int n = poll(&ready, 1, static_cast<int>(std::min<long long>(left.count(), 200)));
        if (n < 0 && errno != EINTR) return;
        if (n == 1) readSome();
    }
}

}  // namespace pdftopjl
