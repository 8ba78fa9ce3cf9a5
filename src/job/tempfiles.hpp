// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>

#include "job/fd.hpp"

// Temporary files this process created and still owns.  Whatever is still
// registered when the job ends (failure, cancellation) is removed, so no job
// leaves files behind in the temporary directory.
namespace pdftopjl::job {

// TMPDIR as the job was given it, and the directory the
// job's temporary files go to: TMPDIR, or /tmp when it is unset or empty.
std::optional<std::string> TempDirectorySetting();
std::string TempDirectory();

// A new, empty temporary file, registered for removal: its descriptor (read
// and write, closed on exec) and its path, which is only for removing it.
// No descriptor (errno set) when it cannot be made.
struct TempFile {
    UniqueFd fd;
    std::string path;
};
TempFile CreateTempFile();

void RegisterTempFile(const std::string& path);
// Removes the file and forgets it.
void RemoveTempFile(const std::string& path);
void RemoveAllTempFiles();
// The same from a signal handler, which may interrupt any of the above.
void RemoveAllTempFilesFromSignal();

}  // namespace pdftopjl::job
