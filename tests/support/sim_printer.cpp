#include "support/sim_printer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <cstdlib>
#include <list>

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

}  // namespace

SimPrinter::SimPrinter(int port)
{
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
        poll(fds.data(), fds.size(), 100);
        char drained[64];
        while (read(wake_[0], drained, sizeof drained) > 0) {
        }
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
