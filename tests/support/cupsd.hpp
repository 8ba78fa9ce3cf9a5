// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cups/ipp.h>

#include <map>
#include <string>
#include <vector>

namespace testsupport {

// Sends `request` (taken) to the IPP server on the loopback `port`; the
// answer's attributes, each as text (ippAttributeString), none when no
// answer came.
std::map<std::string, std::string> IppAnswer(int port, ipp_t* request, const char* resource);

// A private CUPS scheduler for end-to-end tests: its own configuration,
// spool, log and state directories under a temporary folder, listening on a
// loopback port of its own.  It never touches the machine's CUPS set-up and
// is stopped (and waited for) when the object goes away.
class PrivateCupsd {
public:
    // `logLevel` as cupsd.conf takes it: "warn" is what installations run.
    explicit PrivateCupsd(std::string logLevel = "debug");
    ~PrivateCupsd();
    PrivateCupsd(const PrivateCupsd&) = delete;
    PrivateCupsd& operator=(const PrivateCupsd&) = delete;

    // Why the scheduler cannot run here (empty when it can).
    static std::string Unavailable();

    // Before Start: the scheduler serves `filter` under its own name among
    // the system's filters and lists the PPDs of `ppdDir` (lpinfo -m) as
    // pdftopjl/NAME.ppd, as an installed filter and PPDs would be.
    void ServeInstalled(const std::string& filter, const std::string& ppdDir);

    bool Start(std::string* error);
    void Stop();

    std::string Server() const;                      // "127.0.0.1:PORT"
    const std::string& Root() const { return root_; }

    // Adds an enabled queue that writes each job to OutputFile(name) (or
    // sends it to `deviceUri`) and aborts a job whose filter fails.
    bool AddQueue(const std::string& name, const std::string& ppdText, std::string* error,
                  const std::string& deviceUri = "");
    std::string OutputFile(const std::string& queue) const;
    // The same from a PPD the scheduler lists (lpadmin -m), as administrators add them.
    bool AddQueueFromModel(const std::string& name, const std::string& model, std::string* error);
    // What lpinfo -m lists: one "NAME MAKE-AND-MODEL" line a PPD.
    std::string Models() const;

    // Sets queue defaults as an administrator does: lpadmin -o Option=Choice.
    bool SetDefaults(const std::string& queue, const std::vector<std::string>& options,
                     std::string* error);

    // Submits with lp; returns the job id or -1.
    int Submit(const std::string& queue, const std::vector<std::string>& lpArgs,
               const std::string& file, std::string* error);

    // Cancels a job as its owner would; false when the scheduler refuses.
    bool CancelJob(int jobId) const;
    // Where the scheduler's filters keep their temporary files (TMPDIR).
    std::string FilterTempDir() const { return root_ + "/spool/tmp"; }

    // Waits until the job has ended; returns "completed", "aborted",
    // "cancelled", "stopped" or "timeout".
    std::string WaitForJob(int jobId, int timeoutMs);

    std::string ErrorLog() const;
    std::string PageLog() const;

    // A job's attributes as the scheduler reports them (Get-Job-Attributes),
    // each as text; empty when the request fails.
    std::map<std::string, std::string> JobAttributes(int jobId) const;
    // A queue's attributes as IPP clients see them (Get-Printer-Attributes).
    std::map<std::string, std::string> PrinterAttributes(const std::string& queue) const;

private:
    bool addQueue(const std::string& name, const std::vector<std::string>& ppdArgs, std::string* error,
                  const std::string& deviceUri = "");
    // One start on a newly chosen port.
    bool Launch(std::string* error);

    // The ServerBin and DataDir lines of cups-files.conf, when ServeInstalled was called.
    std::string InstalledLayout();

    std::string logLevel_;
    std::string installedFilter_, installedPpds_;
    std::string root_;
    int port_ = 0;
    int pid_ = -1;
};

// The built filter copied where the scheduler's filters (running as lp) can
// run it, wrapped so that sanitizer runs keep their settings; its path.
std::string ServeBuiltFilter(const std::string& dir);

// The sample PPD, serving `filter` by absolute path, with the printer's
// encoding set to `encoding`.
std::string SamplePpd(const std::string& filter, const std::string& encoding);

}  // namespace testsupport
