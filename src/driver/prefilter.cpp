#include "driver/prefilter.hpp"

#include <cstdio>

#include "driver/output.hpp"

int PrepFormat(char* /*prefilterPath*/, size_t /*size*/)
{
    Utlfputs("access bestFilterPath error\n", stderr);
    return -1;
}

void ExecuteFilter(const char* /*prefilterPath*/, int /*argc*/, char* /*argv*/[]) {}
