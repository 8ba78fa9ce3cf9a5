#include "driver/output.hpp"

#include <cstring>

FILE* gJobFilefp = nullptr;
volatile sig_atomic_t CancelJob = 0;
volatile sig_atomic_t CancelJobForPipe = 0;

size_t Utlfwrite(const void* data, size_t size, size_t count, FILE* stream)
{
    if (gJobFilefp != nullptr) fwrite(data, size, count, gJobFilefp);
    return fwrite(data, size, count, stream);
}

int Utlfputs(const char* text, FILE* stream)
{
    if (gJobFilefp != nullptr) fputs(text, gJobFilefp);
    return fputs(text, stream);
}

int Utlfputc(int byte, FILE* stream)
{
    if (gJobFilefp != nullptr) fputc(byte, gJobFilefp);
    return fputc(byte, stream);
}

void SignalHandler(int) { CancelJob = 1; }

void SignalPipeHandler(int) { CancelJobForPipe = 1; }

void InstallSignalHandlers()
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = SignalHandler;
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = SignalPipeHandler;
    sigaction(SIGPIPE, &action, nullptr);
}
