#pragma once

#include "settings/print_options.hpp"

// Job owner and accounting block.  Returns 1.
int PutJACommand(char* argv[], PrintOptions* options);

// Document, quality, colour, media, duplex and finishing block.
void OutputJobDocCommand(char* argv[], PrintOptions* options);

// A stored job's passcode must reach the printer exactly as given: 1 when it
// can, 0 after a message when it is too long for its line or holds bytes the
// line cannot carry.  Checked before any byte of the job is written.
int CheckHoldPasscode(const PrintOptions* options);
