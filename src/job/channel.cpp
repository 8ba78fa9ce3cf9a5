#include "job/channel.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>
#include <utility>

#include "job/jobcopy.hpp"
#include "job/tempfiles.hpp"
#include "job/text.hpp"

namespace pdftopjl::job {

namespace {

FILE* gJobCopy = nullptr;
bool gKeepSecrets = false;
MessageSink gMessageSink;
LogSink gLogSink;
std::function<bool()> gCancelCheck;
volatile sig_atomic_t gCancelled = 0;
volatile sig_atomic_t gOutputClosed = 0;
// Nothing has gone out yet: a cancel may end the process where it stands.
volatile sig_atomic_t gBeforeOutput = 0;
volatile sig_atomic_t gJobCopyFd = -1;
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

namespace {

// In a worker, to the job's process; else through the channel.
void writeLine(const std::string& line)
{
    if (gMessageSink)
        gMessageSink(line);
    else
        WriteText(line, stderr);
}

}  // namespace

void SetLogSink(LogSink sink) { gLogSink = std::move(sink); }

void SetCancelCheck(std::function<bool()> check) { gCancelCheck = std::move(check); }

void WriteMessageLine(std::string_view line)
{
    if (!gLogSink || gMessageSink) {
        WriteText(line, stderr);
        return;
    }
    static constexpr std::pair<std::string_view, Severity> kPrefixes[] = {
        {"ERROR: ", Severity::Error}, {"WARNING: ", Severity::Warning},
        {"INFO: ", Severity::Info},   {"DEBUG: ", Severity::Debug}};
    while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    for (const auto& [prefix, severity] : kPrefixes)
        if (line.starts_with(prefix)) {
            gLogSink(severity, line.substr(prefix.size()));
            return;
        }
    gLogSink(Severity::Debug, line);
}

void Log(Severity severity, std::string_view text)
{
    if (gLogSink && !gMessageSink) {
        gLogSink(severity, text);
        return;
    }
    static constexpr const char* kPrefix[] = {"ERROR: ", "WARNING: ", "INFO: ", "DEBUG: "};
    std::string line = kPrefix[static_cast<int>(severity)];
    line += text;
    line += '\n';
    writeLine(line);
}

void LogHistorical(std::string_view text)
{
    if (gLogSink && !gMessageSink) {
        gLogSink(Severity::Debug, text);
        return;
    }
    std::string line(text);
    line += '\n';
    writeLine(line);
}

void EnterWorker(MessageSink sink)
{
    // Not closed: the stream and its descriptor are the job process's.
    gJobCopy = nullptr;
    gJobCopyFd = -1;
    gBeforeOutput = 0;
    gMessageSink = std::move(sink);
    // The caller's hooks belong to the job's process: a worker learns of a
    // cancel from it, and its lines reach the sink through it.
    gLogSink = nullptr;
    gCancelCheck = nullptr;
}

void Logf(Severity severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string line = FormatText(format, args);
    va_end(args);
    Log(severity, line);
}

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
