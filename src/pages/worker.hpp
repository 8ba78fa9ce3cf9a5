// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>

// Work on a document that may never end or may take all memory (painting a
// page, redrawing the document) runs in child processes of the job: each
// under a memory and a processor-time limit, ended at once when the job is
// cancelled, its results sent back over a pipe as typed records.
namespace pdftopjl {

// What one piece of work may use; 0 leaves a limit off.
struct WorkerLimits {
    uint64_t memoryBytes = 0;  // address space beyond what the worker starts with
    int cpuSeconds = 0;        // processor time
};

// The worker's end of its pipe: records of a type and a payload, each
// written whole.
class WorkerOutput {
public:
    explicit WorkerOutput(int fd) : fd_(fd) {}
    bool send(uint32_t type, const void* data, size_t size);
    bool send(uint32_t type, std::string_view text) { return send(type, text.data(), text.size()); }

private:
    int fd_;
};

// Record types the workers themselves use; a task's own types are others.
inline constexpr uint32_t kRecordMessage = 'M';     // a log line for the job
inline constexpr uint32_t kRecordWriteError = 'W';  // an int: errno of a failed write

// What a task returns, the worker's exit status.
inline constexpr int kWorkDone = 0;
inline constexpr int kWorkRefused = 2;      // the work cannot be done faithfully; a message said why
inline constexpr int kWorkWriteFailed = 3;  // after a kRecordWriteError record

using WorkerTask = std::function<int(WorkerOutput& out)>;
// Takes one of the task's records in the job's process; false stops the
// worker (the reader keeps its own reason).
using WorkerReader = std::function<bool(uint32_t type, std::string_view payload)>;

// How a piece of work ended, as the job's process saw it.
enum class WorkerEnd {
    Done,
    Refused,      // kWorkRefused
    WriteFailed,  // kWorkWriteFailed; error holds the errno
    OutOfMemory,  // it asked for more memory than its limit
    OutOfTime,    // it used up its processor time (or far more than that in waiting)
    Died,         // ended by a signal or in a way it should not (signal holds which)
    Stopped,      // the reader refused a record
    Cancelled,    // the job was cancelled
    NotStarted,   // no process could be started; error holds the errno
};

struct WorkerResult {
    WorkerEnd end = WorkerEnd::NotStarted;
    int error = 0;
    int signal = 0;
};

// The job's own process under a memory limit for as long as this lives:
// what it uses now and `bytes` more (the soft address-space limit, so the
// limit before can be put back).  An allocation beyond it fails, as
// std::bad_alloc.  None in AddressSanitizer builds (see WorkerLimits).
class MemoryCeiling {
public:
    explicit MemoryCeiling(uint64_t bytes);
    ~MemoryCeiling();
    MemoryCeiling(const MemoryCeiling&) = delete;
    MemoryCeiling& operator=(const MemoryCeiling&) = delete;
    // Whether an allocation failed since: libraries that catch the failure
    // report it as something else (qpdf as a damaged file).
    bool reached() const;
    // What may be allocated beyond what was in use when this began: `bytes`,
    // or less when a lower limit was already in place; 0 when none is.
    uint64_t headroom() const { return headroom_; }

private:
    bool set_ = false;
    uint64_t previous_ = 0;
    uint64_t headroom_ = 0;
    std::new_handler previousHandler_ = nullptr;
};

// The job's own process under a processor-time limit for as long as this
// lives, counted from now.  Work that cannot be stopped part way and taken
// up again (qpdf's) can only end the job there: at the limit the signal
// handler removes the job's temporary files, writes `message` (whole lines)
// to standard error and the job copy and exits with status 1.  Only before
// any output.
class ProcessorTimeLimit {
public:
    ProcessorTimeLimit(int seconds, const std::string& message);
    ~ProcessorTimeLimit();
    ProcessorTimeLimit(const ProcessorTimeLimit&) = delete;
    ProcessorTimeLimit& operator=(const ProcessorTimeLimit&) = delete;

private:
    bool set_ = false;
    struct sigaction previous_;
};

// Runs tasks in up to `size` child processes at once.  Their records are
// read in the order the tasks were given, each task's to its end before the
// next one's, so the results come back in order while the others work on.
class WorkerPool {
public:
    explicit WorkerPool(size_t size);
    ~WorkerPool();  // ends and reaps every worker still running
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Called with each task's result, in task order; false stops the pool.
    using Done = std::function<bool(const WorkerResult&)>;

    // Starts a task, first finishing the oldest one when every worker is
    // busy.  False once a result stopped the pool.
    bool submit(WorkerTask task, const WorkerLimits& limits, WorkerReader reader, Done done);
    // Finishes every task still running.  False once a result stopped the pool.
    bool drain();

private:
    struct Running;
    bool finishOldest();

    size_t size_;
    bool stopped_ = false;
    std::deque<std::unique_ptr<Running>> running_;
};

}  // namespace pdftopjl
