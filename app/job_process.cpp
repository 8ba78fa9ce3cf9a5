// SPDX-License-Identifier: Apache-2.0
#include "job_process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/run_job.hpp"
#include "job/fd.hpp"
#include "runtime.hpp"
#include "ticket/ticket_record.hpp"

extern char** environ;

namespace pdftopjl::app {

namespace {

using job::UniqueFd;

std::string programPath;

// Where the job's process reads its job and writes its reports.
constexpr int kJobFd = 3;
constexpr int kReportFd = 4;

// The records between the two processes.
constexpr uint32_t kRecordJob = 'J';      // document path, ticket, profile
constexpr uint32_t kRecordLog = 'L';      // level, line
constexpr uint32_t kRecordImpressions = 'I';  // impressions, before the job goes out
constexpr uint32_t kRecordPages = 'P';    // pages, copies, once it has
constexpr uint32_t kRecordOutcome = 'O';  // the core's outcome

// A private directory for the core's temporary files, removed with the job.
struct WorkDir {
    std::string path;
    ~WorkDir()
    {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
};

// Wipes what may hold a passcode.
struct Wiped {
    std::string& bytes;
    ~Wiped() { explicit_bzero(bytes.data(), bytes.size()); }
};

pappl_loglevel_t papplLevel(LogLevel level)
{
    switch (level) {
    case LogLevel::Error: return PAPPL_LOGLEVEL_ERROR;
    case LogLevel::Warning: return PAPPL_LOGLEVEL_WARN;
    case LogLevel::Info: return PAPPL_LOGLEVEL_INFO;
    default: return PAPPL_LOGLEVEL_DEBUG;
    }
}

// The reason a failed job shows beside its message.
pappl_jreason_t reasonFor(Outcome outcome)
{
    switch (outcome) {
    case Outcome::NotPdf:
    case Outcome::NoPages: return PAPPL_JREASON_DOCUMENT_FORMAT_ERROR;
    case Outcome::NeedsPassword: return PAPPL_JREASON_DOCUMENT_PASSWORD_ERROR;
    case Outcome::TooLarge: return PAPPL_JREASON_DOCUMENT_UNPRINTABLE_ERROR;
    default: return PAPPL_JREASON_ERRORS_DETECTED;
    }
}

// What the job's process reported.
struct Reports {
    pappl_job_t* job;
    Accounting accounting;
    std::optional<Outcome> outcome;
    std::string lastError;
    int64_t impressions = 0;
    bool malformed = false;

    void take(const RecordStream::Record& record)
    {
        RecordParser in(record.payload);
        uint8_t byte = 0;
        if (record.type == kRecordLog) {
            std::string line;
            if (in.u8(&byte) && in.text(&line) && in.complete()) {
                const auto level = static_cast<LogLevel>(byte);
                if (level == LogLevel::Error) lastError = line;
                papplLogJob(job, papplLevel(level), "%s", line.c_str());
                return;
            }
        } else if (record.type == kRecordImpressions) {
            int64_t count = 0;
            if (in.i64(&count) && in.complete()) {
                if (accounting != Accounting::None)
                    papplJobSetImpressions(job, static_cast<int>(std::clamp<int64_t>(count, 0, INT32_MAX)));
                return;
            }
        } else if (record.type == kRecordPages) {
            int64_t pages = 0;
            int32_t copies = 0;
            if (in.i64(&pages) && in.i32(&copies) && in.complete()) {
                impressions = pages * copies;
                return;
            }
        } else if (record.type == kRecordOutcome) {
            if (in.u8(&byte) && in.complete() && byte <= static_cast<uint8_t>(Outcome::Failed)) {
                outcome = static_cast<Outcome>(byte);
                return;
            }
        }
        malformed = true;
    }
};

// Lines the job's process wrote outside its reports (a library's own
// complaints): kept in the job's log as they are.
struct Stray {
    pappl_job_t* job;
    std::string partial;
    void feed(const char* data, size_t size)
    {
        partial.append(data, size);
        size_t end;
        while ((end = partial.find('\n')) != std::string::npos) {
            if (end > 0) papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", partial.substr(0, end).c_str());
            partial.erase(0, end + 1);
        }
    }
};

std::vector<std::string> childEnvironment(const std::string& tmpdir, const std::string& ppd)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view var = *entry;
        if (!var.starts_with("TMPDIR=") && !var.starts_with("PPD=")) env.emplace_back(var);
    }
    env.push_back("TMPDIR=" + tmpdir);
    env.push_back("PPD=" + ppd);
    return env;
}

bool writeFile(const std::string& path, std::string_view content)
{
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    return fd && job::WriteAll(fd.get(), content.data(), content.size()) && close(fd.release()) == 0;
}

// The job's record: where the document is, the ticket and the profile.
std::string jobRecord(const std::string& pdfPath, const JobTicket& ticket, const PrinterProfile& printer)
{
    RecordBuilder out;
    out.text(pdfPath);
    AppendTicket(out, ticket);
    AppendProfile(out, printer);
    return std::move(out.bytes());
}

bool sendAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
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

int RunJobProcess()
{
    // The job, read whole before anything is done.
    RecordStream stream;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(kJobFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        stream.feed(buffer, static_cast<size_t>(n));
    }
    close(kJobFd);
    std::optional<RecordStream::Record> record = stream.next();
    if (!record || record->type != kRecordJob) return 1;
    Wiped wiped{record->payload};
    RecordParser in(record->payload);
    std::string path;
    JobTicket ticket;
    PrinterProfile printer;
    if (!in.text(&path) || !ParseTicket(in, &ticket) || !ParseProfile(in, &printer) || !in.complete()) return 1;

    auto report = [](uint32_t type, const RecordBuilder& out) {
        WriteRecord(kReportFd, type, out.view());
    };
    JobHooks hooks;
    hooks.log = [&](LogLevel level, std::string_view line) {
        RecordBuilder out;
        out.u8(static_cast<uint8_t>(level));
        out.text(line);
        report(kRecordLog, out);
    };
    hooks.pagesSent = [&](int64_t pages, int32_t copies) {
        RecordBuilder out;
        out.i64(pages);
        out.i32(copies);
        report(kRecordPages, out);
    };
    hooks.impressionsKnown = [&](int64_t impressions) {
        RecordBuilder out;
        out.i64(impressions);
        report(kRecordImpressions, out);
    };
    JobDocument document;
    document.path = path;
    const Outcome outcome = RunJob(ticket, printer, document, stdout, hooks);
    explicit_bzero(ticket.held.passcode.data(), ticket.held.passcode.size());
    RecordBuilder out;
    out.u8(static_cast<uint8_t>(outcome));
    report(kRecordOutcome, out);
    return ExitStatus(outcome);
}

bool RunCore(pappl_job_t* job, JobOutput& output, const std::string& pdfPath, const JobTicket& ticket,
             const PrinterProfile& printer, std::string_view layoutPpd, Accounting accounting)
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
    if (!writeFile(ppd, layoutPpd)) {
        FailJob(job, "Cannot write the printer's PPD to " + ppd + ": " + std::strerror(errno),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }

    // The job goes over a socket, whose send cannot raise SIGPIPE in the
    // server when the process has died.
    UniqueFd jobOurs, jobTheirs, outRead, outWrite, errRead, errWrite, reportRead, reportWrite;
    auto channel = [](bool socket, UniqueFd& ours, UniqueFd& theirs) {
        int fds[2];
        const bool made = socket ? socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0
                                 : pipe2(fds, O_CLOEXEC) == 0;
        if (made) {
            ours.reset(fds[0]);
            theirs.reset(fds[1]);
        }
        return made;
    };
    const bool made = channel(true, jobOurs, jobTheirs) && channel(false, outRead, outWrite) &&
                      channel(false, errRead, errWrite) && channel(false, reportRead, reportWrite);
    if (!made) {
        FailJob(job, std::string("Cannot create a pipe for the job: ") + std::strerror(errno),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }

    std::vector<std::string> args = {"pdftopjl-app", kRunJobMode};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = childEnvironment(work.path, ppd);
    std::vector<char*> envp;
    for (std::string& var : envStrings) envp.push_back(var.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), 2);
    posix_spawn_file_actions_adddup2(&actions, jobTheirs.get(), kJobFd);
    posix_spawn_file_actions_adddup2(&actions, reportWrite.get(), kReportFd);
    // The server's sockets and the device stay with the server.
    posix_spawn_file_actions_addclosefrom_np(&actions, kReportFd + 1);
    pid_t pid = -1;
    const int spawnError = posix_spawn(&pid, programPath.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawnError != 0) {
        FailJob(job, "Cannot start the job's process " + programPath + ": " + std::strerror(spawnError),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    outWrite.reset();
    errWrite.reset();
    jobTheirs.reset();
    reportWrite.reset();

    {
        // The process reads its job to the end before it starts.
        std::string request = jobRecord(pdfPath, ticket, printer);
        Wiped wiped{request};
        std::string whole = FramedRecord(kRecordJob, request);
        Wiped wipedWhole{whole};
        const bool sent = request.size() <= kMaxRecordPayload && sendAll(jobOurs.get(), whole);
        jobOurs.reset();
        if (!sent) papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot hand the job to its process: %s", std::strerror(errno));
    }

    Reports reports{job, accounting, {}, {}, 0, false};
    RecordStream records;
    Stray stray{job, {}};
    bool deviceFailed = false;
    bool terminated = false;
    char buffer[65536];
    while (outRead || errRead || reportRead) {
        if (!terminated && (papplJobIsCanceled(job) || deviceFailed || reports.malformed)) {
            // The core ends a job it has begun with the trailer.
            kill(pid, SIGTERM);
            terminated = true;
        }
        pollfd fds[3] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}, {reportRead.get(), POLLIN, 0}};
        if (poll(fds, 3, 250) < 0 && errno != EINTR) break;
        UniqueFd* sources[3] = {&outRead, &errRead, &reportRead};
        for (int i = 0; i < 3; ++i) {
            if (fds[i].revents == 0) continue;
            const ssize_t n = read(sources[i]->get(), buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR)) {
                sources[i]->reset();
                continue;
            }
            if (n < 0) continue;
            if (i == 0 && !deviceFailed) {
                if (!output.Write(buffer, static_cast<size_t>(n))) deviceFailed = true;
            } else if (i == 1) {
                stray.feed(buffer, static_cast<size_t>(n));
            } else if (i == 2) {
                records.feed(buffer, static_cast<size_t>(n));
                while (std::optional<RecordStream::Record> record = records.next()) reports.take(*record);
                reports.malformed |= records.broken();
            }
        }
    }
    stray.feed("\n", 1);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (papplJobIsCanceled(job)) return true;  // PAPPL marks it cancelled
    if (deviceFailed) {
        FailJob(job, output.Error(), PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    if (reports.outcome != Outcome::Printed) {
        std::string message = reports.lastError;
        if (message.empty())
            message = WIFSIGNALED(status) ? "The job's process was killed by signal " + std::to_string(WTERMSIG(status))
                                          : "The job's process failed with status " + std::to_string(WEXITSTATUS(status));
        FailJob(job, message, reasonFor(reports.outcome.value_or(Outcome::Failed)));
        return false;
    }
    int64_t add = reports.impressions;
    if (accounting == Accounting::AllButOne) --add;
    if (accounting != Accounting::None && add > 0)
        papplJobSetImpressionsCompleted(job, static_cast<int>(std::min<int64_t>(add, INT32_MAX)));
    output.Finish();
    return true;
}

}  // namespace pdftopjl::app
