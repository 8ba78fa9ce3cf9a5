#include "job/channel.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "job/tempfiles.hpp"
#include "job/text.hpp"

namespace pdftopjl::job {

namespace {

// Names tried for the job-copy file in one second: nd<stamp>.job, then
// nd<stamp>-2.job and on.
constexpr int kJobCopyNameTries = 100;
// 0676, not 0666: the vendor's tools expect these bits.
constexpr mode_t kJobCopyMode = 0676;

FILE* gJobCopy = nullptr;
MessageSink gMessageSink;
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
    (void)!write(STDERR_FILENO, kLine, sizeof kLine - 1);
    if (gJobCopyFd >= 0) {
        (void)!write(gJobCopyFd, kLine, sizeof kLine - 1);
        fchmod(gJobCopyFd, kJobCopyMode);
    }
    _exit(1);
}

}  // namespace

size_t Write(const void* data, size_t size, FILE* stream)
{
    if (gJobCopy != nullptr) fwrite(data, 1, size, gJobCopy);
    return fwrite(data, 1, size, stream);
}

void WriteText(std::string_view text, FILE* stream)
{
    if (!text.empty()) Write(text.data(), text.size(), stream);
}

void OpenJobCopy(const char* marker)
{
    if (marker == nullptr || access(marker, F_OK) != 0) return;
    const std::optional<std::string> dir = TempDirectorySetting();
    if (!dir) return;

    char stamp[32] = {0};
    const time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return;
    strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);

    // Always a new regular file: a name already taken (an earlier job in the
    // same second, or something planted there: a link, a FIFO, a file) is
    // left alone and a counter joins the name.  Nothing here may block or
    // fail the job, so the open never waits and a few tries are all.
    const std::string base = *dir + "/nd" + stamp;
    for (int attempt = 1; attempt <= kJobCopyNameTries; ++attempt) {
        const std::string path =
            base + (attempt == 1 ? std::string() : "-" + std::to_string(attempt)) + ".job";
        const int fd = open(path.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return;
        }
        gJobCopy = fdopen(fd, "wb");
        if (gJobCopy == nullptr)
            close(fd);
        else
            gJobCopyFd = fd;
        return;
    }
}

bool JobCopyOpen() { return gJobCopy != nullptr; }

void CloseJobCopy()
{
    if (gJobCopy == nullptr) return;
    fflush(gJobCopy);
    gJobCopyFd = -1;
    fchmod(fileno(gJobCopy), kJobCopyMode);
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

void Log(Severity severity, std::string_view text)
{
    static constexpr const char* kPrefix[] = {"ERROR: ", "WARNING: ", "INFO: ", "DEBUG: "};
    std::string line = kPrefix[static_cast<int>(severity)];
    line += text;
    line += '\n';
    writeLine(line);
}

void LogHistorical(std::string_view text)
{
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
}

void Logf(Severity severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string line = FormatText(format, args);
    va_end(args);
    Log(severity, line);
}

bool Cancelled() { return gCancelled != 0; }
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
