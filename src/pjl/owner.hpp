#pragma once

#include <ctime>

#include "settings/print_options.hpp"

// One owner block: DATE and TIME comments, then CNAM, JOAU, HOAD (when an
// address is known) and JOEP.  userText and secondText are zero-terminated
// texts of at most 254 bytes; an empty userText falls back to argv[2].
void OutputJobOwnerCommand(char* argv[], PrintOptions* options, const char* userText,
                           const char* secondText);

// The HOAD value for a numeric address text: "I" followed by each
// dot-separated piece as uppercase hexadecimal.  Writes at most size - 1 bytes.
void MakeHostAddressValue(const char* address, char* value, size_t size);

// The clock read by the owner block; null restores time().
using OwnerClock = time_t (*)();
void SetOwnerClock(OwnerClock clock);
