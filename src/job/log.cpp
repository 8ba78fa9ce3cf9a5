// SPDX-License-Identifier: Apache-2.0
#include "job/log.hpp"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>

#include "job/cancel.hpp"
#include "job/output.hpp"
#include "job/text.hpp"

namespace pdftopjl::job {

namespace {

MessageSink gMessageSink;
LogSink gLogSink;

// In a worker, to the job's process; else through the channel.
void writeLine(const std::string& line)
{
    if (gMessageSink)
        gMessageSink(line);
    else
        WriteText(line, stderr);
}

}  // namespace

void SetLogSink(LogSink sink) { gLogSink = std::move(sink); }

void WriteMessageLine(std::string_view line)
{
    if (!gLogSink || gMessageSink) {
        WriteText(line, stderr);
        return;
    }
    static constexpr std::pair<std::string_view, Severity> kPrefixes[] = {
        {"ERROR: ", Severity::Error}, {"WARNING: ", Severity::Warning},
        {"INFO: ", Severity::Info},   {"DEBUG: ", Severity::Debug}};
    while (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    for (const auto& [prefix, severity] : kPrefixes)
        if (line.starts_with(prefix)) {
            gLogSink(severity, line.substr(prefix.size()));
            return;
        }
    gLogSink(Severity::Debug, line);
}

void Log(Severity severity, std::string_view text)
{
    if (gLogSink && !gMessageSink) {
        gLogSink(severity, text);
        return;
    }
    static constexpr const char* kPrefix[] = {"ERROR: ", "WARNING: ", "INFO: ", "DEBUG: "};
    std::string line = kPrefix[static_cast<int>(severity)];
    line += text;
    line += '\n';
    writeLine(line);
}

void LogHistorical(std::string_view text)
{
    if (gLogSink && !gMessageSink) {
        gLogSink(Severity::Debug, text);
        return;
    }
    std::string line(text);
    line += '\n';
    writeLine(line);
}

void EnterWorker(MessageSink sink)
{
    DetachJobCopy();
    BeforeOutput(false);
    gMessageSink = std::move(sink);
    // The caller's hooks belong to the job's process: a worker learns of a
    // cancel from it, and its lines reach the sink through it.
    gLogSink = nullptr;
    SetCancelCheck(nullptr);
}

void Logf(Severity severity, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    const std::string line = FormatText(format, args);
    va_end(args);
    Log(severity, line);
}

}  // namespace pdftopjl::job
