// SPDX-License-Identifier: Apache-2.0
#include "support/sim_printer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>

#include "host/snmp.hpp"
#include "pjl/jobstream.hpp"

namespace testsupport {

namespace {

struct Status {
    const char* code;
    const char* display;
    bool online;
};

// Status codes as PJL printers report them: 10xxx informational, 40xxx
// operator intervention, 41xyy load paper in tray x, 42xyy jam.
Status statusOf(SimPrinter::State state)
{
    switch (state) {
    case SimPrinter::State::Ready: return {"10001", "Ready", true};
    case SimPrinter::State::TonerLow: return {"10006", "Toner low", true};
    case SimPrinter::State::PaperOutTray2: return {"41202", "Load tray 2 A4", true};
    case SimPrinter::State::Jam: return {"42001", "Paper jam", true};
    case SimPrinter::State::DoorOpen: return {"40021", "Close front door", true};
    case SimPrinter::State::Offline: return {"10002", "Offline", false};
    case SimPrinter::State::Busy: return {"10023", "Printing", true};
    }
    return {"10001", "Ready", true};
}

namespace snmp = pdftopjl::snmp;

// hrPrinterDetectedErrorState, two bytes, first bit highest.
constexpr unsigned kLowToner = 0x2000, kDoorOpen = 0x0800, kJammed = 0x0400, kOffline = 0x0200,
                   kInputTrayEmpty = 0x0004;

// What the printer's MIB holds in a state: one black toner cartridge in
// percent and an imaging drum whose level the printer does not know.
std::map<snmp::Oid, snmp::Value> mibOf(SimPrinter::State state, int jobs)
{
    using S = SimPrinter::State;
    const unsigned bits = state == S::TonerLow        ? kLowToner
                          : state == S::PaperOutTray2 ? kInputTrayEmpty
                          : state == S::Jam           ? kJammed
                          : state == S::DoorOpen      ? kDoorOpen
                          : state == S::Offline       ? kOffline
                                                      : 0;
    auto number = [](int64_t n, uint8_t tag = snmp::kInteger) { return snmp::Value{tag, n, "", {}}; };
    auto text = [](std::string t) { return snmp::Value{snmp::kOctetString, 0, std::move(t), {}}; };
    const snmp::Oid printerMib = {1, 3, 6, 1, 2, 1, 43};
    auto in = [&](std::initializer_list<uint32_t> rest) {
        snmp::Oid oid = printerMib;
        oid.insert(oid.end(), rest);
        return oid;
    };
    std::map<snmp::Oid, snmp::Value> mib = {
        {{1, 3, 6, 1, 2, 1, 1, 1, 0}, text("ZARELLE ZX-4200 (simulated)")},               // sysDescr
        {{1, 3, 6, 1, 2, 1, 1, 5, 0}, text("zx4200-sim")},                                 // sysName
        {{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 3, 1}, text("ZARELLE ZX-4200")},                 // hrDeviceDescr
        {{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1}, number(state == S::Busy ? 4 : 3)},          // hrPrinterStatus
        {{1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1},                                            // hrPrinterDetectedErrorState
         text(std::string{static_cast<char>(bits >> 8), static_cast<char>(bits & 0xff)})},
        {in({5, 1, 1, 2, 1}), number(1)},                 // prtGeneralCurrentLocalization
        {in({7, 1, 1, 4, 1, 1}), number(106)},            // prtLocalizationCharacterSet: UTF-8
        {in({10, 2, 1, 4, 1, 1}), number(jobs, snmp::kCounter32)},  // prtMarkerLifeCount
        {in({12, 1, 1, 4, 1, 1}), text("black")},         // prtMarkerColorantValue
    };
    struct Supply {
        int colorant, type, unit, max, level;
        const char* description;
    };
    // Type 3 toner, 9 opc; unit 19 percent, 7 impressions; -2 unknown, -3 some left.
    const Supply supplies[] = {{1, 3, 19, 100, state == S::TonerLow ? 5 : 80, "Black Toner"},
                               {0, 9, 7, -2, -3, "Imaging Drum"}};
    for (uint32_t i = 1; i <= 2; ++i) {
        const Supply& s = supplies[i - 1];
        mib[in({11, 1, 1, 2, 1, i})] = number(1);  // prtMarkerSuppliesMarkerIndex
        mib[in({11, 1, 1, 3, 1, i})] = number(s.colorant);
        mib[in({11, 1, 1, 4, 1, i})] = number(3);  // class: consumed
        mib[in({11, 1, 1, 5, 1, i})] = number(s.type);
        mib[in({11, 1, 1, 6, 1, i})] = text(s.description);
        mib[in({11, 1, 1, 7, 1, i})] = number(s.unit);
        mib[in({11, 1, 1, 8, 1, i})] = number(s.max);
        mib[in({11, 1, 1, 9, 1, i})] = number(s.level);
    }
    return mib;
}

// Binds UDP port 161 on a loopback address no other printer has; the
// address, or empty with why not.
int bindSnmp(std::string* host, std::string* problem)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    static std::atomic<unsigned> next{static_cast<unsigned>(getpid()) * 37u};
    for (int attempt = 0; attempt < 200; ++attempt) {
        const unsigned n = next++ % (250 * 250);
        const std::string address = "127.0." + std::to_string(1 + n / 250) + "." + std::to_string(2 + n % 250);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(161);
        inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            *host = address;
            return fd;
        }
        if (errno != EADDRINUSE) {
            *problem = "cannot bind UDP port 161 for the simulated printer's SNMP (" + std::string(std::strerror(errno)) +
                       "; it needs root)";
            break;
        }
    }
    if (problem->empty()) *problem = "no loopback address with UDP port 161 free";
    close(fd);
    return -1;
}

}  // namespace

SimPrinter::SimPrinter(int port)
{
    if (port == 0) snmp_ = bindSnmp(&host_, &snmpProblem_);
    else snmpProblem_ = "a printer on a given port has no SNMP";
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host_.c_str(), &addr.sin_addr);
    socklen_t length = sizeof addr;
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 8);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    pipe2(wake_, O_CLOEXEC | O_NONBLOCK);
    thread_ = std::thread([this] { run(); });
}

SimPrinter::~SimPrinter()
{
    stop_ = true;
    wake();
    thread_.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
    if (snmp_ >= 0) close(snmp_);
}

void SimPrinter::SetSnmp(bool answers)
{
    std::lock_guard<std::mutex> hold(lock_);
    snmpAnswers_ = answers;
}

void SimPrinter::answerSnmp()
{
    char buffer[65536];
    sockaddr_storage from{};
    socklen_t fromLength = sizeof from;
    const ssize_t n = recvfrom(snmp_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n <= 0) return;
    const auto request = snmp::Decode(std::string_view(buffer, static_cast<size_t>(n)));
    if (!request || request->community != "public" || request->pdu == snmp::kResponse ||
        (request->pdu == snmp::kGetBulk && request->version == snmp::kVersion1))
        return;
    ++snmpRequests_;
    std::map<snmp::Oid, snmp::Value> mib;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (!snmpAnswers_) return;
        mib = mibOf(state_, static_cast<int>(jobs_.size()));
    }
    snmp::Message response = *request;
    response.pdu = snmp::kResponse;
    response.errorStatus = response.errorIndex = 0;
    response.vars.clear();
    const bool v1 = request->version == snmp::kVersion1;
    // The entry after `oid`, or none (v1: the request fails with noSuchName).
    auto after = [&](const snmp::Oid& oid, snmp::VarBind* var) {
        const auto it = mib.upper_bound(oid);
        if (it == mib.end()) {
            *var = {oid, {snmp::kEndOfMibView, 0, "", {}}};
            return false;
        }
        *var = {it->first, it->second};
        return true;
    };
    if (request->pdu == snmp::kGetBulk) {
        const size_t count = request->vars.size();
        const size_t nonRepeaters = std::min<size_t>(std::max(request->errorStatus, 0), count);
        const int repetitions = std::min(std::max(request->errorIndex, 0), 32);
        snmp::VarBind var;
        for (size_t i = 0; i < nonRepeaters; ++i) {
            after(request->vars[i].oid, &var);
            response.vars.push_back(var);
        }
        std::vector<snmp::Oid> cursors;
        for (size_t i = nonRepeaters; i < count; ++i) cursors.push_back(request->vars[i].oid);
        for (int r = 0; r < repetitions && !cursors.empty(); ++r) {
            bool any = false;
            for (snmp::Oid& cursor : cursors) {
                any = after(cursor, &var) || any;
                cursor = var.oid;
                response.vars.push_back(var);
            }
            if (!any) break;
        }
    } else {
        for (size_t i = 0; i < request->vars.size(); ++i) {
            const snmp::Oid& oid = request->vars[i].oid;
            snmp::VarBind var;
            bool found;
            if (request->pdu == snmp::kGet) {
                const auto it = mib.find(oid);
                found = it != mib.end();
                var = found ? snmp::VarBind{oid, it->second} : snmp::VarBind{oid, {snmp::kNoSuchInstance, 0, "", {}}};
            } else {
                found = after(oid, &var);
            }
            if (!found && v1) {
                response.errorStatus = snmp::kNoSuchName;
                response.errorIndex = static_cast<int32_t>(i + 1);
                response.vars = request->vars;
                break;
            }
            response.vars.push_back(var);
        }
    }
    const std::string packet = snmp::Encode(response);
    sendto(snmp_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
}

void SimPrinter::wake() { (void)!write(wake_[1], "", 1); }

void SimPrinter::Set(State state)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        state_ = state;
    }
    wake();
}

void SimPrinter::Hold(bool on)
{
    {
        std::lock_guard<std::mutex> hold(lock_);
        hold_ = on;
    }
    wake();
}

void SimPrinter::Set(Mode mode)
{
    std::lock_guard<std::mutex> hold(lock_);
    mode_ = mode;
}

std::string SimPrinter::StatusAnswer(State state)
{
    const Status s = statusOf(state);
    return std::string("@PJL INFO STATUS\r\nCODE=") + s.code + "\r\nDISPLAY=\"" + s.display + "\"\r\nONLINE=" +
           (s.online ? "TRUE" : "FALSE") + "\r\n\f";
}

std::vector<SimPrinter::Job> SimPrinter::WaitForJobs(size_t count, int timeoutMs)
{
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return jobs_.size() >= count; });
    return jobs_;
}

void SimPrinter::send(Connection& c, State state, const char* kind)
{
    std::string message = StatusAnswer(state);
    message.replace(0, message.find('\r'), kind);
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (mode_ == Mode::Silent) return;
        if (mode_ == Mode::Drop) message.resize(message.size() / 2);
    }
    ::send(c.fd, message.data(), message.size(), MSG_NOSIGNAL);
}

bool SimPrinter::serveJob(Connection& c)
{
    // Header lines up to the switch to PDF, then, past the FSIZ bytes of the
    // PDF (never searched), the trailer's.
    for (size_t end; (end = c.data.find('\n', c.scanned)) != std::string::npos;) {
        // A held job is being printed: what follows it waits until then.
        if (c.bodyEnd != std::string::npos) {
            std::lock_guard<std::mutex> hold(lock_);
            if (hold_) break;
        }
        const std::string line = c.data.substr(c.scanned, end - c.scanned);
        c.scanned = end + 1;
        if (c.bodyEnd == std::string::npos) {
            if (line.find("@PJL USTATUS DEVICE") != std::string::npos) {
                c.statusChanges = line.find("OFF") == std::string::npos;
                std::lock_guard<std::mutex> hold(lock_);
                c.told = state_;
            } else if (line.find("@PJL INFO STATUS") != std::string::npos) {
                ++queries_;
                State now;
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    now = c.told = state_;
                }
                send(c, now, "@PJL INFO STATUS");
            } else if (line == "@PJL ENTER LANGUAGE=PDF") {
                const size_t fsiz = c.data.rfind("@FSIZ=", c.scanned);
                c.bodyEnd = c.scanned + (fsiz == std::string::npos ? 0 : std::strtoull(c.data.c_str() + fsiz + 6, nullptr, 10));
                c.scanned = c.bodyEnd;
            }
        } else if (line.find("@PJL USTATUSOFF") != std::string::npos) {
            c.statusChanges = false;
        }
        if (c.scanned > c.data.size()) break;
    }
    return true;
}

void SimPrinter::record(Connection& c)
{
    const pdftopjl::JobStream stream = pdftopjl::ParseJobStream(std::string_view(c.data));
    std::lock_guard<std::mutex> hold(lock_);
    jobs_.push_back({stream.valid, stream.error, std::string(stream.body)});
    changed_.notify_all();
}

bool SimPrinter::answerQueries(Connection& c)
{
    // Queries come as whole lines; a job's PDF is never searched.
    if (c.data.find("@PJL JOB") != std::string::npos) return serveJob(c);
    for (size_t end; (end = c.data.find('\n', c.scanned)) != std::string::npos; c.scanned = end + 1) {
        const std::string line = c.data.substr(c.scanned, end - c.scanned);
        const bool status = line.find("@PJL INFO STATUS") != std::string::npos;
        const bool id = line.find("@PJL INFO ID") != std::string::npos;
        if (!status && !id) continue;
        ++queries_;
        std::string answer;
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (mode_ == Mode::Drop) return false;
            if (mode_ == Mode::Silent) continue;
            answer = status ? StatusAnswer(state_) : "@PJL INFO ID\r\n\"ZARELLE ZX-4200\"\r\n\f";
        }
        ::send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    return true;
}

void SimPrinter::run()
{
    std::list<Connection> connections;
    while (!stop_) {
        std::vector<pollfd> fds = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        for (const Connection& c : connections) fds.push_back({c.held ? -1 : c.fd, POLLIN, 0});
        if (snmp_ >= 0) fds.push_back({snmp_, POLLIN, 0});
        poll(fds.data(), fds.size(), 100);
        char drained[64];
        while (read(wake_[0], drained, sizeof drained) > 0) {
        }
        if (snmp_ >= 0 && (fds.back().revents & POLLIN)) answerSnmp();
        size_t i = 2;
        for (auto c = connections.begin(); c != connections.end(); ++i) {
            bool open = true;
            if (fds[i].revents != 0) {
                char buffer[65536];
                const ssize_t n = read(c->fd, buffer, sizeof buffer);
                if (n > 0) {
                    c->data.append(buffer, static_cast<size_t>(n));
                    open = answerQueries(*c);
                } else {
                    open = false;
                }
            }
            const bool job = c->data.find("@PJL JOB") != std::string::npos;
            if (!open && job && !c->held) record(*c);
            State now;
            bool hold;
            {
                std::lock_guard<std::mutex> guard(lock_);
                now = state_;
                hold = hold_;
            }
            // A job whose sender is done stays open while held.
            if (!open && job && hold) {
                open = true;
                c->held = true;
            }
            if (c->held && !hold) open = false;
            if (open && c->statusChanges && now != c->told) {
                c->told = now;
                send(*c, now, "@PJL USTATUS DEVICE");
            }
            if (open) {
                ++c;
            } else {
                close(c->fd);
                c = connections.erase(c);
            }
        }
        // Only after the polled ones: a new connection has no entry in fds yet.
        if (fds[0].revents & POLLIN) {
            if (const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); fd >= 0)
                connections.push_back({fd, ""});
        }
    }
    for (Connection& c : connections) close(c.fd);
}

}  // namespace testsupport
