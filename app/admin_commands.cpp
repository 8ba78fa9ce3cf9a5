// SPDX-License-Identifier: Apache-2.0
#include "admin_commands.hpp"

#include <pappl/pappl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <iterator>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "printer_settings.hpp"
#include "runtime.hpp"

extern char** environ;

namespace pdftopjl::app {

namespace {

const char kName[] = "pdftopjl-app";
const char kSystemUri[] = "ipp://localhost/ipp/system";
// PAPPL forces a shutdown after 60 s of waiting for active jobs.
constexpr auto kShutdownLimit = std::chrono::seconds(75);

struct HttpCloser {
    void operator()(http_t* http) const { httpClose(http); }
};
using Http = std::unique_ptr<http_t, HttpCloser>;

struct Command {
    std::string name;            // sub-command
    std::string printer;         // -d
    std::string deviceUri;       // -v
    int job = 0;                 // -j
    std::vector<std::pair<std::string, std::string>> options;  // -o
};

// argv as PAPPL's main loop reads it, for the sub-commands done here; none
// when PAPPL should see it (other sub-commands, -u for a remote printer,
// --help, anything it would refuse).
std::optional<Command> parse(int argc, char* argv[])
{
    Command command;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() > 1 && arg[0] == '-') {
            const char letter = arg[1];
            if (letter == 'a') continue;
            if (std::strchr("dhjmnotv", letter) == nullptr || arg.size() != 2 || i + 1 >= argc) return std::nullopt;
            const char* value = argv[++i];
            if (letter == 'd') command.printer = value;
            if (letter == 'v') command.deviceUri = value;
            if (letter == 'j') command.job = std::atoi(value);
            if (letter == 'o') {
                cups_option_t* list = nullptr;
                const int count = cupsParseOptions(value, 0, &list);
                for (int j = 0; j < count; ++j) command.options.emplace_back(list[j].name, list[j].value);
                cupsFreeOptions(count, list);
            }
        } else if (command.name.empty() &&
                   (arg == "modify" || arg == "delete" || arg == "default" || arg == "shutdown" || arg == "status")) {
            command.name = arg;
        } else {
            return std::nullopt;
        }
    }
    if (command.name.empty() || (command.name == "default" && command.printer.empty())) return std::nullopt;
    return command;
}

std::string socketPath(uid_t uid)
{
    if (uid != 0) return std::string(papplGetTempDir()) + "/" + kName + std::to_string(uid) + ".sock";
    if (const char* snap = getenv("SNAP_COMMON")) return std::string(snap) + "/" + kName + ".sock";
    return std::string("/run/") + kName + ".sock";
}

// The running server, as PAPPL's sub-commands find it: this user's, then root's.
Http connectLocal()
{
    Http http(httpConnect2(socketPath(getuid()).c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                           30000, nullptr));
    if (!http && getuid() != 0)
        http.reset(httpConnect2(socketPath(0).c_str(), 0, nullptr, AF_UNSPEC, HTTP_ENCRYPTION_IF_REQUESTED, 1,
                                30000, nullptr));
    return http;
}

// As PAPPL does: a private server on the local socket when none runs.
Http connectOrStart()
{
    if (Http http = connectLocal()) return http;
    char self[4096];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return nullptr;
    self[length] = '\0';
    char* const args[] = {self, const_cast<char*>("server"), const_cast<char*>("-o"),
                          const_cast<char*>("private-server=true"), nullptr};
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, self, nullptr, &attributes, args, environ) == 0;
    posix_spawnattr_destroy(&attributes);
    if (!started) return nullptr;
    for (int tries = 0; tries < 40; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        if (Http http = connectLocal()) return http;
    }
    return nullptr;
}

IppPtr newRequest(ipp_op_t op)
{
    IppPtr request(ippNewRequest(op));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, kSystemUri);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    return request;
}

bool send(http_t* http, IppPtr request)
{
    ippDelete(cupsDoRequest(http, request.release(), "/ipp/system"));
    return cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE;
}

int fail(const std::string& what)
{
    std::fprintf(stderr, "%s: %s\n", kName, what.c_str());
    return 1;
}

struct ConfiguredPrinter {
    std::string name;
    int id;
};

// The system's list of printers, whose numbers PAPPL 1.3 gets right for
// printers added since the server started; cupsLastError() tells whether
// the server answered.
std::vector<ConfiguredPrinter> configuredPrinters(http_t* http)
{
    IppPtr request = newRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", nullptr,
                 "system-configured-printers");
    IppPtr response(cupsDoRequest(http, request.release(), "/ipp/system"));
    ipp_attribute_t* printers = ippFindAttribute(response.get(), "system-configured-printers", IPP_TAG_BEGIN_COLLECTION);
    std::vector<ConfiguredPrinter> list;
    for (int i = 0; i < ippGetCount(printers); ++i) {
        ipp_t* col = ippGetCollection(printers, i);
        if (const char* name = ippGetString(ippFindAttribute(col, "printer-name", IPP_TAG_ZERO), 0, nullptr))
            list.push_back({name, ippGetInteger(ippFindAttribute(col, "printer-id", IPP_TAG_INTEGER), 0)});
    }
    return list;
}

int printerId(http_t* http, const std::string& name)
{
    for (const ConfiguredPrinter& printer : configuredPrinters(http))
        if (printer.name == name) return printer.id;
    return 0;
}

int modify(http_t* http, const Command& command)
{
    if (command.deviceUri.empty() && command.options.empty())
        return fail("Nothing to change: give -v DEVICE-URI and/or -o NAME=VALUE.");
    IppPtr request = newRequest(kOpModifyPrinter);
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "printer-name", nullptr, command.printer.c_str());
    if (!command.deviceUri.empty())
        ippAddString(request.get(), IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, command.deviceUri.c_str());
    for (const auto& [name, value] : command.options)
        ippAddString(request.get(), IPP_TAG_PRINTER, IPP_TAG_TEXT, name.c_str(), nullptr, value.c_str());
    if (!send(http, std::move(request))) return fail(std::string("Unable to modify printer: ") + cupsLastErrorString());
    return 0;
}

int removeOrMakeDefault(http_t* http, const Command& command)
{
    const int id = printerId(http, command.printer);
    if (id == 0) return fail("There is no printer named '" + command.printer + "'.");
    const bool remove = command.name == "delete";
    IppPtr request = newRequest(remove ? IPP_OP_DELETE_PRINTER : IPP_OP_SET_SYSTEM_ATTRIBUTES);
    if (remove)
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "printer-id", id);
    else
        ippAddInteger(request.get(), IPP_TAG_SYSTEM, IPP_TAG_INTEGER, "system-default-printer-id", id);
    if (!send(http, std::move(request)))
        return fail(std::string(remove ? "Unable to delete printer: " : "Unable to set default printer: ") +
                    cupsLastErrorString());
    return 0;
}

// What PAPPL's reasons mean, as the supplies page says it.
std::string reasonsText(ipp_attribute_t* reasons)
{
    static const std::pair<const char*, const char*> kTexts[] = {
        {"media-empty", "Out of paper"}, {"media-jam", "Paper jam"},       {"cover-open", "Door open"},
        {"toner-low", "Toner low"},      {"toner-empty", "Toner empty"},   {"media-low", "Paper low"},
        {"offline", "Offline"},          {"other", "Needs attention"},     {"paused", "Paused"},
        {"spool-area-full", "Spool area full"}, {"identify-printer-requested", "Identify requested"}};
    std::string text;
    for (int i = 0; i < ippGetCount(reasons); ++i) {
        const std::string keyword = ippGetString(reasons, i, nullptr);
        if (keyword == "none" || keyword == "media-needed") continue;  // media-needed goes with media-empty
        const auto* known = std::find_if(std::begin(kTexts), std::end(kTexts),
                                         [&](const auto& t) { return keyword == t.first; });
        text += (text.empty() ? "" : ", ") + (known != std::end(kTexts) ? std::string(known->second) : keyword);
    }
    return text;
}

// "NAME: idle since DATE: Paper jam, Toner low" for one printer.
bool printStatus(http_t* http, const std::string& name)
{
    IppPtr request(ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES));
    const std::string uri = "ipp://localhost/ipp/print/" + name;
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
    static const char* const wanted[] = {"printer-state", "printer-state-reasons", "printer-state-change-date-time"};
    ippAddStrings(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
    IppPtr response(cupsDoRequest(http, request.release(), ("/ipp/print/" + name).c_str()));
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) return false;
    const int state = ippGetInteger(ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM), 0);
    std::string line = name + ": " +
                       (state == IPP_PSTATE_PROCESSING ? "printing" : state == IPP_PSTATE_STOPPED ? "stopped" : "idle");
    if (ipp_attribute_t* since = ippFindAttribute(response.get(), "printer-state-change-date-time", IPP_TAG_DATE))
        line += std::string(" since ") + httpGetDateString(ippDateToTime(ippGetDate(since, 0)));
    const std::string text = reasonsText(ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD));
    if (!text.empty()) line += ": " + text;
    std::printf("%s\n", line.c_str());
    return true;
}

// PAPPL 1.3 prints the reasons glued to the date ("GMToffline.") and an
// idle server as idle since 1970.
int status(http_t* http, const Command& command)
{
    if (command.job > 0) {
        if (command.printer.empty()) return fail("Missing '-d PRINTER'.");
        IppPtr request(ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES));
        const std::string uri = "ipp://localhost/ipp/print/" + command.printer;
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
        ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", command.job);
        ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
        IppPtr response(cupsDoRequest(http, request.release(), ("/ipp/print/" + command.printer).c_str()));
        if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
            return fail("No job " + std::to_string(command.job) + " on '" + command.printer + "': " + cupsLastErrorString());
        const int state = ippGetInteger(ippFindAttribute(response.get(), "job-state", IPP_TAG_ENUM), 0);
        std::string line = "job " + std::to_string(command.job) + ": " + ippEnumString("job-state", state);
        ipp_attribute_t* reasons = ippFindAttribute(response.get(), "job-state-reasons", IPP_TAG_KEYWORD);
        for (int i = 0; i < ippGetCount(reasons); ++i)
            line += (i == 0 ? ": " : ", ") + std::string(ippGetString(reasons, i, nullptr));
        std::printf("%s\n", line.c_str());
        return 0;
    }
    if (!command.printer.empty())
        return printStatus(http, command.printer) ? 0 : fail("There is no printer named '" + command.printer + "'.");
    const std::vector<ConfiguredPrinter> printers = configuredPrinters(http);
    if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE)
        return fail(std::string("Unable to get the server's status: ") + cupsLastErrorString());
    std::printf("Running, %zu printer%s.\n", printers.size(), printers.size() == 1 ? "" : "s");
    for (const ConfiguredPrinter& printer : printers) printStatus(http, printer.name);
    return 0;
}

bool running(pid_t pid)
{
    if (kill(pid, 0) != 0) return false;
    // A server that is the caller's own child stays a zombie until reaped.
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t paren = line.rfind(')');
    return paren == std::string::npos || paren + 2 >= line.size() || line[paren + 2] != 'Z';
}

int shutdown(Http http)
{
    struct ucred peer {};
    socklen_t size = sizeof peer;
    if (getsockopt(httpGetFd(http.get()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) peer.pid = 0;
    if (!send(http.get(), newRequest(IPP_OP_SHUTDOWN_ALL_PRINTERS)))
        return fail(std::string("Unable to shutdown server: ") + cupsLastErrorString());
    http.reset();
    if (peer.pid <= 0) return 0;
    // PAPPL's main loop notices the request when it next wakes, up to 30 s
    // later: a connection wakes it.
    const auto deadline = std::chrono::steady_clock::now() + kShutdownLimit;
    for (int tick = 0; running(peer.pid); ++tick) {
        if (std::chrono::steady_clock::now() > deadline)
            return fail("The server (process " + std::to_string(peer.pid) + ") is still running " +
                        std::to_string(kShutdownLimit.count()) + " seconds after the shutdown request.");
        if (tick % 10 == 0) connectLocal();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 0;
}

}  // namespace

bool RefusedByServer(int argc, char* argv[])
{
    static const char* const talking[] = {"add",    "cancel", "default", "delete", "jobs",     "modify", "options",
                                          "pause",  "printers", "resume", "status", "shutdown", "submit"};
    const std::string sub = SubCommand(argc, argv);
    if (std::none_of(std::begin(talking), std::end(talking), [&](const char* name) { return sub == name; }))
        return false;
    Http http = connectLocal();
    if (!http) return false;  // none runs: PAPPL's main loop starts one
    // The server closes a connection it will not serve as it accepts it;
    // PAPPL's own sub-commands would then print nothing and exit 0.
    ippDelete(cupsDoRequest(http.get(), newRequest(IPP_OP_GET_SYSTEM_ATTRIBUTES).release(), "/ipp/system"));
    if (cupsLastError() != IPP_STATUS_ERROR_SERVICE_UNAVAILABLE && cupsLastError() != IPP_STATUS_ERROR_INTERNAL)
        return false;
    fail(std::string("The server refused this user's '") + sub +
         "': only root, the server's user and the members of its admin-group use the sub-commands; "
         "print with lp or ipptool.");
    return true;
}

bool RunAdminCommand(int argc, char* argv[], int* status)
{
    std::optional<Command> command = parse(argc, argv);
    if (!command) return false;
    if (command->name == "shutdown") {
        Http http = connectLocal();
        *status = http ? shutdown(std::move(http)) : fail("Server is not running.");
        return true;
    }
    if (command->name == "status") {
        Http http = connectLocal();
        *status = http ? pdftopjl::app::status(http.get(), *command) : fail("The server is not running.");
        return true;
    }
    if (command->printer.empty()) {
        *status = fail("Missing '-d PRINTER'.");
        return true;
    }
    Http http = connectOrStart();
    if (!http) {
        *status = fail(std::string("Unable to connect to server: ") + cupsLastErrorString());
        return true;
    }
    *status = command->name == "modify" ? modify(http.get(), *command) : removeOrMakeDefault(http.get(), *command);
    return true;
}

}  // namespace pdftopjl::app
