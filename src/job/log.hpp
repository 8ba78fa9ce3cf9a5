// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <string_view>

// The job's messages: CUPS-prefixed lines on standard error, or a caller's
// own log.
namespace pdftopjl::job {

// What a message means to CUPS: ERROR for what fails the job, WARNING for
// what the job survives, INFO for progress worth showing, DEBUG for detail.
enum class Severity { Error, Warning, Info, Debug };

// One message line for the job's log, through the output channel, with the
// prefix cupsd reads its severity from.
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

// This process is a worker of the job (see pages/worker.hpp): its message
// lines go to `sink`, for the job's process to write out, and it leaves the
// job copy and the caller's hooks to the job's process.
using MessageSink = std::function<void(std::string_view line)>;
void EnterWorker(MessageSink sink);

}  // namespace pdftopjl::job
