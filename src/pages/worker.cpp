// SPDX-License-Identifier: Apache-2.0
#include "pages/worker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "job/output.hpp"
#include "job/log.hpp"
#include "job/cancel.hpp"
#include "job/fd.hpp"
#include "job/tempfiles.hpp"

// Address space limits mean nothing to AddressSanitizer, which reserves far
// more than any page needs: its builds go without them.
#if defined(__SANITIZE_ADDRESS__)
#define PDFTOPJL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PDFTOPJL_ADDRESS_SANITIZER 1
#endif
#endif

namespace pdftopjl {

namespace {

constexpr int kWorkOutOfMemory = 4;
// A record larger than this is no record a worker sends.
constexpr uint32_t kMaxRecord = 16u << 20;
// How often a waiting job looks at its cancel state.
constexpr int kSliceMs = 100;

struct RecordHeader {
    uint32_t type;
    uint32_t size;
};

using Clock = std::chrono::steady_clock;

// The address space this process already has: the job's own, inherited.
uint64_t addressSpaceInUse()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0;
    unsigned long long pages = 0;
    const bool read = std::fscanf(statm, "%llu", &pages) == 1;
    std::fclose(statm);
    return read ? pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

void applyLimits(const WorkerLimits& limits)
{
    // A worker that dies leaves no core behind.
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    if (limits.cpuSeconds > 0) {
        // SIGXCPU at the limit, SIGKILL a second later should it be caught.
        struct rlimit cpu = {static_cast<rlim_t>(limits.cpuSeconds),
                             static_cast<rlim_t>(limits.cpuSeconds) + 1};
        setrlimit(RLIMIT_CPU, &cpu);
    }
#if !defined(PDFTOPJL_ADDRESS_SANITIZER)
    if (limits.memoryBytes > 0) {
        const uint64_t in = addressSpaceInUse();
        if (in > 0) {
            struct rlimit memory = {static_cast<rlim_t>(in + limits.memoryBytes),
                                    static_cast<rlim_t>(in + limits.memoryBytes)};
            setrlimit(RLIMIT_AS, &memory);
        }
    }
#endif
}

[[noreturn]] void runWorker(int fd, const WorkerTask& task, const WorkerLimits& limits, pid_t job)
{
#if defined(__linux__)
    // Never outlive the job, whatever ends it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != job) _exit(127);
#else
    (void)job;
#endif
    for (int sig : {SIGTERM, SIGINT, SIGPIPE, SIGXCPU, SIGCHLD}) signal(sig, SIG_DFL);
    applyLimits(limits);
    // Out of memory is the end of the work, whoever asked: libraries that
    // catch the failure would report it as something else.
    std::set_new_handler([] { _exit(kWorkOutOfMemory); });
    WorkerOutput out(fd);
    job::EnterWorker([&out](std::string_view line) { out.send(kRecordMessage, line); });
    int status = 127;
    try {
        status = task(out);
    } catch (const std::bad_alloc&) {
        status = kWorkOutOfMemory;
    } catch (...) {
        status = 127;
    }
    _exit(status);
}

// Processor time a reaped worker used, in seconds.
double cpuSecondsUsed(const struct rusage& usage)
{
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

namespace {

volatile bool gCeilingReached = false;

void onCeilingReached()
{
    gCeilingReached = true;
    throw std::bad_alloc();
}

}  // namespace

MemoryCeiling::MemoryCeiling(uint64_t bytes)
{
    gCeilingReached = false;
    previousHandler_ = std::set_new_handler(onCeilingReached);
#if defined(PDFTOPJL_ADDRESS_SANITIZER)
    (void)bytes;
#else
    struct rlimit now;
    const uint64_t in = addressSpaceInUse();
    if (in == 0 || getrlimit(RLIMIT_AS, &now) != 0) return;
    const uint64_t ceiling = in + bytes;
    if (now.rlim_cur != RLIM_INFINITY && now.rlim_cur <= ceiling) {
        headroom_ = now.rlim_cur > in ? now.rlim_cur - in : 0;
        return;
    }
    if (now.rlim_max != RLIM_INFINITY && now.rlim_max < ceiling) return;
    previous_ = now.rlim_cur;
    struct rlimit lowered = {static_cast<rlim_t>(ceiling), now.rlim_max};
    set_ = setrlimit(RLIMIT_AS, &lowered) == 0;
    if (set_) headroom_ = bytes;
#endif
}

bool MemoryCeiling::reached() const { return gCeilingReached; }

MemoryCeiling::~MemoryCeiling()
{
    std::set_new_handler(previousHandler_);
    if (!set_) return;
    struct rlimit now;
    if (getrlimit(RLIMIT_AS, &now) != 0) return;
    now.rlim_cur = static_cast<rlim_t>(previous_);
    setrlimit(RLIMIT_AS, &now);
}

namespace {

// What the handler writes: set before the limit is, never changed while it
// stands.
char gTimeUpMessage[512];
size_t gTimeUpLength = 0;

void onProcessorTimeUp(int)
{
    job::RemoveAllTempFilesFromSignal();
    job::LogFromSignal(gTimeUpMessage, gTimeUpLength);
    _exit(1);
}

}  // namespace

ProcessorTimeLimit::ProcessorTimeLimit(int seconds, const std::string& message)
{
    gTimeUpLength = std::min(message.size(), sizeof gTimeUpMessage);
    std::memcpy(gTimeUpMessage, message.data(), gTimeUpLength);
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onProcessorTimeUp;
    if (seconds <= 0 || sigaction(SIGPROF, &action, &previous_) != 0) return;
    // The processor time of the whole process from here, as a worker's
    // limit counts its own.
    const struct itimerval limit = {{0, 0}, {seconds, 0}};
    set_ = setitimer(ITIMER_PROF, &limit, nullptr) == 0;
    if (!set_) sigaction(SIGPROF, &previous_, nullptr);
}

ProcessorTimeLimit::~ProcessorTimeLimit()
{
    if (!set_) return;
    const struct itimerval off = {{0, 0}, {0, 0}};
    setitimer(ITIMER_PROF, &off, nullptr);
    sigaction(SIGPROF, &previous_, nullptr);
}

bool WorkerOutput::send(uint32_t type, const void* data, size_t size)
{
    if (size > kMaxRecord) return false;
    const RecordHeader header = {type, static_cast<uint32_t>(size)};
    return job::WriteAll(fd_, &header, sizeof header) && (size == 0 || job::WriteAll(fd_, data, size));
}

struct WorkerPool::Running {
    pid_t pid = -1;
    job::UniqueFd fd;
    WorkerLimits limits;
    WorkerReader reader;
    Done done;
    WorkerResult result;  // how it ended, once it has

    ~Running() { end(); }

    // Ends the worker now; its status then no longer matters.
    void end()
    {
        fd.reset();
        if (pid > 0) {
            // Until it is reaped its id cannot be reused: this never hits
            // another process.
            kill(pid, SIGKILL);
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pid = -1;
    }

    WorkerResult ended(WorkerEnd end)
    {
        this->end();
        WorkerResult r;
        r.end = end;
        return r;
    }

    // Reads the worker's records to their end, then its exit.
    WorkerResult collect();
};

WorkerResult WorkerPool::Running::collect()
{
    if (pid < 0) return result;
    // Processor time is the limit; this bounds a worker that waits instead
    // of working, by far more than any fair share of a busy machine.
    const auto start = Clock::now();
    const auto overdue = [&] {
        return limits.cpuSeconds > 0 &&
               Clock::now() - start > std::chrono::seconds(3 * limits.cpuSeconds + 30);
    };

    int writeError = 0;
    std::string pending;
    std::vector<char> chunk(1 << 16);
    while (fd) {
        if (job::Cancelled()) return ended(WorkerEnd::Cancelled);
        if (overdue()) return ended(WorkerEnd::OutOfTime);
        struct pollfd pfd = {fd.get(), POLLIN, 0};
        const int ready = poll(&pfd, 1, kSliceMs);
        if (ready <= 0) continue;
        const ssize_t n = read(fd.get(), chunk.data(), chunk.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        pending.append(chunk.data(), static_cast<size_t>(n));
        size_t at = 0;
        while (pending.size() - at >= sizeof(RecordHeader)) {
            RecordHeader header;
            std::memcpy(&header, pending.data() + at, sizeof header);
            if (header.size > kMaxRecord) return ended(WorkerEnd::Died);
            if (pending.size() - at - sizeof header < header.size) break;
            const std::string_view payload(pending.data() + at + sizeof header, header.size);
            at += sizeof header + header.size;
            if (header.type == kRecordMessage) {
                job::WriteMessageLine(payload);
            } else if (header.type == kRecordWriteError) {
                if (payload.size() == sizeof writeError)
                    std::memcpy(&writeError, payload.data(), sizeof writeError);
            } else if (!reader(header.type, payload)) {
                return ended(WorkerEnd::Stopped);
            }
        }
        pending.erase(0, at);
    }
    fd.reset();

    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    // Its pipe closes as it exits, so it is gone within moments: looked for
    // again soon at first, a small job being mostly such waits.
    long pauseNs = 20 * 1000;
    for (;;) {
        const pid_t r = wait4(pid, &status, WNOHANG, &usage);
        if (r == pid) break;
        if (r < 0 && errno != EINTR) return ended(WorkerEnd::Died);
        if (job::Cancelled()) return ended(WorkerEnd::Cancelled);
        if (overdue()) return ended(WorkerEnd::OutOfTime);
        struct timespec pause = {0, pauseNs};
        nanosleep(&pause, nullptr);
        pauseNs = std::min(2 * pauseNs, 5L * 1000 * 1000);
    }
    pid = -1;

    WorkerResult r;
    if (WIFSIGNALED(status)) {
        r.signal = WTERMSIG(status);
        const bool timeUp = r.signal == SIGXCPU ||
                            (r.signal == SIGKILL && limits.cpuSeconds > 0 &&
                             cpuSecondsUsed(usage) >= limits.cpuSeconds);
        r.end = timeUp ? WorkerEnd::OutOfTime : WorkerEnd::Died;
        return r;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // What is left over is the start of a record the worker never finished.
    if (!pending.empty() || (code != kWorkDone && code != kWorkRefused &&
                             code != kWorkWriteFailed && code != kWorkOutOfMemory)) {
        r.end = WorkerEnd::Died;
    } else if (code == kWorkDone) {
        r.end = WorkerEnd::Done;
    } else if (code == kWorkRefused) {
        r.end = WorkerEnd::Refused;
    } else if (code == kWorkWriteFailed) {
        r.end = WorkerEnd::WriteFailed;
        r.error = writeError != 0 ? writeError : EIO;
    } else {
        r.end = WorkerEnd::OutOfMemory;
    }
    return r;
}

WorkerPool::WorkerPool(size_t size) : size_(size > 0 ? size : 1) {}

WorkerPool::~WorkerPool() = default;

bool WorkerPool::submit(WorkerTask task, const WorkerLimits& limits, WorkerReader reader, Done done)
{
    while (!stopped_ && running_.size() >= size_) finishOldest();
    if (stopped_) return false;

    auto worker = std::make_unique<Running>();
    worker->limits = limits;
    worker->reader = std::move(reader);
    worker->done = std::move(done);
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        worker->result.error = errno;
    } else {
        // An inherited SIG_IGN would reap the worker before its status is seen.
        signal(SIGCHLD, SIG_DFL);
        std::fflush(nullptr);
        const pid_t job = getpid();
        const pid_t pid = fork();
        if (pid == 0) {
            close(fds[0]);
            for (const auto& other : running_) close(other->fd.get());
            runWorker(fds[1], task, limits, job);
        }
        close(fds[1]);
        if (pid < 0) {
            worker->result.error = errno;
            close(fds[0]);
        } else {
            worker->pid = pid;
            worker->fd.reset(fds[0]);
        }
    }
    running_.push_back(std::move(worker));
    return true;
}

bool WorkerPool::finishOldest()
{
    std::unique_ptr<Running> oldest = std::move(running_.front());
    running_.pop_front();
    const WorkerResult result = oldest->collect();
    oldest->end();
    if (!oldest->done(result)) {
        stopped_ = true;
        running_.clear();  // ends the others
    }
    return !stopped_;
}

bool WorkerPool::drain()
{
    while (!stopped_ && !running_.empty()) finishOldest();
    return !stopped_;
}

}  // namespace pdftopjl
