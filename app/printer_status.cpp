// SPDX-License-Identifier: Apache-2.0
#include "printer_status.hpp"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cctype>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

#include "device_status.hpp"
#include "device_writer.hpp"
#include "models.hpp"
#include "pjl/status.hpp"
#include "snmp_status.hpp"

namespace pdftopjl::app {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kAnswerLimitMs = 2000;
constexpr long kJobCheckMs = 20;
// PAPPL asks on each Get-Printer-Attributes, at most once a second: a
// printer is asked less often than that, and one that does not answer
// rarely, since each try holds a client for the whole time limit.
constexpr auto kAskEvery = std::chrono::seconds(3);
constexpr auto kAskSilentEvery = std::chrono::seconds(60);
constexpr auto kAskUnreachableEvery = std::chrono::seconds(10);

// The reasons these queries own; others (paused, offline while a job waits
// for the device) belong to PAPPL and the device watch.
constexpr pappl_preason_t kStatusReasons =
    PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED | PAPPL_PREASON_MEDIA_JAM | PAPPL_PREASON_COVER_OPEN |
    PAPPL_PREASON_TONER_LOW | PAPPL_PREASON_TONER_EMPTY | PAPPL_PREASON_OFFLINE | PAPPL_PREASON_OTHER |
    PAPPL_PREASON_MEDIA_LOW;

constexpr int kMaxSupplies = 16;

// INFO ID first: the status answer's form feed then ends both answers.
constexpr char kQuery[] = "\x1b%-12345X@PJL\r\n@PJL INFO ID\r\n@PJL INFO STATUS\r\n\x1b%-12345X";

// The status answer within what came back, or empty until it has ended.
std::string_view statusAnswer(std::string_view answer)
{
    const size_t start = answer.find("@PJL INFO STATUS");
    if (start == std::string_view::npos || answer.find('\f', start) == std::string_view::npos) return {};
    return answer.substr(start);
}

// The model an "@PJL INFO ID" answer names ("ZARELLE ZX-4200"), or empty.
std::string identityAnswer(std::string_view answer)
{
    const size_t start = answer.find("@PJL INFO ID");
    if (start == std::string_view::npos) return "";
    const size_t line = answer.find('\n', start);
    if (line == std::string_view::npos) return "";
    std::string_view id = answer.substr(line + 1);
    id = id.substr(0, id.find_first_of("\r\n\f"));
    while (!id.empty() && (id.front() == '"' || id.front() == ' ')) id.remove_prefix(1);
    while (!id.empty() && (id.back() == '"' || id.back() == ' ')) id.remove_suffix(1);
    return std::string(id.substr(0, 80));
}

// Why the printer at the address seems not to be the model set up for it,
// or empty: a printer that names no model, or this one, is taken at its word.
std::string identityProblem(pappl_printer_t* printer, const std::string& id)
{
    const Model* model = FindModel(papplPrinterGetDriverName(printer));
    if (id.empty() || model == nullptr) return "";
    std::string upper = id, mdl = model->row->model;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : mdl) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper.find(mdl) != std::string::npos) return "";
    return "The printer says it is \"" + id + "\", but it is set up as a " + model->makeAndModel +
           ": check the model chosen for this address.";
}

std::atomic<bool> polling{true};

// The shared table's reasons as PAPPL has them: PAPPL 1.3 never reports
// door-open (and then no reasons at all), and has no severities.
pappl_preason_t papplReasons(uint32_t reasons)
{
    constexpr std::pair<uint32_t, pappl_preason_t> kNames[] = {
        {kReasonMediaEmpty, PAPPL_PREASON_MEDIA_EMPTY}, {kReasonMediaNeeded, PAPPL_PREASON_MEDIA_NEEDED},
        {kReasonMediaJam, PAPPL_PREASON_MEDIA_JAM},     {kReasonDoorOpen, PAPPL_PREASON_COVER_OPEN},
        {kReasonTonerLow, PAPPL_PREASON_TONER_LOW},     {kReasonOffline, PAPPL_PREASON_OFFLINE},
        {kReasonOtherWarning, PAPPL_PREASON_OTHER},     {kReasonOther, PAPPL_PREASON_OTHER}};
    pappl_preason_t mapped = PAPPL_PREASON_NONE;
    for (const auto& [ours, theirs] : kNames)
        if ((reasons & ours) != 0) mapped |= theirs;
    return mapped;
}

struct Condition {
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    std::string text;
};

struct Known {
    bool asking = false;
    bool answered = false;  // pjl holds the last answer (or why none can come)
    Clock::time_point askedAt{};
    Condition pjl;
    Clock::duration retry{};
    // What the printer shows: the PJL answer and what SNMP adds to it.
    bool reported = false;
    pappl_preason_t reasons = PAPPL_PREASON_NONE;
    std::string text;
    bool levelsShown = false;  // the supplies carry SNMP's levels
    std::string identity;      // why the printer may be another model
};
std::mutex knownLock;
std::map<int, Known> known;  // by printer id

// The answer, up to its form feed, or empty when none came within the limit;
// `jobCame` when a job arrived meanwhile: PAPPL starts it only once the
// device is closed, so the question is given up at once.
std::string ask(pappl_printer_t* printer, int fd, bool* jobCame)
{
    if (send(fd, kQuery, sizeof kQuery - 1, MSG_NOSIGNAL | MSG_DONTWAIT) != static_cast<ssize_t>(sizeof kQuery - 1))
        return "";
    const int jobs = papplPrinterGetNumberOfActiveJobs(printer);
    const auto deadline = Clock::now() + std::chrono::milliseconds(kAnswerLimitMs);
    std::string answer;
    while (statusAnswer(answer).empty()) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return "";
        if (papplPrinterGetNumberOfActiveJobs(printer) > jobs) {
            *jobCame = true;
            return "";
        }
        pollfd wait{fd, POLLIN, 0};
        const int ready = poll(&wait, 1, static_cast<int>(std::min<long>(left, kJobCheckMs)));
        if (ready < 0) return "";
        if (ready == 0) continue;
        char buffer[1024];
        const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0) return "";
        answer.append(buffer, static_cast<size_t>(n));
        if (answer.size() > 65536) return "";
    }
    return answer;
}

struct Asked {
    enum { Busy, Unreachable, Silent, Answered } outcome;
    std::string text;  // the answer, or why the printer cannot be reached
};

Asked query(pappl_printer_t* printer, const std::string& uri)
{
    // PAPPL opens the device under the printer's lock and waits up to 30 s
    // for a connection: only a printer that answers at once is opened.
    if (std::string problem = ConnectProblem(uri, kAnswerLimitMs); !problem.empty()) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "No status: %s.", problem.c_str());
        return {Asked::Unreachable, std::move(problem)};
    }
    // Null while a job has the device.
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (device == nullptr) return {Asked::Busy, ""};
    const int fd = DeviceConnection(device);
    bool jobCame = false;
    std::string answer = fd >= 0 ? ask(printer, fd, &jobCame) : "";
    papplPrinterCloseDevice(printer);
    if (jobCame) return {Asked::Busy, ""};
    if (answer.empty()) {
        papplLogPrinter(printer, PAPPL_LOGLEVEL_DEBUG, "The printer did not answer @PJL INFO STATUS.");
        return {Asked::Silent, ""};
    }
    return {Asked::Answered, std::move(answer)};
}

bool isColour(pappl_printer_t* printer)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    return (data.color_supported & PAPPL_COLOR_MODE_COLOR) != 0;
}

// The PJL answer with what SNMP adds to it: a condition both report is
// shown once, in the PJL answer's words.
Condition merged(const Known& k, const SnmpState& snmp)
{
    Condition c = k.answered ? k.pjl : Condition{};
    for (const SnmpCondition& more : snmp.conditions) {
        if ((more.reasons & ~c.reasons) == 0) continue;
        c.text = c.reasons == PAPPL_PREASON_NONE ? more.text : c.text + "; " + more.text;
        c.reasons |= more.reasons;
    }
    if (c.text.empty() && snmp.answered) c.text = "Ready";
    return c;
}

bool sameSupplies(const std::vector<pappl_supply_t>& a, const pappl_supply_t* b, int count)
{
    return a.size() == static_cast<size_t>(count) &&
           std::equal(a.begin(), a.end(), b, [](const pappl_supply_t& x, const pappl_supply_t& y) {
               return x.color == y.color && x.is_consumed == y.is_consumed && x.level == y.level &&
                      x.type == y.type && std::strcmp(x.description, y.description) == 0;
           });
}

void showState(pappl_printer_t* printer, int id, const SnmpState& snmp)
{
    pappl_preason_t previous, reasons;
    bool levelsShown;
    {
        std::lock_guard<std::mutex> hold(knownLock);
        Known& k = known[id];
        const Condition c = merged(k, snmp);
        previous = k.reasons;
        reasons = k.reasons = c.reasons;
        k.text = c.text;
        k.reported = k.answered || snmp.answered;
        levelsShown = k.levelsShown;
        k.levelsShown = !snmp.supplies.empty();
    }
    papplPrinterSetReasons(printer, reasons, previous & ~reasons & kStatusReasons);
    pappl_supply_t current[kMaxSupplies];
    const int count = std::min(papplPrinterGetSupplies(printer, kMaxSupplies, current), kMaxSupplies);
    if (!snmp.supplies.empty()) {
        // The printer's own list, as it names and measures its supplies.
        std::vector<pappl_supply_t> own = snmp.supplies;
        if (!sameSupplies(own, current, count)) papplPrinterSetSupplies(printer, static_cast<int>(own.size()), own.data());
    } else if (levelsShown) {
        // Levels nobody reports any more are no longer known.
        for (int i = 0; i < count; ++i) current[i].level = -1;
        papplPrinterSetSupplies(printer, count, current);
    }
}

bool suppliesPage(pappl_client_t* client, void* data)
{
    auto* printer = static_cast<pappl_printer_t*>(data);
    UpdatePrinterStatus(printer);
    std::string text, identity;
    // Which cartridge is low is known only when there is one.
    bool low = !isColour(printer);
    {
        std::lock_guard<std::mutex> hold(knownLock);
        const Known& k = known[papplPrinterGetID(printer)];
        low = low && polling && (k.reasons & PAPPL_PREASON_TONER_LOW) != 0;
        identity = polling ? k.identity : "";
        text = !polling ? "Status queries are turned off (status-poll=off)."
               : k.reported ? k.text
                            : "The printer has not answered a status query.";
    }
    papplClientHTMLPrinterHeader(client, printer, "Supplies", 0, nullptr, nullptr);
    papplClientHTMLPuts(client, "          <p class=\"printer-status\">");
    papplClientHTMLEscape(client, text.c_str(), 0);
    papplClientHTMLPuts(client, "</p>\n");
    if (!identity.empty()) {
        papplClientHTMLPuts(client, "          <p class=\"printer-status\">");
        papplClientHTMLEscape(client, identity.c_str(), 0);
        papplClientHTMLPuts(client, "</p>\n");
    }
    papplClientHTMLPuts(client, "          <table class=\"list\">\n            <tbody>\n");
    pappl_supply_t supplies[kMaxSupplies];
    const int count = papplPrinterGetSupplies(printer, kMaxSupplies, supplies);
    for (int i = 0; i < count && i < kMaxSupplies; ++i) {
        papplClientHTMLPuts(client, "              <tr><th>");
        papplClientHTMLEscape(client, supplies[i].description, 0);
        papplClientHTMLPuts(client, ":</th><td>");
        const bool isLow = low && supplies[i].color == PAPPL_SUPPLY_COLOR_BLACK;
        if (supplies[i].level >= 0) papplClientHTMLPrintf(client, isLow ? "%d%%, low" : "%d%%", supplies[i].level);
        else papplClientHTMLPuts(client, isLow ? "low" : "level unknown");
        papplClientHTMLPuts(client, "</td></tr>\n");
    }
    papplClientHTMLPuts(client, "            </tbody>\n          </table>\n");
    papplClientHTMLPrinterFooter(client);
    return true;
}

}  // namespace

void SetStatusPolling(bool on) { polling = on; }

bool UpdatePrinterStatus(pappl_printer_t* printer)
{
    const char* uri = papplPrinterGetDeviceURI(printer);
    if (!polling || uri == nullptr || std::string_view(uri).substr(0, 7) != "socket:" ||
        papplPrinterGetState(printer) == IPP_PSTATE_PROCESSING)
        return true;
    const int id = papplPrinterGetID(printer);
    AskSnmpSoon(id, uri);
    bool ask;
    {
        std::lock_guard<std::mutex> hold(knownLock);
        Known& k = known[id];
        const auto now = Clock::now();
        ask = !k.asking && (k.askedAt == Clock::time_point{} || now - k.askedAt >= k.retry);
        if (ask) {
            k.asking = true;
            k.askedAt = now;
        }
    }
    if (ask) {
        const Asked asked = query(printer, uri);
        const bool answered = asked.outcome == Asked::Answered;
        const PjlStatus status = ParsePjlStatus(answered ? statusAnswer(asked.text) : "");
        const std::string identity = answered ? identityProblem(printer, identityAnswer(asked.text)) : "";
        Condition now;
        if (status.valid) {
            PrinterCondition meaning = ConditionOf(status, isColour(printer));
            now = {papplReasons(meaning.reasons), std::move(meaning.text)};
        }
        // A printer that cannot be reached is offline; one that does not
        // answer says nothing, and what it said before goes.
        if (asked.outcome == Asked::Unreachable) now = {PAPPL_PREASON_OFFLINE, asked.text};
        std::lock_guard<std::mutex> hold(knownLock);
        Known& k = known[id];
        k.asking = false;
        if (asked.outcome == Asked::Busy) {
            // Asked again as soon as the job is done.
            k.askedAt = {};
        } else {
            k.answered = status.valid || asked.outcome == Asked::Unreachable;
            k.pjl = now;
            if (answered && identity != k.identity) {
                if (!identity.empty()) papplLogPrinter(printer, PAPPL_LOGLEVEL_WARN, "%s", identity.c_str());
                k.identity = identity;
            }
            k.retry = status.valid ? kAskEvery
                      : asked.outcome == Asked::Unreachable ? kAskUnreachableEvery
                                                            : kAskSilentEvery;
        }
    }
    showState(printer, id, LastSnmp(id));
    return true;
}

void StatusAroundJob(pappl_printer_t* printer)
{
    const char* uri = papplPrinterGetDeviceURI(printer);
    if (polling && uri != nullptr) AskSnmpSoon(papplPrinterGetID(printer), uri, true);
}

void AddSuppliesPage(pappl_printer_t* printer)
{
    // printer-supply-info-uri names "<printer>/supplies"; PAPPL 1.3 serves
    // nothing there unless the driver reports levels it does not have.
    char path[1024];
    papplPrinterGetPath(printer, "supplies", path, sizeof path);
    papplSystemAddResourceCallback(papplPrinterGetSystem(printer), path, "text/html", suppliesPage, printer);
    papplPrinterAddLink(printer, "Supplies", path, PAPPL_LOPTIONS_STATUS);
}

}  // namespace pdftopjl::app
