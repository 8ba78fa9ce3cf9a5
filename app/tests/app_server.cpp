// SPDX-License-Identifier: Apache-2.0
#include "app_server.hpp"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "support/cupsd.hpp"
#include "support/process.hpp"

namespace apptest {

namespace {

const char kIpptool[] = "/usr/bin/ipptool";

// PAPPL leaks what its main loop parsed (tests/lsan.supp): LeakSanitizer
// needs whole stacks through PAPPL and libcups, built without frame
// pointers, to tell those leaks apart.
void unwindSlowlyUnderAsan()
{
    if (const char* asan = getenv("ASAN_OPTIONS"))
        setenv("ASAN_OPTIONS", (std::string(asan) + ":fast_unwind_on_malloc=0").c_str(), 1);
}

}  // namespace

std::string Unavailable()
{
    if (access(kIpptool, X_OK) != 0) return "ipptool is not installed (package cups-ipp-utils)";
    if (access(PDFTOPJL_APP_BINARY, X_OK) != 0) return "pdftopjl-app is not built";
    return "";
}

AppServer::AppServer() = default;

AppServer::~AppServer() { Stop(); }

std::string AppServer::PrinterUri(const std::string& printer) const
{
    return "ipp://127.0.0.1:" + std::to_string(port_) + "/ipp/print/" + printer;
}

std::string AppServer::OutputDir(const std::string& printer) const { return dir_.file("out-" + printer); }

std::string AppServer::JobFile(const std::string& printer, const std::string& jobName, int jobId) const
{
    if (jobId > 0) return OutputDir(printer) + "/" + jobName + "-" + std::to_string(jobId) + ".prn";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(OutputDir(printer), error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(jobName + "-") && name.ends_with(".prn")) return entry.path().string();
    }
    return OutputDir(printer) + "/" + jobName + "-0.prn";
}

std::string AppServer::Log() const { return testsupport::ReadFile(dir_.file("log")); }

std::string AppServer::Ended()
{
    int status = 0;
    if (pid_ <= 0 || waitpid(pid_, &status, WNOHANG) != pid_) return "";
    pid_ = -1;
    const std::string how = WIFSIGNALED(status) ? "killed by signal " + std::to_string(WTERMSIG(status))
                                                : "exited with status " + std::to_string(WEXITSTATUS(status));
    return "pdftopjl-app " + how + ": " + testsupport::ReadFile(dir_.file("server.out"));
}

bool AppServer::Start(std::string* error)
{
    // cupsd's filters (user lp) reach the output through this folder.
    chmod(dir_.path().c_str(), 0755);
    // A port free when chosen may be taken before the server binds it.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Launch(error)) return true;
        Stop();
    }
    return false;
}

bool AppServer::Launch(std::string* error)
{
    port_ = testsupport::FreeLoopbackPort();
    const pid_t pid = fork();
    if (pid < 0) {
        *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        // PAPPL puts a root server's socket, and this server its state and
        // spool, under SNAP_COMMON: each test server has its own.
        setenv("SNAP_COMMON", dir_.path().c_str(), 1);
        unwindSlowlyUnderAsan();
        if (!freopen(dir_.file("server.out").c_str(), "w", stdout) ||
            !freopen(dir_.file("server.out").c_str(), "a", stderr))
            _exit(126);
        const std::string port = "server-port=" + std::to_string(port_);
        const std::string log = "log-file=" + dir_.file("log");
        // The printers' output folders are the test's own.
        const std::string files = "file-device-folder=" + dir_.path();
        execl(PDFTOPJL_APP_BINARY, "pdftopjl-app", "server", "-o", port.c_str(), "-o", log.c_str(), "-o",
              "log-level=debug", "-o", files.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_ = pid;
    const std::string waited = testsupport::WaitForListener(&pid_, port_);
    if (waited.empty()) return true;
    *error = "pdftopjl-app " + waited + ": " + testsupport::ReadFile(dir_.file("server.out")) + Log();
    return false;
}

void AppServer::Stop() { testsupport::StopChild(&pid_, 10000); }

void AppServer::Kill(int signal)
{
    if (pid_ <= 0) return;
    kill(pid_, signal);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

testsupport::RunResult AppServer::Command(const std::vector<std::string>& args, int timeoutMs) const
{
    testsupport::RunOptions o;
    o.program = PDFTOPJL_APP_BINARY;
    o.args = {"pdftopjl-app"};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.env["SNAP_COMMON"] = dir_.path();
    o.timeoutMs = timeoutMs;
    if (const char* asan = getenv("ASAN_OPTIONS")) o.env["ASAN_OPTIONS"] = std::string(asan) + ":fast_unwind_on_malloc=0";
    return testsupport::RunProgram(o);
}

bool AppServer::AddPrinter(const std::string& name, std::string* error, const std::string& deviceUri,
                           const std::string& driver)
{
    mkdir(OutputDir(name).c_str(), 0755);
    testsupport::RunResult r = Command(
        {"add", "-d", name, "-m", driver, "-v", deviceUri.empty() ? "file://" + OutputDir(name) : deviceUri});
    if (r.exitCode != 0) *error = "pdftopjl-app add failed: " + r.out + r.err;
    return r.exitCode == 0;
}

namespace {

// GET, or POST of a form; the HTTP status (0 when none came) and the body.
std::string exchange(int port, const std::string& path, const std::string& form, int* status)
{
    std::string body;
    *status = 0;
    http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr) return body;
    httpClearFields(http);
    httpSetField(http, HTTP_FIELD_HOST, ("localhost:" + std::to_string(port)).c_str());
    int sent;
    if (form.empty()) {
        sent = httpGet(http, path.c_str());
    } else {
        httpSetField(http, HTTP_FIELD_CONTENT_TYPE, "application/x-www-form-urlencoded");
        httpSetLength(http, form.size());
        sent = httpPost(http, path.c_str());
        if (sent == 0) httpWrite2(http, form.data(), form.size());
    }
    if (sent == 0) {
        http_status_t answer;
        while ((answer = httpUpdate(http)) == HTTP_STATUS_CONTINUE) {
        }
        *status = answer;
        char buffer[8192];
        ssize_t bytes;
        while ((bytes = httpRead2(http, buffer, sizeof buffer)) > 0)
            if (answer == HTTP_STATUS_OK) body.append(buffer, bytes);
    }
    httpClose(http);
    return body;
}

}  // namespace

int AppServer::FetchPage(const std::string& path) const
{
    int status = 0;
    exchange(port_, path, "", &status);
    return status;
}

std::string AppServer::WebPage(const std::string& path, const std::string& form) const
{
    int status = 0;
    return exchange(port_, path, form, &status);
}

std::map<std::string, std::string> AppServer::JobAttributes(const std::string& printer, int jobId) const
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
    ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, "alice");
    return testsupport::IppAnswer(port_, request, "/ipp/print");
}

std::map<std::string, std::string> AppServer::PrinterAttributes(const std::string& printer) const
{
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, PrinterUri(printer).c_str());
    return testsupport::IppAnswer(port_, request, "/ipp/print");
}

std::map<std::string, std::string> AppServer::WaitForJob(const std::string& printer, int jobId,
                                                         int timeoutMs) const
{
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        auto attributes = JobAttributes(printer, jobId);
        const std::string& state = attributes["job-state"];
        if (state == "completed" || state == "aborted" || state == "canceled") return attributes;
        usleep(100000);
    }
    return {{"job-state", "timeout"}};
}

IpptoolResult RunIpptool(const std::vector<std::string>& args, int timeoutMs)
{
    testsupport::RunOptions o;
    o.program = kIpptool;
    o.args = {"ipptool"};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.timeoutMs = timeoutMs;
    testsupport::RunResult r = testsupport::RunProgram(o);
    return {r.exitCode, r.timedOut, r.out + r.err};
}

int PrintWithIpptool(const std::string& uri, const std::string& document, const std::string& format,
                     const std::string& jobName, const std::vector<std::string>& operationAttrs,
                     const std::vector<std::string>& jobAttrs, const std::string& workDir,
                     std::string* report)
{
    std::string test =
        "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n GROUP operation-attributes-tag\n"
        " ATTR charset attributes-charset utf-8\n"
        " ATTR naturalLanguage attributes-natural-language en\n"
        " ATTR uri printer-uri $uri\n ATTR name requesting-user-name alice\n"
        " ATTR mimeMediaType document-format " + format + "\n";
    for (const std::string& line : operationAttrs) test += " " + line + "\n";
    test += " GROUP job-attributes-tag\n ATTR name job-name \"" + jobName + "\"\n";
    for (const std::string& line : jobAttrs) test += " " + line + "\n";
    test += " FILE $filename\n STATUS successful-ok\n DISPLAY job-id\n}\n";
    const std::string testFile = workDir + "/" + jobName + ".test";
    testsupport::WriteFile(testFile, test);
    IpptoolResult r = RunIpptool({"-t", "-f", document, uri, testFile});
    *report = r.out;
    std::smatch id;
    if (r.exitCode == 0 && std::regex_search(r.out, id, std::regex("job-id \\(integer\\) = ([0-9]+)")))
        return std::stoi(id[1]);
    return -1;
}

void WritePwgRaster(const std::string& path, const char* media, const char* type, int dpi)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
    cups_page_header2_t header;
    cupsRasterInitPWGHeader(&header, pwgMediaForPWG(media), type, dpi, dpi, "one-sided", "normal");
    cupsRasterWriteHeader2(ras, &header);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    const unsigned colors = header.cupsBitsPerPixel / 8;
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
        for (unsigned x = 0; x < header.cupsWidth; ++x)
            for (unsigned c = 0; c < colors; ++c)
                line[colors * x + c] = static_cast<unsigned char>(c == 0 ? x * 256 / header.cupsWidth
                                                                         : y * 256 / header.cupsHeight);
        cupsRasterWritePixels(ras, line.data(), header.cupsBytesPerLine);
    }
    cupsRasterClose(ras);
    close(fd);
}

}  // namespace apptest
