#include "pjl/blocks.hpp"

int PutJACommand(char* /*argv*/[], PrintOptions* /*options*/)
{
    return 1;
}
