// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/printer_watch.hpp"
#include "host/host_address.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// The core as one call: a ticket, the printer, a document and an output in;
// a typed outcome out.  Both front doors call it: the CUPS filter maps the
// hooks to its ERROR:/PAGE: lines and the outcome to its exit status, the
// Printer Application to the job's log, counters and state reasons.
namespace pdftopjl {

enum class Outcome : uint8_t {
    Printed,          // the whole job reached the output
    NotPdf,           // the document is not a PDF this filter can read
    NeedsPassword,    // the PDF is locked by a user password
    NoPages,          // empty, or a PDF without pages
    PasscodeRefused,  // a stored job whose passcode cannot be used; nothing sent
    LayoutFailed,     // the layout filter could not run or failed
    TooLarge,         // past the staging or memory limits
    WriteFailed,      // the output could not take the job
    Cancelled,
    Failed,           // anything else, after a message saying what
};

enum class LogLevel : uint8_t { Error, Warning, Info, Debug };

// The caller's side of the job, in the shape of libcupsfilters'
// cf_filter_data_t: where messages and counts go, and how a cancel arrives.
struct JobHooks {
    std::function<void(LogLevel, std::string_view)> log;  // empty: standard error, CUPS style
    std::function<bool()> cancelled;                      // empty: only the process's SIGTERM
    // Once the whole job reached the output: its pages, each made `copies`
    // times by the printer.
    std::function<void(int64_t pages, int32_t copies)> pagesSent;
    // Before the first byte goes out: the impressions the job will make.
    std::function<void(int64_t impressions)> impressionsKnown;
    // When the printer's answers reach the caller (the CUPS filter behind a
    // backend with a back channel): the header asks the printer for its
    // state and changes, and what it says is heard while the body goes out
    // and once the trailer is written.  The caller listens on after closing
    // the output (PrinterWatch::Listen).
    PrinterWatch* printerWatch = nullptr;
};

// The document: a path, or (no path) an open descriptor such as standard input.
struct JobDocument {
    std::optional<std::string> path;
    int fd = 0;
};

// What the job reaches outside itself, replaceable in tests.
struct JobServices {
    HostServices host;
    std::function<time_t()> clock;  // empty: time()
};

// One job at a time in a process: the messages' sink, the cancel check, the
// job copy and the temporary files are the process's.  Without a cancel hook
// the call installs the filter's SIGTERM and SIGPIPE handlers.
Outcome RunJob(const JobTicket& ticket, const PrinterProfile& printer, const JobDocument& document,
               FILE* output, const JobHooks& hooks, const JobServices& services = {});

// The exit status a CUPS filter gives for an outcome.
int ExitStatus(Outcome outcome);

}  // namespace pdftopjl
