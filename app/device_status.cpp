// SPDX-License-Identifier: Apache-2.0
#include "device_status.hpp"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace pdftopjl::app {

namespace {

// PAPPL 1.3 retries a device it cannot open every 5 seconds, with the
// printer "stopped" and the reason "paused" and nothing to say why.  The
// application opens the device itself, on a thread of its own (a host that
// does not answer can take a while), and says why.
struct Probe {
    std::string uri;
    bool running = false;
    std::string failure;  // empty when it opened
};

std::mutex probesLock;
std::map<int, Probe> probes;  // by printer id
std::map<int, std::string> shown;  // the link label on each printer's page

std::string why(const std::string& uri, const std::string& message)
{
    // PAPPL: "Unable to connect to 'host:9100': Connection refused".
    std::string reason = message;
    if (const size_t colon = message.rfind("': "); colon != std::string::npos) reason = message.substr(colon + 3);
    const bool network = uri.starts_with("socket:") || uri.starts_with("ipp:") || uri.starts_with("ipps:");
    return std::string(network ? "Cannot connect to " : "Cannot open ") + uri + ": " +
           (reason.empty() ? "no answer" : reason);
}

}  // namespace

std::string ConnectProblem(const std::string& uri, int timeoutMs)
{
    char scheme[32], userpass[32], host[256], resource[1024];
    int port = 0;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, userpass, sizeof userpass, host,
                        sizeof host, &port, resource, sizeof resource) < HTTP_URI_STATUS_OK)
        return why(uri, "not a valid address");
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int status = getaddrinfo(host, std::to_string(port > 0 ? port : 9100).c_str(), &hints, &found); status != 0)
        return why(uri, gai_strerror(status));
    std::string error = "no address";
    for (addrinfo* at = found; at != nullptr; at = at->ai_next) {
        const int fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) continue;
        int failure = 0;
        if (connect(fd, at->ai_addr, at->ai_addrlen) != 0) {
            failure = errno;
            if (failure == EINPROGRESS) {
                pollfd wait{fd, POLLOUT, 0};
                socklen_t size = sizeof failure;
                failure = poll(&wait, 1, timeoutMs) == 1 ? (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size), failure)
                                                     : ETIMEDOUT;
            }
        }
        close(fd);
        if (failure == 0) {
            error.clear();
            break;
        }
        error = std::strerror(failure);
    }
    freeaddrinfo(found);
    return error.empty() ? "" : why(uri, error);
}

namespace {

// Why the device cannot be opened; empty when it can.
std::string tryOpen(const std::string& uri)
{
    if (uri.starts_with("file:")) {
        // Opening would create a file: only whether it could.
        char scheme[32], userpass[32], host[256], path[1024];
        int port = 0;
        httpSeparateURI(HTTP_URI_CODING_ALL, uri.c_str(), scheme, sizeof scheme, userpass, sizeof userpass, host,
                        sizeof host, &port, path, sizeof path);
        if (char* query = std::strchr(path, '?')) *query = '\0';
        struct stat info;
        std::string folder = path;
        if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) folder = folder.substr(0, folder.rfind('/') + 1);
        return access(folder.c_str(), W_OK) == 0 ? "" : why(uri, std::strerror(errno));
    }
    if (uri.starts_with("socket:")) return ConnectProblem(uri, 10000);
    std::string message;
    pappl_device_t* device = papplDeviceOpen(
        uri.c_str(), "status",
        [](const char* text, void* data) { *static_cast<std::string*>(data) = text ? text : ""; }, &message);
    if (device == nullptr) return why(uri, message);
    papplDeviceClose(device);
    return "";
}

void probe(int id, std::string uri)
{
    std::string failure = tryOpen(uri);
    std::lock_guard<std::mutex> hold(probesLock);
    Probe& p = probes[id];
    p.running = false;
    p.failure = std::move(failure);
}

// The job PAPPL is trying to start while the printer is stopped.
pappl_job_t* waitingForDevice(pappl_printer_t* printer)
{
    if (papplPrinterGetState(printer) != IPP_PSTATE_STOPPED) return nullptr;
    pappl_job_t* found = nullptr;
    papplPrinterIterateActiveJobs(
        printer,
        [](pappl_job_t* job, void* data) {
            if (papplJobGetState(job) == IPP_JSTATE_PROCESSING && !papplJobIsCanceled(job))
                *static_cast<pappl_job_t**>(data) = job;
        },
        &found, 1, 0);
    return found;
}

void check(pappl_printer_t* printer, void*)
{
    const int id = papplPrinterGetID(printer);
    pappl_job_t* job = waitingForDevice(printer);
    std::string failure;
    {
        std::lock_guard<std::mutex> hold(probesLock);
        if (job == nullptr) {
            probes.erase(id);
        } else {
            Probe& p = probes[id];
            const char* uri = papplPrinterGetDeviceURI(printer);
            if (p.uri != uri) p = Probe{uri, false, ""};
            failure = p.failure;
            if (!p.running) {
                p.running = true;
                std::thread(probe, id, p.uri).detach();
            }
        }
    }
    auto link = shown.find(id);
    if (link != shown.end() && link->second != failure) {
        papplPrinterRemoveLink(printer, link->second.c_str());
        papplPrinterSetReasons(printer, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
        shown.erase(link);
    }
    if (!failure.empty() && shown.find(id) == shown.end()) {
        char path[1024];
        papplPrinterGetPath(printer, "", path, sizeof path);
        papplPrinterAddLink(printer, failure.c_str(), path, PAPPL_LOPTIONS_STATUS);
        papplPrinterSetReasons(printer, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
        papplJobSetMessage(job, "%s", failure.c_str());
        shown[id] = failure;
    }
}

}  // namespace

void WatchDevices(pappl_system_t* system)
{
    papplSystemAddTimerCallback(
        system, 0, 2,
        [](pappl_system_t* s, void*) {
            papplSystemIteratePrinters(s, check, nullptr);
            return true;
        },
        nullptr);
}

}  // namespace pdftopjl::app
