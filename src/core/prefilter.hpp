// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "core/run_job.hpp"
#include "job/fd.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// Finding and starting the system's PDF layout filter (the pre-filter): the
// printer's PPD names, in cupsFilter, the type its own filter accepts; the
// CUPS conversion tables name the program that turns that type into the
// system's layout-applied PDF type.
namespace pdftopjl {

// One conversion table: a root directory taken from the environment (or its
// default) and the table's place under it.
struct ConversionTable {
    const char* rootVariable;
    const char* rootDefault;
    const char* directory;  // "" or "mime/"
    const char* name;
};

// The tables, searched in this order; the first acceptable line wins.
extern const ConversionTable kConversionTables[4];
// A conversion line: source type, destination type, cost, program.  The
// bracket expressions hold the whitespace characters themselves.
extern const char kConversionLinePattern[];

// Paths and names longer than these fail the selection.
constexpr size_t kPrefilterPathSize = 64;
constexpr size_t kProgramNameSize = 16;

// The pre-filter's full path for the printer; nothing, after a message,
// when there is none.
std::optional<std::string> FindLayoutPreFilter(const PrinterProfile& printer);

// The pre-filter for a source type, or nothing when no program can be
// chosen.
std::optional<std::string> ChooseFilter(std::string_view sourceType);

// Searches one table for the first acceptable line.  A line whose program
// name is too long or holds a '/' ends the search without a program.
enum class TableAnswer { None, Found, UnusableName };
TableAnswer BestFilter(const char* tablePath, std::string_view sourceType,
                       std::string_view destinationType, std::string* programName);

// The pre-filter's standard error while it runs.  cupsd shows a filter's
// ERROR, WARNING and INFO lines as the job's state, and the layout filter
// says things a job that succeeds need not show (pdftopdf cannot tell it is
// not the last filter); so each of its lines is passed on at debug level, and
// its errors and warnings are repeated as they were only when it fails.
class PreFilterMessages {
public:
    PreFilterMessages();
    ~PreFilterMessages();
    PreFilterMessages(const PreFilterMessages&) = delete;
    PreFilterMessages& operator=(const PreFilterMessages&) = delete;

    // False when no pipe could be made; the pre-filter then writes to the
    // filter's own standard error.
    bool ok() const { return static_cast<bool>(writeEnd_); }
    // In the child, before the exec: its standard error goes into the pipe.
    void redirectChild() const;
    // In the parent, after the fork: starts passing lines on.
    void start();
    // After the pre-filter ended: the rest of its lines, then, when it
    // failed, its errors and warnings again.
    void finish(bool failed);

private:
    void relay();
    void passOn(std::string_view line);

    job::UniqueFd readEnd_, writeEnd_;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::string partial_;
    std::deque<std::string> kept_;
};

// The option that tells pdftopdf not to count pages: the filter is CUPS's
// last filter and counts them itself.
inline constexpr char kPreFilterPageLogging[] = "page-logging=off";

// What the pre-filter is told, as a CUPS option string: the ticket's layout
// requests under the names the layout filter reads, and page-logging=off.
std::string LayoutFilterOptions(const JobTicket& ticket);

// Replaces the calling process with the pre-filter, with the arguments a
// CUPS filter gets (a copies argument of 1 where the printer makes the
// copies); returns only when it cannot be started.
void ExecuteFilter(const std::string& prefilterPath, const JobTicket& ticket,
                   const PrinterProfile& printer, const JobDocument& document);

}  // namespace pdftopjl
