#include "host/UtilityFunctionFilter.hpp"

#include <cstring>

// Placeholder until host identity lands.
void getHostName(char* hostName)
{
    std::memset(hostName, 0, 97);
}

int getHostAddress(const char* /*hostName*/, char* outString, int outStringLen)
{
    if (outString != nullptr && outStringLen > 0)
        std::memset(outString, 0, static_cast<size_t>(outStringLen));
    return 0;
}
