// SPDX-License-Identifier: Apache-2.0
// pdftopjl-app under faults: pages and sub-commands that could bring it
// down, crashes (SIGKILL) while it saves or prints, a printer that stops
// taking data.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <random>
#include <thread>

#include "app_server.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using apptest::AppServer;

namespace {

using Clock = std::chrono::steady_clock;

// A printer on socket://: it takes connections, and their data only once
// told to read; until then the connection stalls (its buffers are small).
class SocketPrinter {
public:
    SocketPrinter()
    {
        listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int small = 4096;
        setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(listener_, 8);
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &length);
        port_ = ntohs(addr.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~SocketPrinter()
    {
        stop_ = true;
        thread_.join();
        for (int fd : connections_) close(fd);
        close(listener_);
    }
    std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
    void StartReading() { reading_ = true; }
    // What came, once `text` is in it or 10 s have passed.
    std::string Received(const std::string& text)
    {
        for (int waited = 0; waited < 10000; waited += 100) {
            {
                std::lock_guard<std::mutex> hold(lock_);
                if (data_.find(text) != std::string::npos) break;
            }
            usleep(100000);
        }
        std::lock_guard<std::mutex> hold(lock_);
        return data_;
    }

private:
    void run()
    {
        while (!stop_) {
            std::vector<pollfd> fds = {{listener_, POLLIN, 0}};
            for (int fd : connections_) fds.push_back({fd, static_cast<short>(reading_ ? POLLIN : 0), 0});
            if (poll(fds.data(), fds.size(), 100) <= 0) continue;
            if (fds[0].revents & POLLIN) connections_.push_back(accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC));
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                char buffer[65536];
                const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
                std::lock_guard<std::mutex> hold(lock_);
                if (n > 0) data_.append(buffer, static_cast<size_t>(n));
            }
        }
    }
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> connections_;
    std::atomic<bool> stop_{false}, reading_{false};
    std::mutex lock_;
    std::string data_;
    std::thread thread_;
};

class AppRuntime : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
        std::string error;
        ASSERT_TRUE(server_.Start(&error) && server_.AddPrinter("zx", &error)) << error;
        WriteFile(docs_.file("small.pdf"), MakePdf(2, 595, 842));
    }

    int Print(const std::string& printer, const std::string& document, const std::string& name,
              const std::vector<std::string>& operationAttrs = {})
    {
        std::string report;
        const int id = apptest::PrintWithIpptool(server_.PrinterUri(printer), document, "application/pdf", name,
                                                 operationAttrs, {}, docs_.path(), &report);
        EXPECT_GT(id, 0) << report << server_.Log();
        return id;
    }

    std::string StateOf(const std::string& printer, int id) { return server_.JobAttributes(printer, id)["job-state"]; }

    bool WaitForState(const std::string& printer, int id, const std::string& state, int timeoutMs)
    {
        for (int waited = 0; waited < timeoutMs; waited += 100) {
            if (StateOf(printer, id) == state) return true;
            usleep(100000);
        }
        return false;
    }

    // The server answers IPP and its web interface.
    void ExpectServing(const std::string& after)
    {
        EXPECT_EQ(server_.Ended(), "") << after;
        EXPECT_EQ(server_.FetchPage("/"), 200) << after;
        RunResult printers = server_.Command({"printers"});
        EXPECT_NE(printers.out.find("zx"), std::string::npos) << after << printers.err;
    }

    AppServer server_;
    TempDir docs_;
};

// Every page of the web interface and every sub-command, with or without
// avahi-daemon (this machine runs none): the server is still there after.
TEST_F(AppRuntime, NoPageOrSubCommandTakesTheServerDown)
{
    for (const char* page : {"/", "/addprinter", "/config", "/logs", "/logfile.txt", "/network", "/security",
                             "/tls-install-crt", "/tls-new-crt", "/tls-new-csr", "/zx/", "/zx/config",
                             "/zx/jobs", "/zx/media", "/zx/printing", "/zx/supplies", "/zx/cancelall",
                             "/zx/delete", "/nosuchpage"}) {
        server_.FetchPage(page);
        ExpectServing(page);
    }
    const std::vector<std::vector<std::string>> commands = {
        {"devices"}, {"drivers"}, {"printers"}, {"jobs", "-d", "zx"}, {"status"}, {"options", "-d", "zx"},
        {"autoadd"}, {"cancel", "-d", "zx", "-j", "999"}, {"submit", "-d", "zx", docs_.file("small.pdf")},
        {"add", "-d", "dnssd", "-m", "zarelle_zx4200", "-v", "dnssd://Nobody._pdl-datastream._tcp.local./"},
        {"submit", "-d", "dnssd", docs_.file("small.pdf")}, {"default", "-d", "zx"},
        {"modify", "-d", "zx", "-o", "printer-location=here"}, {"pause", "-d", "zx"}, {"resume", "-d", "zx"},
        {"delete", "-d", "dnssd"}};
    for (const auto& command : commands) {
        RunResult r = server_.Command(command, 120000);
        EXPECT_FALSE(r.timedOut) << command[0];
        ExpectServing(command[0] + " " + r.err);
    }
    EXPECT_EQ(server_.Log().find("F ["), std::string::npos) << server_.Log();

    // A sub-command that makes a system of its own leaves no log behind.
    TempDir tmp;
    RunOptions drivers;
    drivers.program = PDFTOPJL_APP_BINARY;
    drivers.args = {"pdftopjl-app", "drivers"};
    drivers.env["TMPDIR"] = tmp.path();
    drivers.env["SNAP_COMMON"] = server_.Dir();
    if (const char* asan = getenv("ASAN_OPTIONS"))  // see tests/lsan.supp
        drivers.env["ASAN_OPTIONS"] = std::string(asan) + ":fast_unwind_on_malloc=0";
    EXPECT_EQ(RunProgram(drivers).exitCode, 0);
    EXPECT_EQ(tmp.entries(), std::vector<std::string>{});

    // A crash that happens anyway (an abort: sanitizers leave it alone) is
    // in the log.
    server_.Kill(SIGABRT);
    EXPECT_NE(server_.Log().find("F [crash] pdftopjl-app: fatal signal 6 (SIGABRT)"), std::string::npos);
}

// SIGKILL at any moment, while the server saves its state over and over:
// printers and their defaults are always there after a restart.
TEST_F(AppRuntime, StateSurvivesKillsDuringSaves)
{
    const std::string set = docs_.file("set.test");
    WriteFile(set,
              "{\n OPERATION Set-Printer-Attributes\n GROUP operation-attributes-tag\n"
              " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
              " ATTR uri printer-uri $uri\n ATTR name requesting-user-name root\n"
              " GROUP printer-attributes-tag\n ATTR keyword print-color-mode-default $color\n"
              " ATTR text printer-location \"$location\"\n STATUS successful-ok\n}\n");
    ASSERT_EQ(apptest::RunIpptool({"-d", "color=monochrome", "-d", "location=start", server_.PrinterUri("zx"), set})
                  .exitCode,
              0);
    const std::string get = docs_.file("get.test");
    WriteFile(get,
              "{\n OPERATION Get-Printer-Attributes\n GROUP operation-attributes-tag\n"
              " ATTR charset attributes-charset utf-8\n ATTR naturalLanguage attributes-natural-language en\n"
              " ATTR uri printer-uri $uri\n ATTR keyword requested-attributes print-color-mode-default\n"
              " STATUS successful-ok\n DISPLAY print-color-mode-default\n}\n");
    std::mt19937 random(7);
    for (int round = 0; round < 12; ++round) {
        std::atomic<bool> stop{false};
        std::thread changes([&] {
            for (int i = 0; !stop; ++i)
                apptest::RunIpptool({"-d", "color=monochrome", "-d", "location=round" + std::to_string(i),
                                     server_.PrinterUri("zx"), set},
                                    5000);
        });
        usleep(200000 + random() % 800000);
        server_.Kill();
        stop = true;
        changes.join();
        std::string error;
        ASSERT_TRUE(server_.Start(&error)) << "round " << round << ": " << error;
        auto printer = apptest::RunIpptool({"-t", "-T", "5", server_.PrinterUri("zx"), get});
        EXPECT_NE(printer.out.find("print-color-mode-default (keyword) = monochrome"), std::string::npos)
            << "round " << round << ": " << printer.out << server_.Log();
    }
    EXPECT_FALSE(std::filesystem::exists(server_.Dir() + "/pdftopjl-app.state.new"));
}


class AppRuntimeJobs : public AppRuntime {
protected:
    void SetUp() override
    {
        AppRuntime::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(server_.AddPrinter("net", &error, printer_.Uri())) << error;
        // More than the connection's buffers hold.
        std::string noise(6 << 20, '\0');
        std::mt19937 random(11);
        for (char& c : noise) c = static_cast<char>(random());
        WriteFile(docs_.file("large.pdf"), MakePdfCarrying(noise));
    }
    SocketPrinter printer_;
};

// A printer that stops taking data: Cancel-Job still ends the job within
// 5 s, and the next job prints once the printer reads again.
TEST_F(AppRuntimeJobs, CancelEndsAJobOnAStalledPrinter)
{
    const int large = Print("net", docs_.file("large.pdf"), "Large");
    ASSERT_TRUE(WaitForState("net", large, "processing", 30000)) << StateOf("net", large);
    sleep(1);
    const int next = Print("net", docs_.file("small.pdf"), "Next");
    const auto asked = Clock::now();
    RunResult cancel = server_.Command({"cancel", "-d", "net", "-j", std::to_string(large)});
    ASSERT_EQ(cancel.exitCode, 0) << cancel.err;
    EXPECT_TRUE(WaitForState("net", large, "canceled", 5000)) << StateOf("net", large);
    EXPECT_LE(Clock::now() - asked, std::chrono::seconds(5));

    printer_.StartReading();
    EXPECT_EQ(server_.WaitForJob("net", next, 60000)["job-state"], "completed") << server_.Log();
    EXPECT_NE(printer_.Received("DNAME=Next").find("@PJL COMMENT DNAME=Next"), std::string::npos);
}

// SIGKILL while a job prints and stored jobs wait: after the restart the
// printing job is aborted saying why, the waiting ones print in their order
// with their passcodes (one whose passcode cannot be read back does not
// print), and no file of theirs is left behind.
TEST_F(AppRuntimeJobs, CrashWhilePrintingLosesNothing)
{
    const int large = Print("net", docs_.file("large.pdf"), "Large");
    ASSERT_TRUE(WaitForState("net", large, "processing", 30000)) << StateOf("net", large);
    std::vector<int> stored;
    for (const char* code : {"1111", "2222", "3333", "4444"})
        stored.push_back(Print("net", docs_.file("small.pdf"), std::string("Stored") + code,
                               {std::string("ATTR octetString job-password ") + code,
                                "ATTR keyword job-password-encryption none"}));
    sleep(2);  // PAPPL saves its state about once a second
    server_.Kill();
    const std::string spool = server_.Dir() + "/pdftopjl-app.d";
    char lostKey[32];
    std::snprintf(lostKey, sizeof lostKey, "j%09d.key", stored.back());
    for (const auto& entry : std::filesystem::directory_iterator(spool))
        if (entry.path().filename().string().ends_with(lostKey)) WriteFile(entry.path().string(), "");
    printer_.StartReading();
    std::string error;
    ASSERT_TRUE(server_.Start(&error)) << error;

    auto aborted = server_.WaitForJob("net", large, 10000);
    EXPECT_EQ(aborted["job-state"], "aborted");
    EXPECT_NE(aborted["job-state-message"].find("server stopped"), std::string::npos);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(server_.WaitForJob("net", stored[i], 60000)["job-state"], "completed") << server_.Log();
    auto lost = server_.WaitForJob("net", stored.back(), 60000);
    EXPECT_EQ(lost["job-state"], "aborted");
    EXPECT_NE(lost["job-state-message"].find("passcode was lost"), std::string::npos);
    const std::string received = printer_.Received("HOLDENCRYPTKEY=\"3333\"");
    size_t last = 0;
    for (const char* code : {"1111", "2222", "3333"}) {
        const size_t at = received.find(std::string("@PJL SET HOLDENCRYPTKEY=\"") + code + "\"");
        ASSERT_NE(at, std::string::npos) << code;
        EXPECT_GT(at, last) << code << " printed out of order";
        last = at;
    }
    EXPECT_EQ(received.find("Stored4444"), std::string::npos);
    const int after = Print("net", docs_.file("small.pdf"), "After");
    EXPECT_GT(after, stored.back());
    EXPECT_EQ(server_.WaitForJob("net", after, 60000)["job-state"], "completed");

    // Only the (empty) work folder stays in the spool, once PAPPL has
    // removed the last job's files, which it does just after the job ends.
    std::vector<std::string> left;
    for (int waited = 0; waited < 5000; waited += 100) {
        left.clear();
        for (const auto& entry : std::filesystem::recursive_directory_iterator(spool))
            left.push_back(entry.path().filename().string());
        if (left == std::vector<std::string>{"work"}) break;
        usleep(100000);
    }
    EXPECT_EQ(left, std::vector<std::string>{"work"});

    // Nothing holds up the server's shutdown.
    EXPECT_EQ(server_.Command({"shutdown"}).exitCode, 0);
    std::string ended;
    for (int waited = 0; waited < 10000 && ended.empty(); waited += 100) {
        usleep(100000);
        ended = server_.Ended();
    }
    EXPECT_NE(ended, "");
}

// A folder gets one file per job, named after the job and its id, never
// over another; a job that does not print leaves none.
TEST_F(AppRuntime, FolderGetsAFilePerJob)
{
    const int first = Print("zx", docs_.file("small.pdf"), "Untitled");
    const int second = Print("zx", docs_.file("small.pdf"), "Untitled");
    WriteFile(docs_.file("broken.pdf"), "%PDF-1.7\nnot a PDF\n");
    const int broken = Print("zx", docs_.file("broken.pdf"), "Broken");
    for (int id : {first, second}) ASSERT_EQ(server_.WaitForJob("zx", id, 60000)["job-state"], "completed");
    ASSERT_EQ(server_.WaitForJob("zx", broken, 60000)["job-state"], "aborted");
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(server_.OutputDir("zx")))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"Untitled-" + std::to_string(first) + ".prn",
                                               "Untitled-" + std::to_string(second) + ".prn"}));
}

}  // namespace
