#pragma once

#include "settings/print_options.hpp"

// Job owner and accounting block.  Returns 1.
int PutJACommand(char* argv[], PrintOptions* options);

// Document, quality, colour, media, duplex and finishing block.
void OutputJobDocCommand(char* argv[], PrintOptions* options);
