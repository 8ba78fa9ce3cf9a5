// SPDX-License-Identifier: Apache-2.0
#include "pages/rewrite.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "job/log.hpp"
#include "job/cancel.hpp"
#include "pages/page_writer.hpp"
#include "pages/raster_pages.hpp"
#include "pages/vector_pages.hpp"
#include "pages/worker.hpp"

namespace pdftopjl {

namespace {

// The checks every emitted page must pass before it is drawn.
bool checkPage(const SourceDocument& source, const EditPlan& plan, int32_t n,
               PageGeometry* geometry)
{
    if (n > static_cast<int64_t>(source.pages.size())) {
        ReportRenderFailure("page %d does not exist", n);
        return false;
    }
    std::string why;
    int width, height;
    if (!ReadPageGeometry(source.pages[n - 1], geometry, &why) ||
        (plan.raster && !RasterPixelSize(geometry->crop, &width, &height, &why))) {
        ReportRenderFailure("page %d: %s", n, why.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::vector<int32_t> EmittedPages(const EditPlan& plan)
{
    std::vector<int32_t> pages;
    const int64_t step = std::max<int64_t>(1, plan.pageStep);
    for (int64_t n = 1; n <= plan.lastPage; n += step) {
        pages.push_back(static_cast<int32_t>(n));
        if (n > plan.pageCount) break;
    }
    return pages;
}

namespace {

// What redrawing the document may take: the document mapped and parsed, each
// stream buffered while it is written, with room to spare; processor time by
// its size and pages.  Far beyond what real documents need, while a stream
// that inflates to gigabytes is stopped.
constexpr uint64_t kRedrawingMemoryMargin = 1ull << 30;
constexpr int kRedrawingSecondsBase = 30;
constexpr uint64_t kRedrawingBytesPerSecond = 8ull << 20;
constexpr size_t kRedrawingPagesPerSecond = 100;

uint64_t documentBytes(const SourceDocument& source)
{
    struct stat st;
    if (source.file.size() == 0 && fstat(source.fd, &st) == 0) return static_cast<uint64_t>(st.st_size);
    return source.file.size();
}

WorkerLimits redrawingLimits(const SourceDocument& source, size_t pages)
{
    const uint64_t size = documentBytes(source);
    WorkerLimits limits;
    limits.memoryBytes = 4 * size + kRedrawingMemoryMargin;
    limits.cpuSeconds = kRedrawingSecondsBase + static_cast<int>(size / kRedrawingBytesPerSecond) +
                        static_cast<int>(pages / kRedrawingPagesPerSecond);
    return limits;
}

// What rasterising a job may take as a whole, by the clock: a minute and a
// few seconds a page, an hour at most.  Each page has its own limits; this
// ends a job of countless pages, each quick, that would hold the queue for
// hours, and once the first minute shows the pace, it ends at once a job
// that cannot finish in time.  PDFTOPJL_RASTER_BASE_SECONDS and
// PDFTOPJL_RASTER_SECONDS_PER_PAGE set others.
constexpr double kRasterBaseSeconds = 60;
constexpr double kRasterSecondsPerPage = 3;
constexpr double kRasterMaxSeconds = 3600;

double secondsSetting(const char* name, double fallback)
{
    const char* text = std::getenv(name);
    if (text == nullptr) return fallback;
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    return end != text && *end == '\0' && value >= 0 && value < 1e7 ? value : fallback;
}

class RasterBudget {
public:
    explicit RasterBudget(size_t pages)
        : pages_(pages),
          base_(secondsSetting("PDFTOPJL_RASTER_BASE_SECONDS", kRasterBaseSeconds)),
          seconds_(std::min(base_ + secondsSetting("PDFTOPJL_RASTER_SECONDS_PER_PAGE", kRasterSecondsPerPage) *
                                        static_cast<double>(pages),
                            std::max(base_, kRasterMaxSeconds)))
    {
    }

    // False, after a message, once the time is up or the pace so far, `done`
    // pages begun, cannot finish in time.
    bool allows(size_t done) const
    {
        const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
        const bool paceKnown = elapsed >= std::min(base_, seconds_) && done > 0;
        if (elapsed <= seconds_ &&
            !(paceKnown && elapsed * static_cast<double>(pages_) / static_cast<double>(done) > seconds_))
            return true;
        ReportRenderFailure("rasterising the %zu pages would not end within its limit of %.0f s (%zu "
                            "begun in %.0f s)",
                            pages_, seconds_, done, elapsed);
        return false;
    }

private:
    using Clock = std::chrono::steady_clock;
    size_t pages_;
    double base_;
    double seconds_;
    Clock::time_point start_ = Clock::now();
};

// Writes every emitted page through the writer.
RewriteOutcome writePages(PageWriter& writer, SourceDocument& source, const EditPlan& plan,
                          const std::vector<int32_t>& pages)
{
    const auto failed = [&writer] {
        if (job::Cancelled()) return RewriteOutcome{RewriteStatus::Cancelled};
        if (const int error = writer.writeError(); error != 0)
            return RewriteOutcome{RewriteStatus::WriteFailed, error};
        return RewriteOutcome{RewriteStatus::Unfaithful};
    };
    PageGeometry geometry;
    try {
        if (!writer.begin()) return failed();
        size_t done = 0;
        const RasterBudget budget(pages.size());
        for (int32_t n : pages) {
            if (job::Cancelled() || (plan.raster && !budget.allows(done))) return failed();
            if (plan.raster)
                job::Logf(job::Severity::Info, "Rendering page %zu of %zu", ++done, pages.size());
            if (!checkPage(source, plan, n, &geometry) ||
                !writer.addPage(n, source.pages[n - 1], geometry))
                return failed();
        }
        if (job::Cancelled() || !writer.finish()) return failed();
        return RewriteOutcome{};
    } catch (const std::exception& e) {
        ReportRenderFailure("%s", e.what());
        return RewriteOutcome{RewriteStatus::Unfaithful};
    }
}

// The vector pass runs whole in a worker, which writes the new document into
// the destination (its descriptor is inherited): qpdf gathers a page's
// content streams in memory, and a small document can inflate to gigabytes.
// Out of time, the worker ends and the document goes out unchanged.
RewriteOutcome redrawInWorker(SourceDocument& source, const EditPlan& plan,
                              const std::vector<int32_t>& pages, FILE* destination)
{
    const WorkerLimits limits = redrawingLimits(source, pages.size());
    WorkerResult result;
    WorkerPool worker(1);
    worker.submit(
        [&](WorkerOutput& out) {
            std::unique_ptr<PageWriter> writer = MakeVectorWriter(source, plan, destination);
            const RewriteOutcome outcome = writePages(*writer, source, plan, pages);
            if (outcome.status == RewriteStatus::WriteFailed) {
                out.send(kRecordWriteError, &outcome.error, sizeof outcome.error);
                return kWorkWriteFailed;
            }
            return outcome.status == RewriteStatus::Done ? kWorkDone : kWorkRefused;
        },
        limits, [](uint32_t, std::string_view) { return false; },
        [&result](const WorkerResult& r) {
            result = r;
            return true;
        });
    worker.drain();

    const unsigned long long mib = limits.memoryBytes >> 20;
    switch (result.end) {
    case WorkerEnd::Done: return RewriteOutcome{};
    case WorkerEnd::WriteFailed: return RewriteOutcome{RewriteStatus::WriteFailed, result.error};
    case WorkerEnd::Cancelled: return RewriteOutcome{RewriteStatus::Cancelled};
    case WorkerEnd::Refused: break;
    case WorkerEnd::OutOfTime:
        ReportRenderFailure("the pages were not redrawn within their limit of %d s of processor time",
                            limits.cpuSeconds);
        break;
    case WorkerEnd::OutOfMemory:
        ReportRenderFailure("redrawing the pages needs more than its limit of %llu MiB of memory",
                            mib);
        break;
    case WorkerEnd::NotStarted:
        ReportRenderFailure("no process could be started to redraw the pages: %s",
                            std::strerror(result.error));
        break;
    case WorkerEnd::Stopped:
    case WorkerEnd::Died:
        ReportRenderFailure("redrawing the pages ended with signal %d, within limits of %llu MiB of "
                            "memory and %d s of processor time",
                            result.signal, mib, limits.cpuSeconds);
        break;
    }
    return RewriteOutcome{RewriteStatus::Unfaithful};
}

// A small document is redrawn in the job's own process: a worker's start and
// end (its fork, its copies on write, its exit) cost more than redrawing a
// few pages, which is most of a small job's time.  The limits stay those of
// a worker, its memory under the job's own ceiling when that is lower; only
// the end at the time limit differs, qpdf having no way to be stopped part
// way: the job fails there, visibly, before anything is sent.
constexpr uint64_t kInProcessMaxBytes = 1ull << 20;
constexpr size_t kInProcessMaxPages = 100;

// Whether this process runs nothing but the job: a limit's end there ends
// the process, which must not take other threads' jobs with it.
bool soleThread()
{
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return false;
    char line[256];
    long threads = 0;
    while (std::fgets(line, sizeof line, status) != nullptr)
        if (std::sscanf(line, "Threads: %ld", &threads) == 1) break;
    std::fclose(status);
    return threads == 1;
}

bool smallEnoughForTheJobsProcess(const SourceDocument& source, const std::vector<int32_t>& pages)
{
    return pages.size() <= kInProcessMaxPages && documentBytes(source) <= kInProcessMaxBytes &&
           soleThread();
}

RewriteOutcome redrawInProcess(SourceDocument& source, const EditPlan& plan,
                               const std::vector<int32_t>& pages, FILE* destination)
{
    const WorkerLimits limits = redrawingLimits(source, pages.size());
    const ProcessorTimeLimit time(
        limits.cpuSeconds,
        "ERROR: The pages were not redrawn within their limit of " + std::to_string(limits.cpuSeconds) +
            " s of processor time; nothing was sent to the printer\nProcess Data fail\n");
    const MemoryCeiling memory(limits.memoryBytes);
    HeldRenderFailures held;
    RewriteOutcome outcome{RewriteStatus::Unfaithful};
    try {
        std::unique_ptr<PageWriter> writer = MakeVectorWriter(source, plan, destination);
        outcome = writePages(*writer, source, plan, pages);
    } catch (const std::bad_alloc&) {
        // what the writer did not catch itself
    }
    if (!memory.reached() || outcome.status == RewriteStatus::Cancelled) return outcome;
    held.drop();
    ReportRenderFailure("redrawing the pages needs more than its limit of %llu MiB of memory",
                        static_cast<unsigned long long>(memory.headroom() >> 20));
    return RewriteOutcome{RewriteStatus::Unfaithful};
}

}  // namespace

RewriteOutcome RewritePages(SourceDocument* source, const EditPlan& plan, FILE* destination)
{
    constexpr RewriteOutcome kUnfaithful{RewriteStatus::Unfaithful};
    // Without pages of its own to draw, a rewrite would replace the document
    // with an empty one.
    if (source == nullptr) {
        ReportRenderFailure("the document could not be opened");
        return kUnfaithful;
    }
    if (!source->damage.empty()) {
        ReportRenderFailure("the document is damaged (%s)", source->damage.c_str());
        return kUnfaithful;
    }
    const std::vector<int32_t> pages = EmittedPages(plan);
    if (!plan.raster && smallEnoughForTheJobsProcess(*source, pages))
        return redrawInProcess(*source, plan, pages, destination);
    if (!plan.raster) return redrawInWorker(*source, plan, pages, destination);

    // Painting is slow: every page it would stumble on is found before the
    // first is painted.
    PageGeometry geometry;
    for (int32_t n : pages)
        if (!checkPage(*source, plan, n, &geometry)) return kUnfaithful;
    std::unique_ptr<PageWriter> writer = MakeRasterWriter(*source, plan, destination);
    return writePages(*writer, *source, plan, pages);
}

}  // namespace pdftopjl
