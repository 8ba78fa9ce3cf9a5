#include "filter_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "runtime.hpp"

extern char** environ;

namespace pdftopjl::app {

namespace {

std::string programPath;

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) close(fd);
    }
};

// A private directory for the job's PPD and the filter's temporary files.
struct WorkDir {
    std::string path;
    ~WorkDir()
    {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

bool writeFile(const std::string& path, const std::string& content)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(fd);
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

// The reason a failed job shows beside its message.
pappl_jreason_t reasonFor(std::string_view message)
{
    if (message.find("password") != std::string_view::npos) return PAPPL_JREASON_DOCUMENT_PASSWORD_ERROR;
    if (message.find("PDF") != std::string_view::npos || message.find("document") != std::string_view::npos)
        return PAPPL_JREASON_DOCUMENT_FORMAT_ERROR;
    return PAPPL_JREASON_ERRORS_DETECTED;
}

// What the filter's messages tell the job.
struct Messages {
    pappl_job_t* job;
    Accounting accounting;
    std::string partial;
    std::string lastError;
    int impressionsCompleted = 0;

    void line(std::string_view text)
    {
        // PAPPL's log formatting knows %s but not %.*s.
        auto log = [&](pappl_loglevel_t level, std::string_view message) {
            papplLogJob(job, level, "%s", std::string(message).c_str());
        };
        auto after = [&](std::string_view prefix) -> std::optional<std::string_view> {
            if (text.substr(0, prefix.size()) != prefix) return std::nullopt;
            return text.substr(prefix.size());
        };
        if (auto rest = after("ERROR: ")) {
            lastError = std::string(*rest);
            log(PAPPL_LOGLEVEL_ERROR, *rest);
        } else if (auto rest = after("WARNING: ")) {
            log(PAPPL_LOGLEVEL_WARN, *rest);
        } else if (auto rest = after("INFO: ")) {
            log(PAPPL_LOGLEVEL_INFO, *rest);
        } else if (auto rest = after("ATTR: job-impressions=")) {
            if (accounting != Accounting::None) papplJobSetImpressions(job, std::atoi(std::string(*rest).c_str()));
        } else if (auto rest = after("PAGE: ")) {
            // "PAGE: n copies"
            const size_t space = rest->find(' ');
            if (space != std::string_view::npos)
                impressionsCompleted += std::atoi(std::string(rest->substr(space + 1)).c_str());
        } else if (auto rest = after("DEBUG: ")) {
            log(PAPPL_LOGLEVEL_DEBUG, *rest);
        } else if (!text.empty()) {
            log(PAPPL_LOGLEVEL_DEBUG, text);
        }
    }

    void feed(const char* data, size_t size)
    {
        partial.append(data, size);
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            line(std::string_view(partial).substr(0, end));
            partial.erase(0, end + 1);
        }
    }
};

std::vector<std::string> filterEnvironment(const std::string& ppd, const std::string& tmpdir)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view var = *entry;
        if (var.starts_with("PPD=") || var.starts_with("TMPDIR=") ||
            var.starts_with("PDFTOPJL_JOB_PPD="))
            continue;
        env.emplace_back(var);
    }
    env.push_back("PPD=" + ppd);
    // The PPD is this job's alone, so its default passcode is the job's own.
    env.push_back("PDFTOPJL_JOB_PPD=" + ppd);
    env.push_back("TMPDIR=" + tmpdir);
    return env;
}

}  // namespace

void RememberProgramPath()
{
    std::error_code error;
    programPath = std::filesystem::read_symlink("/proc/self/exe", error).string();
}

void FailJob(pappl_job_t* job, const std::string& message, pappl_jreason_t reason)
{
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
    papplJobSetMessage(job, "%s", message.c_str());
    papplJobSetReasons(job, reason | PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
}

bool RunFilter(pappl_job_t* job, JobOutput& output, const std::string& pdfPath,
               const FilterSettings& settings, Accounting accounting)
{
    WorkDir work;
    std::string pattern = JobWorkRoot() + "/job-" + std::to_string(papplJobGetID(job)) + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        FailJob(job, std::string("Cannot create a work directory: ") + std::strerror(errno),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    work.path = pattern;
    const std::string ppd = work.path + "/printer.ppd";
    if (!writeFile(ppd, settings.ppd)) {
        FailJob(job, "Cannot write the printer's PPD to " + ppd, PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) {
        FailJob(job, "Cannot create a pipe for the filter", PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        FailJob(job, "Cannot create a pipe for the filter", PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    Fd errRead{errPipe[0]}, errWrite{errPipe[1]};

    const std::string jobId = std::to_string(papplJobGetID(job));
    const char* user = papplJobGetUsername(job);
    const char* title = papplJobGetName(job);
    std::vector<std::string> args = {"pdftopjl-app", kFilterMode, jobId, user ? user : "guest",
                                     title ? title : "", settings.copies, settings.options, pdfPath};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = filterEnvironment(ppd, work.path);
    std::vector<char*> envp;
    for (std::string& var : envStrings) envp.push_back(var.data());
    envp.push_back(nullptr);

    papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Filter: copies %s, options %s", settings.copies.c_str(),
                settings.options.c_str());
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.fd, 2);
    // The server's sockets and the device stay with the server.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    pid_t pid = -1;
    const int spawnError =
        posix_spawn(&pid, programPath.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        FailJob(job, "Cannot start the filter " + programPath + ": " + std::strerror(spawnError),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    close(outWrite.fd);
    outWrite.fd = -1;
    close(errWrite.fd);
    errWrite.fd = -1;

    Messages messages{job, accounting, {}, {}, 0};
    bool deviceFailed = false;
    bool terminated = false;
    char buffer[65536];
    while (outRead.fd >= 0 || errRead.fd >= 0) {
        if (!terminated && (papplJobIsCanceled(job) || deviceFailed)) {
            // The filter ends a job it has begun with the trailer.
            kill(pid, SIGTERM);
            terminated = true;
        }
        pollfd fds[2] = {{outRead.fd, POLLIN, 0}, {errRead.fd, POLLIN, 0}};
        if (poll(fds, 2, 250) < 0 && errno != EINTR) break;
        if (fds[0].revents != 0) {
            const ssize_t n = read(outRead.fd, buffer, sizeof buffer);
            if (n > 0 && !deviceFailed) {
                if (!output.Write(buffer, static_cast<size_t>(n))) deviceFailed = true;
            } else if (n == 0 || (n < 0 && errno != EINTR)) {
                close(outRead.fd);
                outRead.fd = -1;
            }
        }
        if (fds[1].revents != 0) {
            const ssize_t n = read(errRead.fd, buffer, sizeof buffer);
            if (n > 0) {
                messages.feed(buffer, static_cast<size_t>(n));
            } else if (n == 0 || (n < 0 && errno != EINTR)) {
                close(errRead.fd);
                errRead.fd = -1;
            }
        }
    }
    if (!messages.partial.empty()) messages.line(messages.partial);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (papplJobIsCanceled(job)) return true;  // PAPPL marks it cancelled
    if (deviceFailed) {
        FailJob(job, output.Error(), PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string message = messages.lastError;
        if (message.empty())
            message = WIFSIGNALED(status) ? "The filter was killed by signal " + std::to_string(WTERMSIG(status))
                                          : "The filter failed with status " + std::to_string(WEXITSTATUS(status));
        FailJob(job, message, reasonFor(message));
        return false;
    }
    int add = messages.impressionsCompleted;
    if (accounting == Accounting::AllButOne) --add;
    if (accounting != Accounting::None && add > 0) papplJobSetImpressionsCompleted(job, add);
    output.Finish();
    return true;
}

}  // namespace pdftopjl::app
