// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <map>
#include <string>
#include <vector>

#include "support/fixtures.hpp"
#include "support/process.hpp"

// pdftopjl-app for end-to-end tests: a server of its own on a free loopback
// port, its state, spool, socket and log in a private folder, printers that
// write each job to a file in that folder.
namespace apptest {

// Why the tests cannot run here (empty when they can).
std::string Unavailable();

class AppServer {
public:
    AppServer();
    ~AppServer();
    AppServer(const AppServer&) = delete;
    AppServer& operator=(const AppServer&) = delete;

    // Starts the server; again after Stop or Kill, with the same state.
    bool Start(std::string* error);
    void Stop();
    // Ends the server with a signal (SIGKILL, SIGABRT) as a crash would.
    void Kill(int signal = 9);

    int Port() const { return port_; }
    std::string PrinterUri(const std::string& printer) const;
    // Where the printer's jobs go: one file per job, named after the job and
    // its id (any id when jobId is 0).
    std::string OutputDir(const std::string& printer) const;
    std::string JobFile(const std::string& printer, const std::string& jobName, int jobId = 0) const;
    // The server's folder: state, spool ("pdftopjl-app.d"), socket, log.
    const std::string& Dir() const { return dir_.path(); }
    std::string Log() const;
    // Empty while the server runs; else how it ended and what it printed.
    std::string Ended();

    // Adds a printer of the model (a ZX-4200 unless told) writing to
    // OutputDir(name), with the application's own "add" sub-command.
    bool AddPrinter(const std::string& name, std::string* error, const std::string& deviceUri = "",
                    const std::string& driver = "zarelle_zx4200");

    // Runs one of the application's sub-commands against this server.
    testsupport::RunResult Command(const std::vector<std::string>& args, int timeoutMs = 120000) const;
    // GETs a page of the web interface: its HTTP status (0 when none came).
    int FetchPage(const std::string& path) const;

    // The job's attributes now (none when the server does not answer).
    std::map<std::string, std::string> JobAttributes(const std::string& printer, int jobId) const;
    // Get-Printer-Attributes, each as text (ippAttributeString).
    std::map<std::string, std::string> PrinterAttributes(const std::string& printer) const;
    // A web page's body: GET, or POST of a form (application/x-www-form-urlencoded).
    std::string WebPage(const std::string& path, const std::string& form = "") const;
    // Waits until the job has ended; its attributes (job-state as
    // "completed", "aborted", ...; "timeout" when it did not end).
    std::map<std::string, std::string> WaitForJob(const std::string& printer, int jobId,
                                                  int timeoutMs) const;

private:
    bool Launch(std::string* error);

    testsupport::TempDir dir_;
    int port_ = 0;
    int pid_ = -1;
};

// Runs ipptool; its standard output (with -t: the test report).
struct IpptoolResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string out;
};
IpptoolResult RunIpptool(const std::vector<std::string>& args, int timeoutMs = 120000);

// Submits `document` with Print-Job through ipptool: `operationAttrs` and
// `jobAttrs` are ipptool ATTR lines.  The job id, or -1 with the report.
int PrintWithIpptool(const std::string& uri, const std::string& document, const std::string& format,
                     const std::string& jobName, const std::vector<std::string>& operationAttrs,
                     const std::vector<std::string>& jobAttrs, const std::string& workDir,
                     std::string* report);

// A one-page PWG raster of the named media ("iso_a4_210x297mm"), type
// ("srgb_8", "sgray_8") and resolution: a colour gradient.
void WritePwgRaster(const std::string& path, const char* media, const char* type, int dpi);

}  // namespace apptest
