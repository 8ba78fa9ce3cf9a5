#pragma once

#include <string>

// Temporary files this process created and still owns.  Whatever is still
// registered when the job ends (failure, cancellation) is removed, so no job
// leaves files behind in the temporary directory.
void RegisterTempFile(const std::string& path);
// Removes the file and forgets it.
void RemoveTempFile(const std::string& path);
void RemoveAllTempFiles();
