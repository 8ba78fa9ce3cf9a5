// SPDX-License-Identifier: Apache-2.0
#include "support/cupsd.hpp"

#include <arpa/inet.h>
#include <cups/cups.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <ftw.h>

#include "support/fixtures.hpp"
#include "support/process.hpp"

namespace testsupport {

namespace {

const char kCupsd[] = "/usr/sbin/cupsd";
const char kLp[] = "/usr/bin/lp";
const char kLpadmin[] = "/usr/sbin/lpadmin";
const char kLpinfo[] = "/usr/sbin/lpinfo";

// Links to every entry of `from` but `except` in `to`, which is made.
void linkOrThrow(const std::string& target, const std::string& link)
{
    if (symlink(target.c_str(), link.c_str()) != 0 && errno != EEXIST)
        throw std::runtime_error("cannot link " + link + ": " + std::strerror(errno));
}

void linkEntries(const std::string& from, const std::string& to, const std::string& except)
{
    mkdir(to.c_str(), 0755);
    for (const auto& entry : std::filesystem::directory_iterator(from))
        if (entry.path().filename() != except)
            linkOrThrow(entry.path().string(), to + "/" + entry.path().filename().string());
}

}  // namespace

PrivateCupsd::PrivateCupsd(std::string logLevel) : logLevel_(std::move(logLevel)) {}

PrivateCupsd::~PrivateCupsd()
{
    Stop();
    if (!root_.empty())
        nftw(
            root_.c_str(),
            [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
            FTW_DEPTH | FTW_PHYS);
}

std::string PrivateCupsd::Unavailable()
{
    if (access(kCupsd, X_OK) != 0) return "cupsd is not installed";
    if (access(kLp, X_OK) != 0 || access(kLpadmin, X_OK) != 0) return "lp/lpadmin are not installed";
    if (geteuid() != 0) return "a private cupsd that runs filters as lp needs root";
    if (getpwnam("lp") == nullptr) return "there is no lp user";
    return "";
}

bool PrivateCupsd::Start(std::string* error)
{
    char pattern[] = "/tmp/pdftopjl-cupsd-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        *error = "mkdtemp failed";
        return false;
    }
    root_ = pattern;
    // Filters run as lp and must reach the spool and output directories.
    chmod(root_.c_str(), 0755);
    for (const char* dir : {"etc", "spool", "spool/tmp", "cache", "state", "log", "out"})
        mkdir((root_ + "/" + dir).c_str(), 0755);
    chmod((root_ + "/out").c_str(), 0777);
    chmod((root_ + "/spool/tmp").c_str(), 01777);

    // The port is free when chosen but may be taken before cupsd binds it;
    // then cupsd gives up and another port is tried.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (Launch(error)) return true;
        if (pid_ > 0) return false;  // running but not listening: no use retrying
    }
    return false;
}

bool PrivateCupsd::Launch(std::string* error)
{
    port_ = FreeLoopbackPort();
    if (port_ <= 0) {
        *error = "no free port";
        return false;
    }
    WriteFile(root_ + "/etc/cupsd.conf",
              "Listen 127.0.0.1:" + std::to_string(port_) +
                  "\n"
                  "LogLevel " + logLevel_ + "\nMaxLogSize 0\nWebInterface No\nBrowsing Off\n"
                  "DefaultAuthType None\nErrorPolicy abort-job\nJobRetryLimit 0\nPreserveJobFiles No\n"
                  "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
                  "<Policy default>\n  <Limit All>\n    Order allow,deny\n    Allow all\n"
                  "  </Limit>\n</Policy>\n");
    WriteFile(root_ + "/etc/cups-files.conf",
              "User lp\nGroup lp\nServerRoot " + root_ + "/etc\nRequestRoot " + root_ +
                  "/spool\nTempDir " + root_ + "/spool/tmp\nCacheDir " + root_ +
                  "/cache\nStateDir " + root_ + "/state\nAccessLog " + root_ +
                  "/log/access_log\nErrorLog " + root_ + "/log/error_log\nPageLog " + root_ +
                  "/log/page_log\nFileDevice Yes\nSandboxing relaxed\n" + InstalledLayout());

    pid_t pid = fork();
    if (pid < 0) {
        *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        std::string conf = root_ + "/etc/cupsd.conf";
        std::string files = root_ + "/etc/cups-files.conf";
        if (!freopen((root_ + "/log/cupsd.out").c_str(), "w", stdout) ||
            !freopen((root_ + "/log/cupsd.out").c_str(), "a", stderr))
            _exit(126);
        execl(kCupsd, "cupsd", "-f", "-c", conf.c_str(), "-s", files.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    pid_ = pid;
    const std::string waited = WaitForListener(&pid_, port_);
    if (waited.empty()) return true;
    *error = "cupsd " + waited + ": " + ReadFile(root_ + "/log/cupsd.out") + ErrorLog();
    return false;
}

void PrivateCupsd::Stop() { StopChild(&pid_, 5000); }

void PrivateCupsd::ServeInstalled(const std::string& filter, const std::string& ppdDir)
{
    installedFilter_ = filter;
    installedPpds_ = ppdDir;
}

std::string PrivateCupsd::InstalledLayout()
{
    if (installedFilter_.empty()) return "";
    const std::string serverBin = root_ + "/serverbin", data = root_ + "/data";
    const std::string lines = "ServerBin " + serverBin + "\nDataDir " + data + "\n";
    if (access(serverBin.c_str(), F_OK) == 0) return lines;  // a second launch
    // The system's own, with the filter and the PPDs beside them; copies,
    // since the scheduler's helpers run as lp, which may not reach the build.
    linkEntries("/usr/lib/cups", serverBin, "filter");
    linkEntries("/usr/lib/cups/filter", serverBin + "/filter", "");
    linkOrThrow(installedFilter_, serverBin + "/filter/pdftopjl");
    linkEntries("/usr/share/cups", data, "model");
    mkdir((data + "/model").c_str(), 0755);
    mkdir((data + "/model/pdftopjl").c_str(), 0755);
    for (const auto& entry : std::filesystem::directory_iterator(installedPpds_))
        if (entry.path().extension() == ".ppd") {
            const std::string copy = data + "/model/pdftopjl/" + entry.path().filename().string();
            WriteFile(copy, ReadFile(entry.path().string()));
            chmod(copy.c_str(), 0644);
        }
    return lines;
}

std::string PrivateCupsd::Server() const { return "127.0.0.1:" + std::to_string(port_); }

std::string PrivateCupsd::OutputFile(const std::string& queue) const
{
    return root_ + "/out/" + queue + ".pjl";
}

bool PrivateCupsd::AddQueue(const std::string& name, const std::string& ppdText,
                            std::string* error, const std::string& deviceUri)
{
    std::string ppd = root_ + "/" + name + ".ppd";
    WriteFile(ppd, ppdText);
    return addQueue(name, {"-P", ppd}, error, deviceUri);
}

bool PrivateCupsd::AddQueueFromModel(const std::string& name, const std::string& model, std::string* error)
{
    return addQueue(name, {"-m", model}, error);
}

std::string PrivateCupsd::Models() const
{
    RunOptions o;
    o.program = kLpinfo;
    o.args = {"lpinfo", "-h", Server(), "-m"};
    return RunProgram(o).out;
}

bool PrivateCupsd::addQueue(const std::string& name, const std::vector<std::string>& ppdArgs,
                            std::string* error, const std::string& deviceUri)
{
    RunOptions o;
    o.program = kLpadmin;
    o.args = {"lpadmin", "-h", Server(), "-p", name, "-E", "-v",
              deviceUri.empty() ? "file://" + OutputFile(name) : deviceUri};
    o.args.insert(o.args.end(), ppdArgs.begin(), ppdArgs.end());
    o.args.insert(o.args.end(), {"-o", "printer-error-policy=abort-job"});
    RunResult r = RunProgram(o);
    if (r.exitCode != 0) {
        *error = "lpadmin failed: " + r.err;
        return false;
    }
    return true;
}

int PrivateCupsd::Submit(const std::string& queue, const std::vector<std::string>& lpArgs,
                         const std::string& file, std::string* error)
{
    RunOptions o;
    o.program = kLp;
    o.args = {"lp", "-h", Server(), "-d", queue};
    o.args.insert(o.args.end(), lpArgs.begin(), lpArgs.end());
    o.args.push_back(file);
    RunResult r = RunProgram(o);
    // "request id is QUEUE-N (1 file(s))"
    std::string marker = "request id is " + queue + "-";
    size_t pos = r.out.find(marker);
    if (r.exitCode != 0 || pos == std::string::npos) {
        *error = "lp failed: " + r.out + r.err;
        return -1;
    }
    return std::atoi(r.out.c_str() + pos + marker.size());
}

std::string PrivateCupsd::WaitForJob(int jobId, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 100) {
        http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER,
                                    1, 5000, nullptr);
        if (http != nullptr) {
            cups_job_t* jobs = nullptr;
            int count = cupsGetJobs2(http, &jobs, nullptr, 0, CUPS_WHICHJOBS_ALL);
            std::string state;
            for (int i = 0; i < count; ++i) {
                if (jobs[i].id != jobId) continue;
                switch (jobs[i].state) {
                case IPP_JSTATE_COMPLETED: state = "completed"; break;
                case IPP_JSTATE_ABORTED: state = "aborted"; break;
                case IPP_JSTATE_CANCELED: state = "cancelled"; break;
                case IPP_JSTATE_STOPPED: state = "stopped"; break;
                default: break;
                }
            }
            cupsFreeJobs(count, jobs);
            httpClose(http);
            if (!state.empty()) return state;
        }
        usleep(100000);
    }
    return "timeout";
}

std::string PrivateCupsd::ErrorLog() const { return ReadFile(root_ + "/log/error_log"); }

std::string PrivateCupsd::PageLog() const { return ReadFile(root_ + "/log/page_log"); }

std::map<std::string, std::string> IppAnswer(int port, ipp_t* request, const char* resource)
{
    std::map<std::string, std::string> attributes;
    http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                5000, nullptr);
    if (http == nullptr) {
        ippDelete(request);
        return attributes;
    }
    if (ipp_t* response = cupsDoRequest(http, request, resource)) {
        for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr;
             a = ippNextAttribute(response)) {
            if (ippGetName(a) == nullptr) continue;
            char value[4096];
            ippAttributeString(a, value, sizeof value);
            attributes[ippGetName(a)] = value;
        }
        ippDelete(response);
    }
    httpClose(http);
    return attributes;
}

namespace {

std::map<std::string, std::string> Attributes(int port, ipp_op_t operation, const char* uriName,
                                              const std::string& uri)
{
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uriName, nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "root");
    return IppAnswer(port, request, "/");
}

}  // namespace

std::map<std::string, std::string> PrivateCupsd::JobAttributes(int jobId) const
{
    return Attributes(port_, IPP_OP_GET_JOB_ATTRIBUTES, "job-uri",
                      "ipp://" + Server() + "/jobs/" + std::to_string(jobId));
}

std::map<std::string, std::string> PrivateCupsd::PrinterAttributes(const std::string& queue) const
{
    return Attributes(port_, IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri",
                      "ipp://" + Server() + "/printers/" + queue);
}

bool PrivateCupsd::SetDefaults(const std::string& queue, const std::vector<std::string>& options,
                               std::string* error)
{
    RunOptions o;
    o.program = kLpadmin;
    o.args = {"lpadmin", "-h", Server(), "-p", queue};
    for (const std::string& option : options) {
        o.args.push_back("-o");
        o.args.push_back(option);
    }
    RunResult r = RunProgram(o);
    if (r.exitCode != 0) *error = "lpadmin failed: " + r.err;
    return r.exitCode == 0;
}

bool PrivateCupsd::CancelJob(int jobId) const
{
    http_t* http = httpConnect2("127.0.0.1", port_, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1,
                                5000, nullptr);
    if (http == nullptr) return false;
    ipp_t* request = ippNewRequest(IPP_OP_CANCEL_JOB);
    const std::string uri = "ipp://" + Server() + "/jobs/" + std::to_string(jobId);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 "root");
    ipp_t* response = cupsDoRequest(http, request, "/jobs/");
    const bool cancelled = response != nullptr && ippGetStatusCode(response) <= IPP_STATUS_OK_CONFLICTING;
    ippDelete(response);
    httpClose(http);
    return cancelled;
}

// The filter runs as lp, which may not reach the build tree (a checkout under
// /root, say), so the scheduler gets a copy in its own directory, with the
// painting module beside it, where the copy looks for it.  cupsd
// gives filters a clean environment; in sanitizer runs a wrapper hands the
// filter the test's sanitizer settings, so that its reports are not lost.
std::string ServeBuiltFilter(const std::string& dir)
{
    // An empty directory would put the copy at the file system's root.
    if (dir.empty()) throw std::logic_error("ServeBuiltFilter needs the server's directory");
    const std::string filter = dir + "/pdftopjl";
    WriteFile(filter, ReadFile(FilterBinary()));
    chmod(filter.c_str(), 0755);
    const std::string module = dir + "/pdftopjl-poppler.so";
    WriteFile(module, ReadFile(PDFTOPJL_PAINTING_MODULE));
    chmod(module.c_str(), 0755);
    std::string exports;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"}) {
        const char* set = getenv(name);
        if (set == nullptr) continue;
        std::string value = set;
        const std::string key = "suppressions=";
        size_t at = value.find(key);
        if (at != std::string::npos) {
            size_t end = value.find(':', at);
            std::string path = value.substr(at + key.size(), end == std::string::npos ? end : end - at - key.size());
            WriteFile(dir + "/" + name + ".supp", ReadFile(path));
            value.replace(at + key.size(), path.size(), dir + "/" + name + ".supp");
        }
        exports += std::string("export ") + name + "='" + value + "'\n";
    }
    if (exports.empty()) return filter;
    const std::string wrapper = dir + "/pdftopjl-sanitized";
    WriteFile(wrapper, "#!/bin/sh\n" + exports + "exec '" + filter + "' \"$@\"\n");
    chmod(wrapper.c_str(), 0755);
    return wrapper;
}

// The sample PPD, serving the freshly built filter by absolute path.
std::string SamplePpd(const std::string& filter, const std::string& encoding)
{
    std::string ppd = ReadFile(std::string(PDFTOPJL_SOURCE_DIR) + "/samples/pdftopjl-sample.ppd");
    ppd = std::regex_replace(ppd, std::regex("(\\*cupsFilter: \"[^ ]+ 0 )pdftopjl\""),
                             "$1" + filter + "\"");
    return std::regex_replace(ppd, std::regex("\\*ZRPrinterLanguageEncoding: \"UTF-8\""),
                              "*ZRPrinterLanguageEncoding: \"" + encoding + "\"");
}

}  // namespace testsupport
