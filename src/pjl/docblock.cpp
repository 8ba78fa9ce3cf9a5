#include "pjl/blocks.hpp"

void OutputJobDocCommand(char* /*argv*/[], PrintOptions* /*options*/) {}
