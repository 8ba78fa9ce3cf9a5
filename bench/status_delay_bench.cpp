// SPDX-License-Identifier: Apache-2.0
// How long a small job takes from Print-Job to the printer while a client
// watches the printer (Get-Printer-Attributes every 250 ms, which is what
// starts status queries), for a simulated printer that answers, one whose
// SNMP is silent, one silent altogether, one that drops the connection on a
// status query, and with status-poll=off.
//   status_delay_bench APP PDF WORKDIR JOBS [PRINTER]
// PRINTER: only the rows whose name contains it (status-poll=off always).
#include <cups/cups.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_printer.hpp"

using Clock = std::chrono::steady_clock;
using testsupport::SimPrinter;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size);
    close(fd);
    return ntohs(addr.sin_port);
}

int run(const std::string& app, const std::string& dir, std::vector<std::string> args, bool wait)
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("SNAP_COMMON", dir.c_str(), 1);
        freopen("/dev/null", "w", stdout);
        freopen((dir + "/server.err").c_str(), "a", stderr);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(app.c_str(), argv.data());
        _exit(127);
    }
    if (!wait) return pid;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ipp_t* request(ipp_op_t op, const std::string& uri)
{
    ipp_t* r = ippNewRequest(op);
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri.c_str());
    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "bench");
    return r;
}

struct Figures {
    std::vector<double> jobs, duringQuery, answers;
};

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}
double maximum(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

Figures measure(const std::string& app, const std::string& pdf, const std::string& dir, int jobs, bool poll,
                SimPrinter::Mode mode, bool snmp)
{
    Figures f;
    SimPrinter sim;
    sim.Set(mode);
    sim.SetSnmp(snmp);
    const int port = freePort();
    std::vector<std::string> server = {"pdftopjl-app", "server", "-o", "server-port=" + std::to_string(port),
                                       "-o", "log-file=" + dir + "/log", "-o", "log-level=" + std::string(getenv("BENCH_LOG_LEVEL") ? getenv("BENCH_LOG_LEVEL") : "warn")};
    if (!poll) server.insert(server.end(), {"-o", "status-poll=off"});
    const pid_t pid = run(app, dir, server, false);
    http_t* http = nullptr;
    for (int i = 0; i < 100 && http == nullptr; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 1000, nullptr);
    }
    if (http == nullptr ||
        run(app, dir, {"pdftopjl-app", "add", "-d", "b", "-m", "zarelle_zx4200", "-v", sim.Uri()}, true) != 0) {
        std::fprintf(stderr, "the server did not start (%s)\n", dir.c_str());
        exit(1);
    }
    const std::string uri = "ipp://127.0.0.1:" + std::to_string(port) + "/ipp/print/b";
    std::atomic<bool> stop{false};
    std::thread watcher([&] {
        http_t* own = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
        while (!stop) {
            const auto start = Clock::now();
            ipp_t* get = request(IPP_OP_GET_PRINTER_ATTRIBUTES, uri);
            static const char* const wanted[] = {"printer-state", "printer-state-reasons", "marker-levels"};
            ippAddStrings(get, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, wanted);
            ippDelete(cupsDoRequest(own, get, "/ipp/print/b"));
            f.answers.push_back(ms(Clock::now() - start));
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        httpClose(own);
    });
    // Jobs land anywhere in the queries' cycle.
    std::mt19937 random(7);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    auto print = [&](size_t count, std::vector<double>* into) {
        // A connection of its own: one left idle while a silent printer is
        // waited for is closed by the server.
        const auto start = Clock::now();
        http_t* conn = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
        ipp_t* print = request(IPP_OP_PRINT_JOB, uri);
        ippAddString(print, IPP_TAG_OPERATION, IPP_TAG_MIMETYPE, "document-format", nullptr, "application/pdf");
        ipp_t* answer = cupsDoFileRequest(conn, print, "/ipp/print/b", pdf.c_str());
        const int id = ippGetInteger(ippFindAttribute(answer, "job-id", IPP_TAG_INTEGER), 0);
        ippDelete(answer);
        if (sim.WaitForJobs(count, 60000).size() != count) {
            ipp_t* get = request(IPP_OP_GET_JOB_ATTRIBUTES, uri);
            ippAddInteger(get, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", id);
            ipp_t* job = cupsDoRequest(conn, get, "/ipp/print/b");
            char state[256] = "", message[256] = "";
            ippAttributeString(ippFindAttribute(job, "job-state", IPP_TAG_ENUM), state, sizeof state);
            ippAttributeString(ippFindAttribute(job, "job-state-message", IPP_TAG_TEXT), message, sizeof message);
            ippDelete(job);
            std::fprintf(stderr, "job %d (%zu) did not reach the printer: %s, %s (%s/log)\n", id, count, state, message,
                         dir.c_str());
            httpClose(conn);
            kill(pid, SIGTERM);
            waitpid(pid, nullptr, 0);
            exit(1);
        }
        into->push_back(ms(Clock::now() - start));
        httpClose(conn);
    };
    size_t sent = 0;
    for (int i = 0; i < jobs; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 900));
        print(++sent, &f.jobs);
    }
    // The worst moment: just as a status query has gone out (a printer that
    // does not answer is asked once a minute).
    for (int i = 0; poll && i < 3; ++i) {
        const int queries = sim.StatusQueries();
        const auto until = Clock::now() + std::chrono::seconds(70);
        while (sim.StatusQueries() == queries && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        print(++sent, &f.duringQuery);
    }
    stop = true;
    watcher.join();
    httpClose(http);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: status_delay_bench APP PDF WORKDIR JOBS [PRINTER]\n");
        return 2;
    }
    const std::string app = argv[1], pdf = argv[2], work = argv[3];
    const int jobs = std::atoi(argv[4]);
    struct Config {
        const char* name;
        bool poll;
        SimPrinter::Mode mode;
        bool snmp;
    };
    const Config configs[] = {
        {"status-poll=off", false, SimPrinter::Mode::Answer, true},
        {"answering (PJL and SNMP)", true, SimPrinter::Mode::Answer, true},
        {"SNMP silent", true, SimPrinter::Mode::Answer, false},
        {"silent (PJL and SNMP)", true, SimPrinter::Mode::Silent, false},
        {"dropping PJL, no SNMP", true, SimPrinter::Mode::Drop, false},
    };
    {
        SimPrinter probe;
        if (!probe.SnmpProblem().empty()) std::printf("note: %s\n", probe.SnmpProblem().c_str());
    }
    std::printf("%-26s %10s %10s %10s %10s %14s %12s\n", "printer", "job med", "job max", "+med", "+max",
                "on query max", "answer max");
    std::fflush(stdout);
    double offMedian = 0, offMax = 0;
    int n = 0;
    for (const Config& c : configs) {
        if (argc == 6 && c.poll && !std::strstr(c.name, argv[5])) continue;
        const std::string dir = work + "/" + std::to_string(n++);
        mkdir(dir.c_str(), 0700);
        const Figures f = measure(app, pdf, dir, jobs, c.poll, c.mode, c.snmp);
        const double med = median(f.jobs), max = maximum(f.jobs);
        if (!c.poll) offMedian = med, offMax = max;
        std::printf("%-26s %8.1fms %8.1fms %8.1fms %8.1fms %12.1fms %10.1fms\n", c.name, med, max, med - offMedian,
                    max - offMax, maximum(f.duringQuery), maximum(f.answers));
        std::fflush(stdout);
    }
    return 0;
}
