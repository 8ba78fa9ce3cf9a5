#pragma once

#include <optional>
#include <string>

// Temporary files this process created and still owns.  Whatever is still
// registered when the job ends (failure, cancellation) is removed, so no job
// leaves files behind in the temporary directory.
namespace pdftopjl::job {

// TMPDIR as the job was given it, and the directory the
// job's temporary files go to: TMPDIR, or /tmp when it is unset or empty.
std::optional<std::string> TempDirectorySetting();
std::string TempDirectory();

// A new, empty temporary file, registered for removal: its descriptor and
// path.  A negative descriptor (errno set) when it cannot be made.
struct TempFile {
    int fd = -1;
    std::string path;
};
TempFile CreateTempFile();

void RegisterTempFile(const std::string& path);
// Removes the file and forgets it.
void RemoveTempFile(const std::string& path);
void RemoveAllTempFiles();

}  // namespace pdftopjl::job
