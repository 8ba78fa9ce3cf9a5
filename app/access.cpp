// SPDX-License-Identifier: Apache-2.0
#include "access.hpp"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "request_checks.hpp"

namespace pdftopjl::app {

namespace {

struct Access {
    pappl_system_t* system = nullptr;
    uid_t owner = 0;
    std::optional<gid_t> adminGroup;
    std::vector<std::string> fileFolders;
};

// Set once, before the server accepts anyone.
Access rules;
std::atomic<bool> configured{false};

bool inGroup(uid_t uid, gid_t group)
{
    struct passwd entry, *found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr) return false;
    if (entry.pw_gid == group) return true;
    int count = 64;
    std::vector<gid_t> groups(count);
    if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) {
        groups.resize(count);
        if (getgrouplist(entry.pw_name, entry.pw_gid, groups.data(), &count) < 0) return false;
    }
    groups.resize(count);
    for (gid_t g : groups)
        if (g == group) return true;
    return false;
}

bool administers(uid_t uid)
{
    return uid == 0 || uid == rules.owner || (rules.adminGroup && inGroup(uid, *rules.adminGroup));
}

// /proc/net/tcp{,6} spelling of an address and port: the address's 32-bit
// words as the kernel holds them, in hex.
std::string procAddress(const sockaddr_storage& addr)
{
    char text[64];
    if (addr.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(addr);
        std::snprintf(text, sizeof text, "%08X:%04X", in.sin_addr.s_addr, ntohs(in.sin_port));
    } else {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(addr);
        uint32_t words[4];
        std::memcpy(words, &in6.sin6_addr, sizeof words);
        std::snprintf(text, sizeof text, "%08X%08X%08X%08X:%04X", words[0], words[1], words[2], words[3],
                      ntohs(in6.sin6_port));
    }
    return text;
}

// An IPv4 client of an IPv6 socket, as the IPv4 table lists it.
void unmap(sockaddr_storage& addr)
{
    if (addr.ss_family != AF_INET6) return;
    const auto in6 = reinterpret_cast<const sockaddr_in6&>(addr);
    if (!IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) return;
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = in6.sin6_port;
    std::memcpy(&in.sin_addr, in6.sin6_addr.s6_addr + 12, 4);
    std::memset(&addr, 0, sizeof addr);
    std::memcpy(&addr, &in, sizeof in);
}

// The owner of the other end of a loopback TCP connection: the kernel's
// table lists the client's socket with the client's port as its local end.
std::optional<uid_t> loopbackPeer(int fd)
{
    sockaddr_storage peer{}, self{};
    socklen_t peerLength = sizeof peer, selfLength = sizeof self;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLength) != 0)
        return std::nullopt;
    unmap(peer);
    unmap(self);
    if (peer.ss_family != self.ss_family) return std::nullopt;
    const std::string local = procAddress(peer), remote = procAddress(self);
    std::ifstream table(peer.ss_family == AF_INET ? "/proc/net/tcp" : "/proc/net/tcp6");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, localField, remoteField, state, queues, timer, retransmits;
        uid_t uid = 0;
        if (!(fields >> slot >> localField >> remoteField >> state >> queues >> timer >> retransmits >> uid)) continue;
        if (localField == local && remoteField == remote) return uid;
    }
    return std::nullopt;
}

bool isAdministrator(pappl_client_t* client)
{
    http_t* http = papplClientGetHTTP(client);
    if (!httpAddrLocalhost(httpGetAddress(http))) return false;
    const std::optional<uid_t> uid = loopbackPeer(httpGetFd(http));
    return uid && administers(*uid);
}

// What every client may ask.  Anything else administers.
bool openToAll(ipp_op_t op)
{
    switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT:
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CANCEL_MY_JOBS:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_GET_JOBS:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_ATTRIBUTES:
    case IPP_OP_GET_PRINTER_SUPPORTED_VALUES:
    case IPP_OP_GET_PRINTERS:
    case IPP_OP_GET_SYSTEM_ATTRIBUTES:
    case IPP_OP_IDENTIFY_PRINTER:
    case IPP_OP_CREATE_PRINTER_SUBSCRIPTIONS:
    case IPP_OP_CREATE_JOB_SUBSCRIPTIONS:
    case IPP_OP_GET_SUBSCRIPTION_ATTRIBUTES:
    case IPP_OP_GET_SUBSCRIPTIONS:
    case IPP_OP_RENEW_SUBSCRIPTION:
    case IPP_OP_CANCEL_SUBSCRIPTION:
    case IPP_OP_GET_NOTIFICATIONS:
    case IPP_OP_CUPS_GET_DEFAULT:
    case IPP_OP_CUPS_GET_PRINTERS:
        return true;
    default:
        return false;
    }
}

// A request about a job of another user (PAPPL knows users only by the
// name they give).
bool othersJob(pappl_client_t* client, ipp_t* request)
{
    pappl_job_t* job = papplClientGetJob(client);
    if (job == nullptr) return false;
    const char* owner = papplJobGetUsername(job);
    const char* user = ippGetString(ippFindAttribute(request, "requesting-user-name", IPP_TAG_NAME), 0, nullptr);
    return owner == nullptr || user == nullptr || std::strcmp(owner, user) != 0;
}

// The formats PAPPL offers for these printers (document-format-supported).
bool offered(std::string_view format)
{
    for (std::string_view known : {"application/octet-stream", "application/pdf", "image/jpeg", "image/png",
                                   "image/pwg-raster", "image/urf"})
        if (format == known) return true;
    return false;
}

// The document must be in a format the printer takes, application/octet-
// stream included (PAPPL would accept any such document and abort it
// later), so that clients learn it when they send it.
std::optional<Refusal> checkFormat(pappl_client_t* client, ipp_t* request)
{
    ipp_attribute_t* format = ippFindAttribute(request, "document-format", IPP_TAG_MIMETYPE);
    // Without a format PAPPL takes the printer's default, application/octet-stream.
    const std::string_view value = format != nullptr ? ippGetString(format, 0, nullptr) : "application/octet-stream";
    Refusal refusal{IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED,
                    "The document is not in a format the printer takes (PDF, JPEG, PNG, PWG or Apple raster)", {}};
    if (format != nullptr) refusal.unsupported.push_back(format);
    if (!offered(value)) return refusal;
    const ipp_op_t op = ippGetOperation(request);
    if (value != "application/octet-stream" || (op != IPP_OP_PRINT_JOB && op != IPP_OP_SEND_DOCUMENT))
        return std::nullopt;
    // Compressed data is typed by PAPPL once it is inflated.
    if (const char* compression = ippGetString(ippFindAttribute(request, "compression", IPP_TAG_KEYWORD), 0, nullptr))
        if (std::strcmp(compression, "none") != 0) return std::nullopt;
    char head[16] = {};
    const ssize_t n = httpPeek(papplClientGetHTTP(client), head, sizeof head);
    if (n <= 0 || PrintableContent(std::string_view(head, static_cast<size_t>(n)))) return std::nullopt;
    return refusal;
}

// Answers a refused request with its IPP status, then leaves PAPPL nothing
// to do: the document is read and dropped, and a request that would still
// create something loses what PAPPL needs for it (the answer is sent, so
// PAPPL's own complaint goes nowhere).  Other operations get HTTP 400.
http_status_t refuse(pappl_client_t* client, ipp_t* request, const Refusal& refusal)
{
    const ipp_op_t op = ippGetOperation(request);
    papplLogClient(client, PAPPL_LOGLEVEL_WARN, "%s refused: %s.", ippOpString(op), refusal.message.c_str());
    switch (op) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
        break;
    case IPP_OP_CREATE_JOB:
        ippDeleteAttribute(request, ippFindAttribute(request, "ipp-attribute-fidelity", IPP_TAG_ZERO));
        ippDeleteAttribute(request, ippFindAttribute(request, "copies", IPP_TAG_ZERO));
        ippAddInteger(request, IPP_TAG_JOB, IPP_TAG_INTEGER, "copies", 0);
        break;
    case IPP_OP_SEND_DOCUMENT:
        // The job ends rather than wait for a document forever.  PAPPL then
        // finds no document but last-document, marks the job aborted and
        // gives it a format: without one PAPPL 1.3 cannot read the job back
        // from its state file.
        if (pappl_job_t* job = papplClientGetJob(client)) {
            papplJobSetMessage(job, "%s", refusal.message.c_str());
            papplJobCancel(job);
        }
        ippDeleteAttribute(request, ippFindAttribute(request, "last-document", IPP_TAG_ZERO));
        ippAddBoolean(request, IPP_TAG_OPERATION, "last-document", 1);
        break;
    case IPP_OP_CREATE_PRINTER:
        ippDeleteAttribute(request, ippFindAttribute(request, "printer-service-type", IPP_TAG_ZERO));
        break;
    default:
        return HTTP_STATUS_BAD_REQUEST;
    }
    http_t* http = papplClientGetHTTP(client);
    if (httpGetState(http) == HTTP_STATE_POST_RECV) {
        char buffer[8192];
        while (httpRead(http, buffer, sizeof buffer) > 0) {
        }
    }
    ipp_t* response = papplClientGetResponse(client);
    ippSetStatusCode(response, refusal.status);
    papplClientRespondIPP(client, refusal.status, "%s.", refusal.message.c_str());
    // The attribute by name only: its value may be what was refused, and a
    // passcode is not echoed.
    for (ipp_attribute_t* attr : refusal.unsupported)
        ippAddOutOfBand(response, IPP_TAG_UNSUPPORTED_GROUP, IPP_TAG_UNSUPPORTED_VALUE, ippGetName(attr));
    papplClientRespond(client, HTTP_STATUS_OK, nullptr, "application/ipp", 0, ippLength(response));
    return HTTP_STATUS_CONTINUE;
}

}  // namespace

void ConfigureAccess(pappl_system_t* system, const char* adminGroup, const char* fileDeviceFolders,
                     const std::string& spoolDirectory)
{
    rules.system = system;
    rules.owner = getuid();
    if (adminGroup != nullptr) {
        if (struct group* entry = getgrnam(adminGroup))
            rules.adminGroup = entry->gr_gid;
        else
            papplLog(system, PAPPL_LOGLEVEL_ERROR, "admin-group \"%s\" does not exist.", adminGroup);
    }
    if (fileDeviceFolders != nullptr) {
        std::istringstream list(fileDeviceFolders);
        for (std::string folder; std::getline(list, folder, ':');)
            if (!folder.empty()) rules.fileFolders.push_back(folder);
    } else {
        const std::string output = spoolDirectory + "/output";
        mkdir(spoolDirectory.c_str(), 0700);
        mkdir(output.c_str(), 0750);
        rules.fileFolders.push_back(output);
    }
    configured = true;
}

http_status_t AdmitRequest(pappl_client_t* client)
{
    ipp_t* request = papplClientGetRequest(client);
    // PAPPL may ask twice about a request; once refused here, it is answered
    // and the connection waits for the next one.
    if (request != nullptr && httpGetState(papplClientGetHTTP(client)) == HTTP_STATE_WAITING)
        return HTTP_STATUS_CONTINUE;
    const ipp_op_t op = request != nullptr ? ippGetOperation(request) : IPP_OP_CUPS_INVALID;
    // Web pages that change things ask with no request.
    const bool administration = request == nullptr || !openToAll(op) || othersJob(client, request);
    if (administration && !isAdministrator(client)) {
        papplLogClient(client, PAPPL_LOGLEVEL_WARN, "%s refused: only root, the server's user and admin-group administer.",
                       request != nullptr ? ippOpString(op) : papplClientGetURI(client));
        return HTTP_STATUS_FORBIDDEN;
    }
    if (request == nullptr) return HTTP_STATUS_CONTINUE;

    std::optional<Refusal> refusal = CheckValues(request);
    if (!refusal && (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB || op == IPP_OP_VALIDATE_JOB))
        refusal = CheckPasscode(request);
    if (!refusal && (op == IPP_OP_PRINT_JOB || op == IPP_OP_CREATE_JOB || op == IPP_OP_VALIDATE_JOB))
        refusal = CheckOverrides(request);
    if (!refusal && (op == IPP_OP_PRINT_JOB || op == IPP_OP_VALIDATE_JOB || op == IPP_OP_SEND_DOCUMENT))
        refusal = checkFormat(client, request);
    if (!refusal && op == IPP_OP_CREATE_PRINTER) {
        ipp_attribute_t* uri = ippFindAttribute(request, "smi55357-device-uri", IPP_TAG_ZERO);
        const std::string problem = DeviceRefusal(
            ippGetString(uri, 0, nullptr),
            ippGetString(ippFindAttribute(request, "printer-device-id", IPP_TAG_ZERO), 0, nullptr));
        if (!problem.empty())
            refusal = Refusal{IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES, "The printer cannot be added: " + problem, {uri}};
    }
    return refusal ? refuse(client, request, *refusal) : HTTP_STATUS_CONTINUE;
}

std::string DeviceRefusal(const char* uri, const char* deviceId)
{
    if (!configured) return "";
    return DeviceProblem(uri, deviceId, rules.fileFolders);
}

}  // namespace pdftopjl::app

// PAPPL accepts its clients through libcups; this definition, exported by
// the program, comes first.  A client of the local socket that does not
// administer is turned away before PAPPL reads from it: PAPPL would let it
// administer without asking (see rules.hpp).
extern "C" http_t* httpAcceptConnection(int fd, int blocking)
{
    using Accept = http_t* (*)(int, int);
    static const Accept accept = reinterpret_cast<Accept>(dlsym(RTLD_NEXT, "httpAcceptConnection"));
    http_t* http = accept != nullptr ? accept(fd, blocking) : nullptr;
    if (http == nullptr || !pdftopjl::app::configured || httpAddrFamily(httpGetAddress(http)) != AF_LOCAL)
        return http;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(httpGetFd(http), SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 &&
        pdftopjl::app::administers(peer.uid))
        return http;
    papplLog(pdftopjl::app::rules.system, PAPPL_LOGLEVEL_WARN,
             "Refused a local connection from uid %d: only root, the server's user and admin-group administer.",
             static_cast<int>(peer.uid));
    httpClose(http);
    errno = EACCES;
    return nullptr;
}
