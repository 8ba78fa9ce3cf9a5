#include "driver/staging.hpp"

#include <cups/cups.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "driver/copy.hpp"
#include "driver/output.hpp"
#include "driver/platform.hpp"
#include "driver/prefilter.hpp"
#include "driver/tempfiles.hpp"
#include "pages/render.hpp"

namespace {

void message(const char* format, ...)
{
    char line[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    Utlfputs(line, stderr);
}

const char* tempDirectory()
{
    const char* dir = std::getenv("TMPDIR");
    return (dir != nullptr && *dir != '\0') ? dir : "/tmp";
}

// Reports a failed copy; nothing is said for a cancel, the caller reports it.
void reportCopyFailure(const CopyOutcome& outcome, const char* what)
{
    if (outcome.status == CopyStatus::ReadError)
        message("Cannot read %s: %s\n", what, std::strerror(outcome.error));
    else if (outcome.status == CopyStatus::WriteError)
        message("Cannot write the staging file: %s\n", std::strerror(outcome.error));
}

// Creates an empty temporary file, registered for removal.  -1 after a message.
int makeTempFile(char* path)
{
    std::memset(path, 0, kStagedPathSize);
    int fd = cupsTempFd(path, kStagedPathSize);
    if (fd < 0) {
        message("Cannot create a temporary file in %s: %s\n", tempDirectory(),
                std::strerror(errno));
        std::memset(path, 0, kStagedPathSize);
        return -1;
    }
    RegisterTempFile(path);
    return fd;
}

void discard(char* path)
{
    RemoveTempFile(path);
    std::memset(path, 0, kStagedPathSize);
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0) close(fd);
    }
};

// Waits for the pre-filter; a cancel request is passed on to it.
int waitForChild(pid_t child)
{
    bool passedOn = false;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(child, &status, WNOHANG);
        if (r == child) return status;
        if (r < 0 && errno != EINTR) return 0;
        if (CancelJob && !passedOn) {
            kill(child, SIGTERM);
            passedOn = true;
        }
        struct timespec pause = {0, 5 * 1000 * 1000};
        nanosleep(&pause, nullptr);
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
int stageThroughPreFilter(int argc, char* argv[], char* intakePath)
{
    char prefilterPath[kPrefilterPathSize] = {0};
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        message("Cannot create a pipe for the pre-filter: %s\n", std::strerror(errno));
        return 0;
    }
    FdCloser readEnd{fds[0]};
    FdCloser writeEnd{fds[1]};

    if (PrepFormat(prefilterPath, sizeof prefilterPath) == -1) return 0;

    int execFds[2];
    if (pipe2(execFds, O_CLOEXEC) != 0) {
        message("Cannot create a pipe for the pre-filter: %s\n", std::strerror(errno));
        return 0;
    }
    FdCloser execReadEnd{execFds[0]};
    FdCloser execWriteEnd{execFds[1]};

    // An inherited SIG_IGN would reap the child before its status is seen.
    signal(SIGCHLD, SIG_DFL);
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) {
        message("Cannot start the pre-filter: %s\n", std::strerror(errno));
        return 0;
    }
    if (child == 0) {
        // dup2 onto itself would keep close-on-exec.
        if (fds[1] == STDOUT_FILENO)
            fcntl(STDOUT_FILENO, F_SETFD, 0);
        else
            dup2(fds[1], STDOUT_FILENO);
        ExecuteFilter(prefilterPath, argc, argv);
        int error = errno;
        (void)!write(execFds[1], &error, sizeof error);
        _exit(127);
    }

    close(writeEnd.fd);
    writeEnd.fd = -1;
    close(execWriteEnd.fd);
    execWriteEnd.fd = -1;
    int64_t bytes = SaveToTempFile(readEnd.fd, intakePath);
    close(readEnd.fd);
    readEnd.fd = -1;

    if (bytes < 0) kill(child, SIGTERM);  // nobody reads its output any more
    const int status = waitForChild(child);
    const int execError = readExecError(execReadEnd.fd);
    if (bytes < 0) return 0;

    if (execError != 0) {
        message("Cannot run the pre-filter %s: %s\n", prefilterPath, std::strerror(execError));
    } else if (WIFSIGNALED(status)) {
        message("The pre-filter %s was killed by signal %d\n", prefilterPath, WTERMSIG(status));
    } else if (WIFEXITED(status) && WEXITSTATUS(status) != 0) {
        message("The pre-filter %s failed with exit status %d\n", prefilterPath,
                WEXITSTATUS(status));
    } else if (bytes == 0) {
        message("The pre-filter %s produced no output\n", prefilterPath);
    } else {
        return 1;
    }
    discard(intakePath);
    return 0;
}

}  // namespace

int checkIfNeddApplePDF(const PrintOptions* options)
{
    const FeaturesOption& f = options->features;
    if (!f.scaling.empty() && !(f.scaling == "1")) return 1;
    // "N1" is an explicit one page per sheet (cupsd sends number-up=1 with
    // every job): no layout to apply.
    if (!f.numberUp.empty() && !(f.numberUp == "1") && !(f.numberUp == "N1")) return 1;
    if (!f.pageBorder.empty()) return 1;
    if (!f.outputOrder.empty() && !(f.outputOrder == "Normal")) return 1;
    if (!f.pageToPaperMapping.empty() && !(f.pageToPaperMapping == "1")) return 1;
    if (!f.pageSet.empty()) return 1;
    if (!f.mirror.empty()) return 1;
    return 0;
}

int64_t SaveToTempFile(int fd, char* intakePath)
{
    int out = makeTempFile(intakePath);
    if (out < 0) return -1;
    FILE* file = fdopen(out, "wb");
    if (file == nullptr) {
        message("Cannot open the staging file: %s\n", std::strerror(errno));
        close(out);
        discard(intakePath);
        return -1;
    }
    CopyOutcome outcome = CopyToStream(fd, file, /*viaChannel=*/false, /*stopOnWriteError=*/true);
    if (fclose(file) != 0 && outcome.status == CopyStatus::Ok) {
        outcome.status = CopyStatus::WriteError;
        outcome.error = errno;
    }
    if (outcome.status != CopyStatus::Ok) {
        reportCopyFailure(outcome, "the pre-filter's output");
        discard(intakePath);
        return -1;
    }
    return outcome.bytes;
}

int SaveToTempFileFromCups(int argc, char* argv[], char* intakePath)
{
    int in = STDIN_FILENO;
    FdCloser input{-1};
    if (argc != 6) {
        in = open(argv[6], O_RDONLY | O_CLOEXEC);
        if (in < 0) {
            message("Cannot open the document %s: %s\n", argv[6], std::strerror(errno));
            return 0;
        }
        input.fd = in;
    }

    int out = makeTempFile(intakePath);
    if (out < 0) return 0;
    FILE* file = fdopen(out, "wb");
    if (file == nullptr) {
        message("Cannot open the staging file: %s\n", std::strerror(errno));
        close(out);
        discard(intakePath);
        return 0;
    }
    CopyOutcome outcome = CopyToStream(in, file, /*viaChannel=*/true, /*stopOnWriteError=*/true);
    if (fclose(file) != 0 && outcome.status == CopyStatus::Ok) {
        outcome.status = CopyStatus::WriteError;
        outcome.error = errno;
    }
    if (outcome.status != CopyStatus::Ok) {
        reportCopyFailure(outcome, "the document");
        discard(intakePath);
        return 0;
    }
    return 1;
}

int ProcessData(int argc, char* argv[], char* stagedPath, PdfDocInfo* info, int64_t* fileSize,
                PrintOptions* options)
{
    char intakePath[kStagedPathSize] = {0};

    const int preFiltered = checkIfNeddApplePDF(options);
    const int staged = preFiltered ? stageThroughPreFilter(argc, argv, intakePath)
                                   : SaveToTempFileFromCups(argc, argv, intakePath);
    if (!staged || CancelJob) {
        discard(intakePath);
        return 0;
    }

    pdfDocInfo_init(intakePath, info);
    const int holdsCopies = preFiltered && platform::kPreFilterMakesCopies;
    if (CheckIfNeedEdit(argv, info, holdsCopies) == 1 && !CancelJob &&
        PreProcess(info, stagedPath) == 1) {
        discard(intakePath);
    } else {
        std::memcpy(stagedPath, intakePath, kStagedPathSize);
    }
    info->document.reset();

    if (CancelJob) {
        discard(stagedPath);
        return 0;
    }

    struct stat st;
    if (stat(stagedPath, &st) != 0) {
        message("Cannot examine the staged document %s: %s\n", stagedPath, std::strerror(errno));
        discard(stagedPath);
        return 0;
    }
    *fileSize = static_cast<int64_t>(st.st_size);
    return 1;
}

int WritePDFData(const char* stagedPath)
{
    int in = open(stagedPath, O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        message("Cannot open the staged document %s: %s\n", stagedPath, std::strerror(errno));
        RemoveTempFile(stagedPath);
        return 0;
    }
    CopyOutcome outcome =
        CopyToStream(in, stdout, /*viaChannel=*/true, /*stopOnWriteError=*/false);
    close(in);
    RemoveTempFile(stagedPath);
    if (outcome.status == CopyStatus::ReadError) {
        message("Cannot read the staged document: %s\n", std::strerror(outcome.error));
        return 0;
    }
    return outcome.status == CopyStatus::Ok ? 1 : 0;
}
