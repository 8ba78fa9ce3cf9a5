// SPDX-License-Identifier: Apache-2.0
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>

#include "runtime.hpp"

namespace pdftopjl::app {

namespace {

const char kName[] = "pdftopjl-app";

std::string spoolDirectory;

// The job states PAPPL writes in its state file.
constexpr int kPending = 3, kHeld = 4, kProcessing = 5, kCanceled = 7, kAborted = 8;

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) close(fd);
    }
};

bool syncFile(const std::string& path, int flags)
{
    Fd file{open(path.c_str(), flags | O_CLOEXEC)};
    return file.fd >= 0 && fsync(file.fd) == 0;
}

std::string directoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// PAPPL's own save, into a file beside the state that replaces it only once
// it is complete and on disk.
bool saveAtomically(pappl_system_t* system, void* data)
{
    const std::string& path = *static_cast<const std::string*>(data);
    const std::string temporary = path + ".new";
    {
        // Created private: the state names users and jobs.
        Fd create{open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600)};
        if (create.fd < 0) {
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot save the state in '%s': %s", temporary.c_str(),
                     std::strerror(errno));
            return false;
        }
    }
    const bool ok = papplSystemSaveState(system, temporary.c_str()) && syncFile(temporary, O_RDONLY) &&
                    rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot save the state in '%s'; the last saved state is kept.",
                 path.c_str());
        unlink(temporary.c_str());
        return false;
    }
    syncFile(directoryOf(path), O_RDONLY | O_DIRECTORY);
    return true;
}

// One "name=value" option list as PAPPL writes it: every value quoted, with
// backslash before backslash and quote.
std::string writeOptions(const char* directive, int count, cups_option_t* options)
{
    std::string line = directive;
    for (int i = 0; i < count; ++i) {
        line += ' ';
        line += options[i].name;
        line += "=\"";
        for (const char* c = options[i].value; *c != '\0'; ++c) {
            if (*c == '\\' || *c == '"') line += '\\';
            line += *c;
        }
        line += '"';
    }
    return line;
}

int intOption(const char* name, int count, cups_option_t* options, int otherwise)
{
    const char* value = cupsGetOption(name, count, options);
    return value != nullptr ? std::atoi(value) : otherwise;
}

// The state as it should be loaded after the server stopped without
// finishing its jobs: a job that was printing is aborted (the printer may
// have printed part of it; printing it again could print it twice, and a job
// that brings the server down would do so at every start), and jobs that
// were waiting are held, to be released in order (see RecoverJobs).
std::string recoveredState(const std::string& state, LoadedJobs* loaded)
{
    std::istringstream in(state);
    std::string out;
    int printerId = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("<Printer ")) {
            cups_option_t* options = nullptr;
            const std::string value = line.substr(9, line.size() > 10 ? line.size() - 10 : 0);
            const int count = cupsParseOptions(value.c_str(), 0, &options);
            printerId = intOption("id", count, options, 0);
            cupsFreeOptions(count, options);
        } else if (line.starts_with("Job ")) {
            cups_option_t* options = nullptr;
            int count = cupsParseOptions(line.c_str() + 4, 0, &options);
            const int state = intOption("state", count, options, kPending);
            int reasons = intOption("state_reasons", count, options, 0);
            int newState = state;
            // PAPPL 1.3 saves a job that never got a document without a
            // format, and then refuses the line and the rest of the
            // printer's jobs ("Bad Job definition").
            const bool documentless = cupsGetOption("format", count, options) == nullptr;
            if (documentless) {
                count = cupsAddOption("format", "application/octet-stream", count, &options);
                if (state < kCanceled) {
                    newState = kAborted;
                    reasons |= PAPPL_JREASON_ABORTED_BY_SYSTEM;
                }
            } else if (state == kProcessing) {
                newState = kAborted;
                reasons |= PAPPL_JREASON_ABORTED_BY_SYSTEM;
                loaded->interrupted[printerId].insert(intOption("id", count, options, 0));
            } else if (state == kPending) {
                newState = kHeld;
                reasons |= PAPPL_JREASON_JOB_QUEUED;
            }
            if (newState != state || documentless) {
                count = cupsAddIntegerOption("state", newState, count, &options);
                count = cupsAddIntegerOption("state_reasons", reasons, count, &options);
                line = writeOptions("Job", count, options);
            }
            cupsFreeOptions(count, options);
        }
        out += line;
        out += '\n';
    }
    return out;
}

bool writeWhole(const std::string& path, const std::string& content)
{
    Fd file{open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600)};
    if (file.fd < 0) return false;
    for (size_t done = 0; done < content.size();) {
        const ssize_t n = write(file.fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string SubCommand(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            // PAPPL's options that take the next argument as their value.
            for (char letter : arg.substr(1))
                if (std::strchr("dhjmnotuv", letter) != nullptr) ++i;
        } else {
            return std::string(arg);
        }
    }
    return "";
}

bool IsServerCommand(int argc, char* argv[]) { return SubCommand(argc, argv) == "server"; }

std::string DefaultStatePath()
{
    if (const char* snap = getenv("SNAP_COMMON")) return std::string(snap) + "/" + kName + ".state";
    if (getuid() == 0) return std::string("/var/lib/") + kName + ".state";
    if (const char* xdg = getenv("XDG_CONFIG_HOME")) return std::string(xdg) + "/" + kName + ".state";
    if (const char* home = getenv("HOME")) {
        const std::string config = std::string(home) + "/.config";
        mkdir(config.c_str(), 0700);
        return config + "/" + kName + ".state";
    }
    return std::string(papplGetTempDir()) + "/" + kName + std::to_string(getuid()) + ".state";
}

std::string DefaultLogFile()
{
    // systemd sets these for the services it runs; what goes to standard
    // error reaches the journal.
    if (getenv("INVOCATION_ID") != nullptr || getenv("JOURNAL_STREAM") != nullptr) return "-";
    if (getenv("SNAP_COMMON") == nullptr && getuid() == 0) return std::string("/var/log/") + kName + ".log";
    return directoryOf(DefaultStatePath()) + "/" + kName + ".log";
}

void SetSpoolDirectory(const std::string& spool) { spoolDirectory = spool; }

const std::string& SpoolDirectory() { return spoolDirectory; }

std::string JobWorkRoot() { return spoolDirectory + "/work"; }

void LoadAndKeepState(pappl_system_t* system, const std::string& statePath)
{
    static std::string path;
    path = statePath;
    // A save the last run did not finish.
    unlink((path + ".new").c_str());

    LoadedJobs loaded;
    std::ifstream in(path, std::ios::binary);
    if (in) {
        std::ostringstream text;
        text << in.rdbuf();
        const std::string recovered = recoveredState(text.str(), &loaded);
        const std::string copy = path + ".load";
        if (writeWhole(copy, recovered))
            papplSystemLoadState(system, copy.c_str());
        else
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "Cannot read the state from '%s': %s", path.c_str(),
                     std::strerror(errno));
        unlink(copy.c_str());
    }
    papplSystemSetSaveCallback(system, saveAtomically, &path);
    RecoverJobs(system, loaded);
}

}  // namespace pdftopjl::app
