// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <map>
#include <set>
#include <string>

// What keeps a pdftopjl-app server running and its work intact across
// crashes: where its state, spool and log are, an atomic state file, the
// recovery of jobs a crash interrupted, and a line in the log for a crash.
namespace pdftopjl::app {

// The command line's sub-command, as PAPPL's main loop reads it: the first
// argument that is neither an option nor an option's value ("" when none).
std::string SubCommand(int argc, char* argv[]);

// True when the command line runs the server (the "server" sub-command),
// as opposed to a sub-command that talks to one.
bool IsServerCommand(int argc, char* argv[]);

// Where the server keeps its state file, as PAPPL's main loop would choose.
std::string DefaultStatePath();

// The log when none is given: the journal (standard error) under systemd,
// else a file beside the state ("/var/log/pdftopjl-app.log" for root).
std::string DefaultLogFile();

// The folder for jobs' work files (PPD copies, converted documents) under
// the spool directory: private to the server, emptied at start-up.
void SetSpoolDirectory(const std::string& spool);
const std::string& SpoolDirectory();
std::string JobWorkRoot();

// Loads the state file with the recovery below, then saves it atomically
// from now on (a temporary file beside it, synced, renamed over it): a crash
// at any moment leaves the last complete state.
void LoadAndKeepState(pappl_system_t* system, const std::string& statePath);

// After a crash: jobs that were printing are aborted with a reason; jobs
// that were waiting are held and released one at a time, oldest first, once
// the server runs; job ids the lost state had given are not given again;
// spool and work files no job owns are removed.  Also wakes PAPPL's main
// loop every second, so that it saves each change within a second.
struct LoadedJobs {
    std::map<int, std::set<int>> interrupted;  // job ids by printer id
};
void RecoverJobs(pappl_system_t* system, const LoadedJobs& loaded);

// Logs a fatal signal (crash) to standard error and to the log file before
// the process dies of it.
void LogFatalSignals(const std::string& logFile);

// A stored job's passcode kept in a file only the server can read
// (mode 0600, in the spool), so that it survives a restart; removed with the
// job.  ReadPasscodeFile: the passcode, nothing when the job has none, or
// lost=true when the job has one that cannot be read.
void WritePasscodeFile(pappl_job_t* job, const std::string& value, const std::string& encryption);
bool ReadPasscodeFile(pappl_job_t* job, std::string* value, std::string* encryption, bool* lost);
void RemovePasscodeFile(pappl_job_t* job);

}  // namespace pdftopjl::app
