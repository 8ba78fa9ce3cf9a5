#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

// The job's ground floor: the output channel with its job-copy tee, the
// cancel state and the job's messages.  Every layer may use it; it uses none.
namespace pdftopjl::job {

// Every byte of the job stream, the direct staging copy and every message pass
// through here, so that the job-copy file (when open) receives them too, in
// the order written.
size_t Write(const void* data, size_t size, FILE* stream);
void WriteText(std::string_view text, FILE* stream);

// A line holding a secret (a stored job's passcode): the job stream gets
// `text`, the job copy `masked` unless its marker asks to keep passcodes.
void WriteSecret(std::string_view text, std::string_view masked, FILE* stream);

// Opens the job-copy file when the marker at `marker` exists (see
// jobcopy.hpp); a marker that cannot be trusted or a directory that cannot
// be used means no copy, with a warning.  It never blocks.
void OpenJobCopy(const char* marker);
bool JobCopyOpen();
void CloseJobCopy();

// What a message means to CUPS: ERROR for what fails the job, WARNING for
// what the job survives, INFO for progress worth showing, DEBUG for detail.
enum class Severity { Error, Warning, Info, Debug };

// One message line for the job's log, through the channel, with the prefix
// cupsd reads its severity from.
void Log(Severity severity, std::string_view text);
// A line in the printer tools' own historical wording, without a prefix
// (cupsd logs it at debug level), for whoever searches for it.
void LogHistorical(std::string_view text);
// printf-shaped, for messages that carry values.
void Logf(Severity severity, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Where the job's message lines go instead of standard error (a caller that
// keeps its own log): the severity and the text without prefix or line end;
// the printer tools' historical lines arrive as Debug.  Empty: standard
// error, CUPS style.
using LogSink = std::function<void(Severity severity, std::string_view text)>;
void SetLogSink(LogSink sink);

// A message line written whole elsewhere (by a worker or the pre-filter),
// CUPS prefix and line end included: to the log sink when one is set, read
// by its prefix (an unknown one counts as Debug), else to standard error.
void WriteMessageLine(std::string_view line);

// A caller's own cancel, asked wherever the job looks for SIGTERM's.
void SetCancelCheck(std::function<bool()> check);

// This process is a worker of the job (see pages/worker.hpp): its message
// lines go to `sink`, for the job's process to write out, and it leaves the
// job copy to the job's process.
using MessageSink = std::function<void(std::string_view line)>;
void EnterWorker(MessageSink sink);

// SIGTERM came, or the caller's cancel check says so.
bool Cancelled();
bool OutputClosed();
// Installs the SIGTERM and SIGPIPE handlers; interrupted calls are resumed.
void InstallSignalHandlers();
// While nothing has been sent (true until the job's output begins), a cancel
// the job has not acted on within half a second ends the process from the
// signal handler: "INFO: Job cancelled", its temporary files removed, exit
// status 1.  Whatever the job is doing then (qpdf, a PPD being read) never
// holds a cancel for long.
void BeforeOutput(bool before);
// The child (the pre-filter) that such an end kills first; 0 for none.
void EndOnCancel(pid_t child);
// Whole message lines written from a signal handler, to standard error and
// the job copy, with nothing that is unsafe there.
void LogFromSignal(const char* text, size_t size);

}  // namespace pdftopjl::job
