// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
    int exitCode = -1;      // exit status, or -1 when killed
    int signal = 0;         // the signal that ended the process, if any
    bool timedOut = false;
    long long msAfterSignal = -1;  // from the signal sent to the end of the process
    long long maxRssKb = 0;        // the largest resident size of the process or a child it reaped
    std::string out;
    std::string err;
};

struct RunOptions {
    std::vector<std::string> args;                 // argv, args[0] included
    std::map<std::string, std::optional<std::string>> env;  // set (value) or unset (nullopt)
    std::string input;                             // written to standard input
    std::optional<std::string> stdinFile;          // or: a file opened as standard input
    bool closeStdin = false;                       // or: no standard input at all
    bool closeStdoutAfter = false;                 // reader goes away after readLimit bytes
    size_t readLimit = 0;
    int timeoutMs = 60000;
    int signalAfterMs = 0;                         // send signalToSend after this long
    std::function<bool()> signalWhen;              // or: once this holds
    int signalToSend = 0;
    std::string program;                           // defaults to the built filter
    long long fileSizeLimit = 0;                   // RLIMIT_FSIZE for the child, 0: none
    bool keepStdinOpen = false;                    // never close standard input
    std::string workDir;                           // chdir before exec, if set
};

RunResult RunProgram(const RunOptions& options);

// Path of the built filter binary.
std::string FilterBinary();

// True when the output of a sanitizer (ASan/UBSan) appears in the text.
bool HasSanitizerReport(const std::string& err);

// A loopback port nobody listens on now (-1 when none can be had), and
// whether something accepts connections on one.
int FreeLoopbackPort();
bool ListeningOnLoopback(int port);

// Waits up to 10 s for the child *pid (a server) to listen on port: "" once
// it does, "exited" when it ended first (*pid is then -1), "not listening".
std::string WaitForListener(int* pid, int port);

// Asks the child *pid to end (SIGTERM), kills it after graceMs, reaps it.
void StopChild(int* pid, int graceMs);

}  // namespace testsupport
