// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>

// The job's output channel: every byte of the job stream, the direct staging
// copy and every message pass through here, so that the job-copy file (when
// open) receives them too, in the order written.
namespace pdftopjl::job {

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
// A worker leaves the job copy to the job's process (not closed: the stream
// and its descriptor are that process's).
void DetachJobCopy();

// Whole message lines written from a signal handler, to standard error and
// the job copy, with nothing that is unsafe there.
void LogFromSignal(const char* text, size_t size);

}  // namespace pdftopjl::job
