// SPDX-License-Identifier: Apache-2.0
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

#include "runtime.hpp"

namespace pdftopjl::app {

namespace {

using JobKey = std::pair<int, int>;  // printer id, job id

// Jobs held at start-up, by printer id, oldest first.
std::mutex queueLock;
std::map<int, std::vector<int>> held;

std::vector<pappl_printer_t*> printersOf(pappl_system_t* system)
{
    std::vector<pappl_printer_t*> printers;
    papplSystemIteratePrinters(
        system, [](pappl_printer_t* printer, void* data) { static_cast<std::vector<pappl_printer_t*>*>(data)->push_back(printer); },
        &printers);
    return printers;
}

std::vector<pappl_job_t*> jobsOf(pappl_printer_t* printer, bool activeOnly)
{
    std::vector<pappl_job_t*> jobs;
    auto add = [](pappl_job_t* job, void* data) { static_cast<std::vector<pappl_job_t*>*>(data)->push_back(job); };
    if (activeOnly)
        papplPrinterIterateActiveJobs(printer, add, &jobs, 1, 0);
    else
        papplPrinterIterateAllJobs(printer, add, &jobs, 1, 0);
    return jobs;
}

// The printer and job a spool file belongs to, from PAPPL's names
// ("p00001j000000042-name.pdf", "...-name.ipp") and ours ("p00001j000000042.key").
bool spoolFileOwner(const char* name, JobKey* owner)
{
    unsigned printer = 0, job = 0;
    int length = 0;
    if (std::sscanf(name, "p%5uj%9u%n", &printer, &job, &length) != 2 || length != 16) return false;
    if (name[16] != '-' && name[16] != '.') return false;
    *owner = {static_cast<int>(printer), static_cast<int>(job)};
    return true;
}

std::string passcodePath(pappl_job_t* job)
{
    char name[64];
    std::snprintf(name, sizeof name, "/p%05dj%09d.key", papplPrinterGetID(papplJobGetPrinter(job)),
                  papplJobGetID(job));
    return SpoolDirectory() + name;
}

// How long a job made by Create-Job waits for its document.  PAPPL 1.3
// advertises a multiple-operation time-out but never applies it, so a client
// that gave up after Create-Job (CUPS's lp -h, which sends its document to a
// printer URI PAPPL does not serve) would leave a job held for ever.  Long
// enough for any upload in progress, which PAPPL does not show.
time_t documentWait()
{
    const char* value = getenv("PDFTOPJL_APP_DOCUMENT_WAIT");
    return value != nullptr && std::atoi(value) > 0 ? std::atoi(value) : 300;
}

void endJobsWithoutDocuments(pappl_system_t* system)
{
    const time_t now = time(nullptr), wait = documentWait();
    for (pappl_printer_t* printer : printersOf(system))
        for (pappl_job_t* job : jobsOf(printer, true))
            // PAPPL holds such a job and names no file for it.
            if (papplJobGetState(job) == IPP_JSTATE_HELD && papplJobGetFilename(job) == nullptr &&
                now - papplJobGetTimeCreated(job) > wait) {
                papplJobSetMessage(job, "No document arrived within %ld seconds of the job's creation.",
                                   static_cast<long>(wait));
                papplLogJob(job, PAPPL_LOGLEVEL_WARN, "No document arrived within %ld seconds; the job is ended.",
                            static_cast<long>(wait));
                papplJobCancel(job);
            }
}

// Releases the oldest held job of each printer that has nothing else to do.
bool releaseInOrder(pappl_system_t* system, void*)
{
    endJobsWithoutDocuments(system);
    std::lock_guard<std::mutex> hold(queueLock);
    for (pappl_printer_t* printer : printersOf(system)) {
        auto queue = held.find(papplPrinterGetID(printer));
        if (queue == held.end() || queue->second.empty()) continue;
        bool busy = false;
        for (pappl_job_t* job : jobsOf(printer, true)) {
            const ipp_jstate_t state = papplJobGetState(job);
            busy = busy || state == IPP_JSTATE_PENDING || state == IPP_JSTATE_PROCESSING;
        }
        if (busy) continue;
        while (!queue->second.empty()) {
            pappl_job_t* job = papplPrinterFindJob(printer, queue->second.front());
            queue->second.erase(queue->second.begin());
            if (job == nullptr || papplJobGetState(job) != IPP_JSTATE_HELD ||
                (papplJobGetReasons(job) & PAPPL_JREASON_JOB_QUEUED) == 0)
                continue;
            papplJobSetReasons(job, PAPPL_JREASON_NONE, PAPPL_JREASON_JOB_QUEUED);
            papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Released after the server restarted.");
            papplJobRelease(job, nullptr);
            break;
        }
    }
    // Always again: the timer also wakes PAPPL's main loop, which saves the
    // state only when it wakes.
    return true;
}

}  // namespace

void RecoverJobs(pappl_system_t* system, const LoadedJobs& loaded)
{
    std::set<JobKey> active;
    std::set<std::string> documents;  // of finished jobs PAPPL may still print again
    std::map<int, int> highest;       // job id by printer id
    for (pappl_printer_t* printer : printersOf(system)) {
        const int printerId = papplPrinterGetID(printer);
        std::vector<int> queue;
        for (pappl_job_t* job : jobsOf(printer, false)) {
            const int id = papplJobGetID(job);
            highest[printerId] = std::max(highest[printerId], id);
            const ipp_jstate_t state = papplJobGetState(job);
            if (state < IPP_JSTATE_STOPPED) active.insert({printerId, id});
            if (state == IPP_JSTATE_HELD && (papplJobGetReasons(job) & PAPPL_JREASON_JOB_QUEUED) != 0)
                queue.push_back(id);
            auto interrupted = loaded.interrupted.find(printerId);
            if (state == IPP_JSTATE_ABORTED && interrupted != loaded.interrupted.end() &&
                interrupted->second.count(id) != 0)
                papplJobSetMessage(job, "The server stopped while the job was printing; it was not printed again.");
            else if (state >= IPP_JSTATE_STOPPED && papplJobGetFilename(job) != nullptr)
                documents.insert(papplJobGetFilename(job));
        }
        std::sort(queue.begin(), queue.end());
        std::lock_guard<std::mutex> hold(queueLock);
        held[printerId] = std::move(queue);
    }

    // Files of jobs the state no longer has: their ids were given out after
    // the last save and are not given again.
    const std::string& spool = SpoolDirectory();
    if (DIR* dir = opendir(spool.c_str())) {
        while (dirent* entry = readdir(dir)) {
            JobKey owner;
            if (!spoolFileOwner(entry->d_name, &owner)) continue;
            highest[owner.first] = std::max(highest[owner.first], owner.second);
            if (active.count(owner) == 0 && documents.count(spool + "/" + entry->d_name) == 0)
                unlinkat(dirfd(dir), entry->d_name, 0);
        }
        closedir(dir);
    }
    for (pappl_printer_t* printer : printersOf(system)) {
        const int next = highest[papplPrinterGetID(printer)] + 1;
        if (papplPrinterGetNextJobID(printer) < next) papplPrinterSetNextJobID(printer, next);
    }

    std::error_code ignored;
    std::filesystem::remove_all(JobWorkRoot(), ignored);
    mkdir(JobWorkRoot().c_str(), 0700);

    papplSystemAddTimerCallback(system, time(nullptr), 1, releaseInOrder, nullptr);
}

void WritePasscodeFile(pappl_job_t* job, const std::string& value, const std::string& encryption)
{
    const std::string path = passcodePath(job);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
    std::string content = value + "\n" + encryption + "\n";
    bool ok = fd >= 0 && fchmod(fd, 0600) == 0 &&
              write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size()) && fsync(fd) == 0;
    explicit_bzero(content.data(), content.size());
    if (fd >= 0 && close(fd) != 0) ok = false;
    if (!ok)
        papplLogJob(job, PAPPL_LOGLEVEL_ERROR,
                    "Cannot keep the job's passcode in '%s' (%s): a restart before it prints loses it.",
                    path.c_str(), std::strerror(errno));
}

bool ReadPasscodeFile(pappl_job_t* job, std::string* value, std::string* encryption, bool* lost)
{
    *lost = false;
    const std::string path = passcodePath(job);
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        *lost = errno != ENOENT;
        return false;
    }
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    close(fd);
    std::string content = n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    explicit_bzero(buffer, sizeof buffer);
    const size_t first = content.find('\n');
    const size_t second = first == std::string::npos ? std::string::npos : content.find('\n', first + 1);
    const bool ok = second != std::string::npos && first != 0;
    if (ok) {
        *value = content.substr(0, first);
        *encryption = content.substr(first + 1, second - first - 1);
    }
    explicit_bzero(content.data(), content.size());
    *lost = !ok;
    return ok;
}

void RemovePasscodeFile(pappl_job_t* job) { unlink(passcodePath(job).c_str()); }

}  // namespace pdftopjl::app
