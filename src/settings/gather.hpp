#pragma once

#include "settings/print_options.hpp"

// Fills the whole record from the PPD and the job's options.  Returns 1.
int GetPrintOptions(char* argv[], PrintOptions* options);
