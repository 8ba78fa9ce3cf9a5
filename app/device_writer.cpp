// SPDX-License-Identifier: Apache-2.0
#include "device_writer.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "printer_status.hpp"

// PAPPL 1.3 adds its built-in schemes the first time a device is used,
// unless a scheme was added before; these add the others then.
extern "C" void _papplDeviceAddNetworkSchemes(void);
extern "C" void _papplDeviceAddUSBScheme(void);

namespace pdftopjl::app {

namespace {

using Clock = std::chrono::steady_clock;

// How long a cancelled job still waits for the printer to take its end.
constexpr auto kCancelGrace = std::chrono::seconds(2);
// How long a printer may take no data before the job is given up.
constexpr auto kStallLimit = std::chrono::minutes(10);

struct FileTarget {
    int fd = -1;
    std::string folder;  // set for a folder: the file is made at the first write
    std::string name, ext, path;
};

// A folder's file for `name`: the name, or the name with -2, -3, ... when
// taken; never an existing file.
int createInFolder(FileTarget& target)
{
    std::string base = target.name.empty() ? "untitled" : target.name;
    for (char& c : base)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || (c & 0x80) != 0 || c == '/') c = '_';
    for (int attempt = 1; attempt < 1000; ++attempt) {
        target.path = target.folder + "/" + base;
        if (attempt > 1) target.path.append("-").append(std::to_string(attempt));
        target.path.append(".").append(target.ext);
        const int fd = open(target.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return -1;
}

bool fileOpen(pappl_device_t* device, const char* uri, const char* name)
{
    char scheme[32], userpass[32], host[256], resource[1024];
    int port = 0;
    httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass, host, sizeof host,
                    &port, resource, sizeof resource);
    auto* target = new FileTarget;
    target->ext = "prn";
    if (char* options = std::strchr(resource, '?')) {
        *options++ = '\0';
        if (std::strncmp(options, "ext=", 4) == 0 && std::strchr(options, '/') == nullptr) target->ext = options + 4;
    }
    struct stat info;
    if (stat(resource, &info) != 0) info.st_mode = S_IFREG | 0644;
    if (S_ISDIR(info.st_mode)) {
        target->folder = resource;
        target->name = name != nullptr ? name : "";
    } else if (S_ISCHR(info.st_mode)) {
        target->fd = open(resource, O_WRONLY | O_EXCL | O_CLOEXEC);
    } else if (S_ISREG(info.st_mode)) {
        target->fd = open(resource, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    } else {
        errno = EINVAL;
    }
    if (target->folder.empty() && target->fd < 0) {
        papplDeviceError(device, "Unable to open '%s': %s", resource, std::strerror(errno));
        delete target;
        return false;
    }
    papplDeviceSetData(device, target);
    return true;
}

void fileClose(pappl_device_t* device)
{
    auto* target = static_cast<FileTarget*>(papplDeviceGetData(device));
    if (target == nullptr) return;
    if (target->fd >= 0) close(target->fd);
    delete target;
    papplDeviceSetData(device, nullptr);
}

ssize_t fileWrite(pappl_device_t* device, const void* buffer, size_t bytes)
{
    auto* target = static_cast<FileTarget*>(papplDeviceGetData(device));
    if (target == nullptr) return -1;
    if (target->fd < 0 && !target->folder.empty() && (target->fd = createInFolder(*target)) < 0) {
        papplDeviceError(device, "Unable to create a file in '%s': %s", target->folder.c_str(), std::strerror(errno));
        return -1;
    }
    const char* data = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < bytes) {
        const ssize_t n = write(target->fd, data + done, bytes - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

FileTarget* folderTarget(pappl_device_t* device)
{
    auto* target = static_cast<FileTarget*>(papplDeviceGetData(device));
    return target != nullptr && !target->folder.empty() ? target : nullptr;
}

bool isFileUri(const char* uri) { return uri != nullptr && std::strncmp(uri, "file:", 5) == 0; }

bool isNetworkUri(const char* uri)
{
    return uri != nullptr && (std::strncmp(uri, "socket:", 7) == 0 || std::strncmp(uri, "dnssd:", 6) == 0 ||
                              std::strncmp(uri, "snmp:", 5) == 0);
}

}  // namespace

int DeviceConnection(pappl_device_t* device)
{
    const int* data = static_cast<const int*>(papplDeviceGetData(device));
    if (data == nullptr || *data < 0) return -1;
    struct stat info;
    sockaddr_storage peer;
    socklen_t length = sizeof peer;
    if (fstat(*data, &info) != 0 || !S_ISSOCK(info.st_mode) ||
        getpeername(*data, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return -1;
    return *data;
}

void InstallFileScheme()
{
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, fileOpen, fileClose, nullptr, fileWrite, nullptr,
                         nullptr);
    _papplDeviceAddNetworkSchemes();
    _papplDeviceAddUSBScheme();
}

JobOutput::JobOutput(pappl_job_t* job, pappl_device_t* shared) : job_(job), device_(shared)
{
    const char* uri = papplPrinterGetDeviceURI(papplJobGetPrinter(job));
    if (isFileUri(uri)) {
        // PAPPL 1.3 may run two jobs at once and closes a file: device as
        // each ends: a folder or file gets a handle of the job's own (a
        // character device takes one opener and keeps PAPPL's).  A folder's
        // file is named after the job and its id.
        char scheme[32], userpass[32], host[256], resource[1024];
        int port = 0;
        httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, userpass, sizeof userpass, host,
                        sizeof host, &port, resource, sizeof resource);
        if (char* query = std::strchr(resource, '?')) *query = '\0';
        struct stat info;
        if (stat(resource, &info) == 0 && S_ISCHR(info.st_mode)) return;
        std::string name = papplJobGetName(job) != nullptr ? papplJobGetName(job) : "untitled";
        name.append("-").append(std::to_string(papplJobGetID(job)));
        own_ = papplDeviceOpen(uri, name.c_str(), papplLogDevice, papplPrinterGetSystem(papplJobGetPrinter(job)));
        if (own_ != nullptr) {
            device_ = own_;
            folder_ = folderTarget(own_) != nullptr;
        }
    } else if (isNetworkUri(uri)) {
        // PAPPL's writes block while the printer takes nothing: its buffer
        // is sent, and the rest goes to the connection directly.
        papplDeviceFlush(device_);
        socket_ = DeviceConnection(device_);
        StatusAroundJob(papplJobGetPrinter(job));
    }
}

JobOutput::~JobOutput()
{
    if (socket_ >= 0) StatusAroundJob(papplJobGetPrinter(job_));
    // An unfinished job (failed, aborted, cancelled) leaves no file behind.
    if (own_ != nullptr) {
        FileTarget* target = folder_ ? folderTarget(own_) : nullptr;
        const std::string path = target != nullptr && !finished_ ? target->path : "";
        papplDeviceClose(own_);
        if (!path.empty()) unlink(path.c_str());
    }
}

bool JobOutput::Write(const char* data, size_t size)
{
    if (socket_ >= 0) return writeSocket(data, size);
    if (papplDeviceWrite(device_, data, size) < 0) {
        error_ = "Cannot send the job to the printer";
        return false;
    }
    return true;
}

bool JobOutput::writeSocket(const char* data, size_t size)
{
    auto progress = Clock::now();
    while (size > 0) {
        const ssize_t n = send(socket_, data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
            progress = Clock::now();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            error_ = std::string("Cannot send the job to the printer: ") + std::strerror(errno);
            return false;
        }
        const auto now = Clock::now();
        if (papplJobIsCanceled(job_)) {
            if (canceledAt_ == Clock::time_point{}) canceledAt_ = now;
            if (now - canceledAt_ > kCancelGrace) {
                error_ = "The printer takes no data; the cancelled job's end was not sent";
                return false;
            }
        }
        if (now - progress > kStallLimit) {
            error_ = "The printer took no data for 10 minutes";
            return false;
        }
        pollfd wait{socket_, POLLOUT, 0};
        poll(&wait, 1, 250);
    }
    return true;
}

void JobOutput::Finish()
{
    if (socket_ < 0) papplDeviceFlush(device_);
    finished_ = true;
}

}  // namespace pdftopjl::app
