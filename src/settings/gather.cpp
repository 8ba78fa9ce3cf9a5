#include "settings/gather.hpp"

int GetPrintOptions(char* /*argv*/[], PrintOptions* /*options*/)
{
    return 1;
}
