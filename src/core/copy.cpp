// SPDX-License-Identifier: Apache-2.0
#include "core/copy.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "job/output.hpp"
#include "job/cancel.hpp"

namespace pdftopjl {

namespace {

constexpr size_t kBlockSize = 1 << 20;        // user-space copy block
constexpr size_t kKernelChunk = 16u << 20;    // per call, so cancels are seen

bool isRegular(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

bool unsupported(int err)
{
    return err == EINVAL || err == ENOSYS || err == EXDEV || err == EOPNOTSUPP ||
           err == EBADF || err == ESPIPE;
}

enum class Kernel { Done, Unsupported, Failed, Cancelled };

// How much the next step may move: `step`, or what is left of maxBytes.
size_t nextStep(size_t step, int64_t maxBytes, int64_t done)
{
    return maxBytes < 0 ? step : static_cast<size_t>(std::min<int64_t>(step, maxBytes - done));
}

// Moves the rest of inFd to outFd without passing it through user space.
Kernel kernelCopy(int inFd, int outFd, int64_t maxBytes, CopyOutcome& outcome,
                  const std::function<void()>& betweenBlocks)
{
    const bool toRegular = isRegular(outFd);
    bool useCopyRange = toRegular;
    bool movedAny = false;
    for (;;) {
        if (job::Cancelled()) return Kernel::Cancelled;
        if (betweenBlocks) betweenBlocks();
        const size_t chunk = nextStep(kKernelChunk, maxBytes, outcome.bytes);
        if (chunk == 0) return Kernel::Done;
        ssize_t n;
        if (useCopyRange) {
            n = copy_file_range(inFd, nullptr, outFd, nullptr, chunk, 0);
            if (n < 0 && !movedAny && unsupported(errno)) {
                useCopyRange = false;
                continue;
            }
        } else {
            n = sendfile(outFd, inFd, nullptr, chunk);
            if (n < 0 && !movedAny && unsupported(errno)) return Kernel::Unsupported;
        }
        if (n == 0) return Kernel::Done;
        if (n < 0) {
            if (errno == EINTR) continue;
            outcome.error = errno;
            // The kernel does not say which side failed; these only come
            // from the destination.
            const bool writeSide = errno == ENOSPC || errno == EDQUOT || errno == EPIPE ||
                                   errno == EFBIG || errno == EROFS;
            outcome.status = writeSide ? CopyStatus::WriteError : CopyStatus::ReadError;
            return Kernel::Failed;
        }
        movedAny = true;
        outcome.bytes += n;
    }
}

}  // namespace

CopyOutcome CopyToStream(int inFd, FILE* out, bool viaChannel, bool stopOnWriteError,
                         int64_t maxBytes, const std::function<void()>& betweenBlocks)
{
    CopyOutcome outcome;
    const bool channelIdle = !viaChannel || !job::JobCopyOpen();

    if (channelIdle && isRegular(inFd)) {
        fflush(out);
        switch (kernelCopy(inFd, fileno(out), maxBytes, outcome, betweenBlocks)) {
        case Kernel::Done:
            return outcome;
        case Kernel::Cancelled:
            outcome.status = CopyStatus::Cancelled;
            return outcome;
        case Kernel::Failed:
            return outcome;
        case Kernel::Unsupported:
            break;  // fall back to the block copy below
        }
    }

    std::unique_ptr<char[]> buffer(new char[kBlockSize]);
    const bool mayBlock = !isRegular(inFd);
    for (;;) {
        if (job::Cancelled()) {
            outcome.status = CopyStatus::Cancelled;
            return outcome;
        }
        if (betweenBlocks) betweenBlocks();
        if (mayBlock) {
            // Wait in short slices so a cancel request is noticed while the
            // writer at the other end is slow.
            struct pollfd pfd = {inFd, POLLIN, 0};
            int ready = poll(&pfd, 1, 200);
            if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        }
        const size_t want = nextStep(kBlockSize, maxBytes, outcome.bytes);
        if (want == 0) return outcome;
        ssize_t n = read(inFd, buffer.get(), want);
        if (n == 0) return outcome;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            outcome.status = CopyStatus::ReadError;
            outcome.error = errno;
            return outcome;
        }
        size_t written = viaChannel ? job::Write(buffer.get(), static_cast<size_t>(n), out)
                                    : fwrite(buffer.get(), 1, static_cast<size_t>(n), out);
        if (written != static_cast<size_t>(n) && stopOnWriteError) {
            outcome.status = CopyStatus::WriteError;
            outcome.error = errno;
            outcome.bytes += static_cast<int64_t>(written);
            return outcome;
        }
        outcome.bytes += n;
    }
}

}  // namespace pdftopjl
