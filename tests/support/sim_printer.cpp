#include "support/sim_printer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
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
    thread_ = std::thread([this] { run(); });
}

SimPrinter::~SimPrinter()
{
    stop_ = true;
    thread_.join();
    close(listener_);
}

void SimPrinter::Set(State state)
{
    std::lock_guard<std::mutex> hold(lock_);
    state_ = state;
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

bool SimPrinter::answerQueries(Connection& c)
{
    // Queries come as whole lines; a job's PDF is never searched.
    if (c.data.find("@PJL JOB") != std::string::npos) return true;
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
        send(c.fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    }
    return true;
}

void SimPrinter::finish(Connection& c)
{
    close(c.fd);
    if (c.data.find("@PJL JOB") == std::string::npos) return;
    const pdftopjl::JobStream stream = pdftopjl::ParseJobStream(std::string_view(c.data));
    std::lock_guard<std::mutex> hold(lock_);
    jobs_.push_back({stream.valid, stream.error, std::string(stream.body)});
    changed_.notify_all();
}

void SimPrinter::run()
{
    std::list<Connection> connections;
    while (!stop_) {
        std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
        for (const Connection& c : connections) fds.push_back({c.fd, POLLIN, 0});
        if (poll(fds.data(), fds.size(), 100) <= 0) continue;
        size_t i = 1;
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
            if (open) {
                ++c;
            } else {
                finish(*c);
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
