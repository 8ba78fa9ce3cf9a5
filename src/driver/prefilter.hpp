#pragma once

#include <cstddef>

// Finds the system's PDF layout filter.  1 with its full path in the buffer,
// -1 after a message when there is none.
int PrepFormat(char* prefilterPath, size_t size);

// Replaces the calling process with the pre-filter; returns only when it
// cannot be started.
void ExecuteFilter(const char* prefilterPath, int argc, char* argv[]);
