// SPDX-License-Identifier: Apache-2.0
#include "core/staging.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include <qpdf/QPDFExc.hh>

#include "core/copy.hpp"
#include "core/platform.hpp"
#include "core/prefilter.hpp"
#include "job/output.hpp"
#include "job/log.hpp"
#include "job/cancel.hpp"
#include "job/tempfiles.hpp"
#include "pages/document.hpp"
#include "pages/edit_decision.hpp"
#include "pages/page_writer.hpp"
#include "pages/rewrite.hpp"
#include "pages/worker.hpp"

namespace pdftopjl {

namespace {

using job::Log;
using job::Logf;
using job::Severity;

// Why staging failed, for the job's outcome: set where the failure is
// reported, read when StageDocument gives up.
Outcome gFailure = Outcome::Failed;

template <typename T = std::optional<StagedDocument>>
T failed(Outcome why, T nothing = {})
{
    gFailure = why;
    return nothing;
}

// Reports a failed copy; nothing is said for a cancel, the caller reports it.
void reportCopyFailure(const CopyOutcome& outcome, const char* what)
{
    if (outcome.status == CopyStatus::ReadError)
        Logf(Severity::Error, "Cannot read %s: %s; nothing was sent to the printer", what,
             std::strerror(outcome.error));
    else if (outcome.status == CopyStatus::WriteError)
        Logf(Severity::Error,
             "Cannot write the staging file: %s (check the space in %s); nothing was sent to "
             "the printer",
             std::strerror(outcome.error), job::TempDirectory().c_str());
}

// A stream writing into a temporary file through a descriptor of its own,
// so that closing the stream leaves the file's own descriptor open.
FILE* streamInto(const job::TempFile& temp)
{
    const int fd = fcntl(temp.fd.get(), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    FILE* stream = fdopen(fd, "wb");
    if (stream == nullptr) close(fd);
    return stream;
}

// What a document read from a pipe (or the pre-filter's output) may take
// in the temporary directory: a pipe that never ends would otherwise fill the
// disk.  PDFTOPJL_MAX_STAGING_MIB sets another limit.
constexpr int64_t kDefaultMaxStagingMiB = 4096;

// A size in MiB from the environment variable `name`: a positive whole
// number below `below`, else `fallback`.
int64_t mebibytesSetting(const char* name, int64_t fallback, int64_t below)
{
    if (const char* text = std::getenv(name)) {
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        if (end != text && *end == '\0' && value > 0 && value < below) return value;
    }
    return fallback;
}

int64_t maxStagingBytes()
{
    return mebibytesSetting("PDFTOPJL_MAX_STAGING_MIB", kDefaultMaxStagingMiB, 1ll << 40) << 20;
}

// Copies fd into a new staging file; the size is the bytes copied.
std::optional<StagedDocument> copyIntoStagingFile(int fd, bool viaChannel, const char* what)
{
    job::TempFile temp = job::CreateTempFile();
    if (!temp.fd) {
        Logf(Severity::Error,
             "Cannot create a temporary file in %s: %s; nothing was sent to the printer",
             job::TempDirectory().c_str(), std::strerror(errno));
        return std::nullopt;
    }
    FILE* stream = streamInto(temp);
    if (stream == nullptr) {
        Logf(Severity::Error, "Cannot open the staging file: %s; nothing was sent to the printer",
             std::strerror(errno));
        job::RemoveTempFile(temp.path);
        return std::nullopt;
    }
    // One byte more than the limit tells a document that exceeds it.
    const int64_t limit = maxStagingBytes();
    CopyOutcome outcome = CopyToStream(fd, stream, viaChannel, /*stopOnWriteError=*/true, limit + 1);
    if (fclose(stream) != 0 && outcome.status == CopyStatus::Ok) {
        outcome.status = CopyStatus::WriteError;
        outcome.error = errno;
    }
    if (outcome.status != CopyStatus::Ok) {
        reportCopyFailure(outcome, what);
        job::RemoveTempFile(temp.path);
        return std::nullopt;
    }
    if (outcome.bytes > limit) {
        std::string subject = what;
        subject[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(subject[0])));
        Logf(Severity::Error,
             "%s is larger than the limit of %lld MiB for a document that has to be copied "
             "(PDFTOPJL_MAX_STAGING_MIB); nothing was sent to the printer",
             subject.c_str(), static_cast<long long>(limit >> 20));
        job::RemoveTempFile(temp.path);
        return failed(Outcome::TooLarge);
    }
    return StagedDocument{temp.path, std::move(temp.fd), outcome.bytes};
}

// How long a cancelled pre-filter may take to end before it is killed.
constexpr int kPreFilterGraceMs = 1000;

// Waits for the pre-filter; a cancel request is passed on to it, and one it
// does not obey within the grace period ends it.
int waitForChild(pid_t child)
{
    int waitedMs = -1;  // since the cancel was passed on
    for (;;) {
        int status = 0;
        pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) return status;
        if (r < 0 && errno != EINTR) return 0;
        if (job::Cancelled() && waitedMs < 0) {
            kill(child, SIGTERM);
            waitedMs = 0;
        }
        if (waitedMs >= kPreFilterGraceMs) kill(child, SIGKILL);
        struct timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
        if (waitedMs >= 0) waitedMs += 5;
    }
}

// The errno of a failed exec, sent by the child over a close-on-exec pipe: an
// empty read means the program started.
int readExecError(int fd)
{
    int error = 0;
    ssize_t n;
    while ((n = read(fd, &error, sizeof error)) < 0 && errno == EINTR) {
    }
    return n == static_cast<ssize_t>(sizeof error) ? error : 0;
}

// Runs the pre-filter on the document; its output becomes the intake file.
std::optional<StagedDocument> stageThroughPreFilter(const JobTicket& ticket, const PrinterProfile& printer,
                                                    const JobDocument& document)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        Logf(Severity::Error, "Cannot create a pipe for the pre-filter: %s; nothing was sent to the printer",
             std::strerror(errno));
        return std::nullopt;
    }
    job::UniqueFd readEnd(fds[0]);
    job::UniqueFd writeEnd(fds[1]);

    const std::optional<std::string> prefilter = FindLayoutPreFilter(printer);
    if (!prefilter) return std::nullopt;

    int execFds[2];
    if (pipe2(execFds, O_CLOEXEC) != 0) {
        Logf(Severity::Error, "Cannot create a pipe for the pre-filter: %s; nothing was sent to the printer",
             std::strerror(errno));
        return std::nullopt;
    }
    job::UniqueFd execReadEnd(execFds[0]);
    job::UniqueFd execWriteEnd(execFds[1]);

    PreFilterMessages messages;
    // An inherited SIG_IGN would reap the child before its status is seen.
    signal(SIGCHLD, SIG_DFL);
    fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        Logf(Severity::Error, "Cannot start the pre-filter: %s; nothing was sent to the printer",
             std::strerror(errno));
        return std::nullopt;
    }
    if (child == 0) {
        // dup2 onto itself would keep close-on-exec.
        if (fds[1] == STDOUT_FILENO)
            fcntl(STDOUT_FILENO, F_SETFD, 0);
        else
            dup2(fds[1], STDOUT_FILENO);
        messages.redirectChild();
        if (!document.path && document.fd != STDIN_FILENO) dup2(document.fd, STDIN_FILENO);
        ExecuteFilter(*prefilter, ticket, printer, document);
        int error = errno;
        (void)!write(execFds[1], &error, sizeof error);
        _exit(127);
    }

    job::EndOnCancel(child);
    writeEnd.reset();
    execWriteEnd.reset();
    messages.start();
    std::optional<StagedDocument> intake =
        copyIntoStagingFile(readEnd.get(), /*viaChannel=*/false, "the pre-filter's output");
    readEnd.reset();

    if (!intake) kill(child, SIGTERM);  // nobody reads its output any more
    const int status = waitForChild(child);
    job::EndOnCancel(0);
    const int execError = readExecError(execReadEnd.get());
    // A cancelled job says only that it was cancelled.
    messages.finish(!job::Cancelled() && (!intake || execError != 0 || !WIFEXITED(status) ||
                                          WEXITSTATUS(status) != 0 || intake->size == 0));
    if (intake && job::Cancelled()) job::RemoveTempFile(intake->path);
    if (!intake || job::Cancelled()) return std::nullopt;

    const char* path = prefilter->c_str();
    constexpr const char* kNothingSent = "; nothing was sent to the printer";
    if (execError != 0) {
        Logf(Severity::Error, "Cannot run the pre-filter %s: %s%s", path, std::strerror(execError),
             kNothingSent);
    } else if (WIFSIGNALED(status)) {
        Logf(Severity::Error, "The pre-filter %s was killed by signal %d%s", path, WTERMSIG(status),
             kNothingSent);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        Logf(Severity::Error,
             "The pre-filter %s failed with exit status %d (its own messages above say why)%s",
             path, WEXITSTATUS(status), kNothingSent);
    } else if (intake->size == 0) {
        Logf(Severity::Error, "The pre-filter %s produced no output%s", path, kNothingSent);
    } else {
        return intake;
    }
    job::RemoveTempFile(intake->path);
    return std::nullopt;
}

// The document itself, when it is a regular file read from its start and no
// job copy is taken: sent straight from its own descriptor, sized from it,
// without a staging copy.  Nothing when it has to be staged.
std::optional<StagedDocument> inPlace(int fd)
{
    struct stat st;
    if (job::JobCopyOpen() || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        lseek(fd, 0, SEEK_CUR) != 0)
        return std::nullopt;
    job::UniqueFd own(fcntl(fd, F_DUPFD_CLOEXEC, 0));
    if (!own) return std::nullopt;
    return StagedDocument{std::string(), std::move(own), st.st_size};
}

// The job's document (standard input with six arguments, else the file named
// by argument 6): in place when it can be, else copied into a new temporary
// file through the output channel.
std::optional<StagedDocument> stageCopy(const JobDocument& document)
{
    int in = document.fd;
    job::UniqueFd input;
    if (document.path) {
        // Never a blocking open: a FIFO is read as a pipe is, in slices that
        // notice a cancel.
        in = open(document.path->c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (in < 0) {
            Logf(Severity::Error, "Cannot open the document %s: %s; nothing was sent to the printer",
                 document.path->c_str(), std::strerror(errno));
            return std::nullopt;
        }
        input.reset(in);
    }
    if (std::optional<StagedDocument> document = inPlace(in)) return document;
    return copyIntoStagingFile(in, /*viaChannel=*/true, "the document");
}

// Opens the intake file as a PDF.  What cannot print is refused here, before
// any output: the printer would print garbage, an error page or nothing, and
// the job would be reported as printed.  Nothing, after a message, then.
std::unique_ptr<SourceDocument> openIntake(const StagedDocument& intake, const MemoryCeiling& ceiling)
{
    if (intake.size == 0) {
        Log(Severity::Error, "The document is empty; nothing was sent to the printer");
        return failed<std::unique_ptr<SourceDocument>>(Outcome::NoPages);
    }
    auto document = std::make_unique<SourceDocument>();
    try {
        OpenSourceDocument(document.get(), intake.fd.get(),
                           intake.path.empty() ? "the document" : intake.path);
    } catch (const QPDFExc& e) {
        if (ceiling.reached()) throw std::bad_alloc();  // qpdf took it for damage
        const bool locked = e.getErrorCode() == qpdf_e_password;
        if (locked)
            Log(Severity::Error,
                "The document needs a password to be opened; print it from an application that "
                "can open it, or remove the password; nothing was sent to the printer");
        else
            Logf(Severity::Error,
                 "The document is not a readable PDF (%s); nothing was sent to the printer",
                 e.getMessageDetail().c_str());
        job::LogHistorical("CGPDFDocumentCreateWithURL error");
        return failed<std::unique_ptr<SourceDocument>>(locked ? Outcome::NeedsPassword : Outcome::NotPdf);
    } catch (const std::bad_alloc&) {
        throw;  // the caller names the limit
    } catch (const std::exception& e) {
        if (ceiling.reached()) throw std::bad_alloc();
        Logf(Severity::Error, "The document is not a readable PDF (%s); nothing was sent to the printer",
             e.what());
        job::LogHistorical("CGPDFDocumentCreateWithURL error");
        return failed<std::unique_ptr<SourceDocument>>(Outcome::NotPdf);
    }
    if (document->pages.empty()) {
        Log(Severity::Error, "The document has no pages; nothing was sent to the printer");
        return failed<std::unique_ptr<SourceDocument>>(Outcome::NoPages);
    }
    return document;
}

// Rewrites the document into a new staging file: `rewritten` holds it, or
// nothing (after a message) when the document cannot be rewritten faithfully
// and goes out unchanged.  False, after a message, when the file cannot be
// made or written: a full disk, a quota or an I/O error fails the job.
bool rewrite(SourceDocument* source, const EditPlan& plan, std::optional<StagedDocument>* rewritten)
{
    job::TempFile temp = job::CreateTempFile();
    if (!temp.fd) {
        Logf(Severity::Error,
             "Cannot create a temporary file in %s: %s; nothing was sent to the printer",
             job::TempDirectory().c_str(), std::strerror(errno));
        return false;
    }
    RewriteOutcome outcome{RewriteStatus::WriteFailed};
    if (FILE* file = streamInto(temp)) {
        outcome = RewritePages(source, plan, file);
        if (std::fclose(file) != 0 && outcome.status == RewriteStatus::Done)
            outcome = RewriteOutcome{RewriteStatus::WriteFailed, errno};
    } else {
        outcome.error = errno;
    }
    struct stat st;
    if (outcome.status == RewriteStatus::Done && fstat(temp.fd.get(), &st) != 0)
        outcome = RewriteOutcome{RewriteStatus::WriteFailed, errno};

    if (outcome.status == RewriteStatus::Done) {
        *rewritten = StagedDocument{temp.path, std::move(temp.fd), st.st_size,
                                    static_cast<int64_t>(EmittedPages(plan).size())};
        return true;
    }
    job::RemoveTempFile(temp.path);
    if (outcome.status != RewriteStatus::WriteFailed) return true;
    Logf(Severity::Error,
         "Cannot write the re-rendered document: %s (check the space in %s); nothing was sent to "
         "the printer",
         std::strerror(outcome.error), job::TempDirectory().c_str());
    return false;
}

// What opening the document may take beyond what the job holds: the
// document mapped, and a margin far beyond what qpdf needs for any real
// document's cross-reference table, page tree and object streams.
// PDFTOPJL_OPEN_MEMORY_MIB sets another margin.
constexpr int64_t kDefaultOpeningMarginMiB = 512;

uint64_t openingMemoryLimit(const StagedDocument& intake)
{
    const auto mib = static_cast<uint64_t>(
        mebibytesSetting("PDFTOPJL_OPEN_MEMORY_MIB", kDefaultOpeningMarginMiB, 1ll << 30));
    return static_cast<uint64_t>(std::max<int64_t>(intake.size, 0)) + (mib << 20);
}

// The document opened, checked and rewritten as the settings say.
std::optional<StagedDocument> stageOpened(const JobTicket& ticket, const PrinterProfile& printer,
                                          StagedDocument intakeDocument, bool preFiltered,
                                          const MemoryCeiling& ceiling)
{
    std::optional<StagedDocument> intake(std::move(intakeDocument));
    std::unique_ptr<SourceDocument> source = openIntake(*intake, ceiling);
    if (!source) {
        job::RemoveTempFile(intake->path);
        return std::nullopt;
    }
    const int32_t pageCount =
        static_cast<int32_t>(std::min<size_t>(source->pages.size(), INT32_MAX));
    intake->pages = pageCount;
    EditPlan plan;
    const bool holdsCopies = preFiltered && platform::kPreFilterMakesCopies;
    if (DecideEdits(ticket, printer, pageCount, holdsCopies, &plan) &&
        !job::Cancelled()) {
        std::optional<StagedDocument> rewritten;
        if (!rewrite(source.get(), plan, &rewritten)) {
            job::RemoveTempFile(intake->path);
            return std::nullopt;
        }
        if (rewritten) {
            job::RemoveTempFile(intake->path);
            intake = std::move(rewritten);
        }
    }
    source.reset();

    if (job::Cancelled()) {
        job::RemoveTempFile(intake->path);
        return std::nullopt;
    }
    return intake;
}

}  // namespace

bool NeedsLayoutPreFilter(const Layout& l)
{
    auto otherThan = [](const std::string& value, const char* neutral) {
        return !value.empty() && value != neutral;
    };
    // Values clients send for "as it is" ask for no layout.
    if (l.pageRanges || l.landscape == "true" || l.orientation == Orientation::Landscape ||
        l.fitToPage == "true" || l.fitPlot == "true" || l.scaling == "fit" || l.scaling == "fill" ||
        l.scaling == "none" || otherThan(l.scalingPercent, "100") ||
        otherThan(l.naturalScalingPercent, "100") || otherThan(l.position, "center") || l.pageLeft ||
        l.pageRight || l.pageTop || l.pageBottom || otherThan(l.numberUpLayout, "lrtb"))
        return true;
    if (otherThan(l.dialogScaling, "1")) return true;
    // number-up=1 is an explicit one page per sheet (cupsd sends it with
    // every job): no layout to apply.
    if (l.numberUp ? *l.numberUp != "1" : l.dialogPagesPerSheet > 1) return true;
    if (!l.pageBorder.empty()) return true;
    if (otherThan(l.outputOrder, "Normal")) return true;
    if (otherThan(l.dialogPageToPaperMapping, "1")) return true;
    if (!l.pageSet.empty()) return true;
    if (!l.mirror.empty()) return true;
    return false;
}

namespace {

std::optional<StagedDocument> stageDocument(const JobTicket& ticket, const PrinterProfile& printer,
                                            const JobDocument& document)
{
    const bool preFiltered = NeedsLayoutPreFilter(ticket.layout) && !printer.laidOutBefore;
    std::optional<StagedDocument> intake = preFiltered ? stageThroughPreFilter(ticket, printer, document)
                                                       : stageCopy(document);
    if (!intake) {
        if (preFiltered && gFailure == Outcome::Failed) gFailure = Outcome::LayoutFailed;
        return std::nullopt;
    }
    if (job::Cancelled()) {
        job::RemoveTempFile(intake->path);
        return std::nullopt;
    }

    // qpdf works in this process: within the document mapped and a margin,
    // which a cross-reference table claiming millions of objects or an
    // object stream padded to gigabytes would exceed.
    const uint64_t memoryLimit = openingMemoryLimit(*intake);
    const std::string intakePath = intake->path;
    MemoryCeiling ceiling(memoryLimit);
    try {
        return stageOpened(ticket, printer, std::move(*intake), preFiltered, ceiling);
    } catch (const std::bad_alloc&) {
        Logf(Severity::Error,
             "The document needs more than its limit of %llu MiB of memory to be opened; nothing "
             "was sent to the printer",
             static_cast<unsigned long long>(memoryLimit >> 20));
        job::LogHistorical("CGPDFDocumentCreateWithURL error");
        job::RemoveTempFile(intakePath);
        return failed(Outcome::TooLarge);
    }
}

}  // namespace

std::optional<StagedDocument> StageDocument(const JobTicket& ticket, const PrinterProfile& printer,
                                           const JobDocument& document, Outcome* failure)
{
    gFailure = Outcome::Failed;
    std::optional<StagedDocument> staged = stageDocument(ticket, printer, document);
    if (!staged) *failure = job::Cancelled() ? Outcome::Cancelled : gFailure;
    return staged;
}

bool SendStagedDocument(const StagedDocument& staged, FILE* out, const std::function<void()>& betweenBlocks)
{
    // From the start of the file as it was written, whatever its path names
    // by now, and exactly the size the header announced.
    if (lseek(staged.fd.get(), 0, SEEK_SET) != 0) {
        Logf(Severity::Error, "Cannot read the staged document: %s; the job is incomplete",
             std::strerror(errno));
        job::RemoveTempFile(staged.path);
        return false;
    }
    CopyOutcome outcome = CopyToStream(staged.fd.get(), out, /*viaChannel=*/true,
                                       /*stopOnWriteError=*/false, staged.size, betweenBlocks);
    job::RemoveTempFile(staged.path);
    if (outcome.status == CopyStatus::ReadError) {
        Logf(Severity::Error, "Cannot read the staged document: %s; the job is incomplete",
             std::strerror(outcome.error));
        return false;
    }
    if (outcome.status == CopyStatus::Ok && outcome.bytes < staged.size) {
        Log(Severity::Error,
            "The document became shorter while it was being sent; the job is incomplete");
        return false;
    }
    return outcome.status == CopyStatus::Ok;
}

}  // namespace pdftopjl
