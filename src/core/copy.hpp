// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

namespace pdftopjl {

enum class CopyStatus { Ok, ReadError, WriteError, Cancelled };

struct CopyOutcome {
    CopyStatus status = CopyStatus::Ok;
    int error = 0;        // errno of the failure
    int64_t bytes = 0;    // bytes handed to the destination
};

// Copies everything readable from inFd to out, in large blocks.  With
// viaChannel the bytes go through the output channel (and so into the
// job-copy file when one is open); when no job copy is being made, or the
// channel is bypassed, the kernel moves the bytes where it can.  A failed
// write ends the copy with WriteError, except that with stopOnWriteError false
// a block copy goes on (so the job-copy file still receives everything) and
// the failure is left for the caller to find with ferror().  A cancel request
// ends the copy with Cancelled.  At most maxBytes are copied when it is not
// negative.  `betweenBlocks`, when given, runs before each block (it must
// not wait).
CopyOutcome CopyToStream(int inFd, FILE* out, bool viaChannel, bool stopOnWriteError,
                         int64_t maxBytes = -1, const std::function<void()>& betweenBlocks = {});

}  // namespace pdftopjl
