#pragma once

#include <csignal>
#include <cstddef>
#include <cstdio>

// Output channel: every byte of the job stream, the direct staging copy and
// every message pass through here, so that the job-copy file (when open)
// receives them too, in the order written.
extern FILE* gJobFilefp;

size_t Utlfwrite(const void* data, size_t size, size_t count, FILE* stream);
int Utlfputs(const char* text, FILE* stream);
int Utlfputc(int byte, FILE* stream);

// Set from signal context only.
extern volatile sig_atomic_t CancelJob;
extern volatile sig_atomic_t CancelJobForPipe;

void SignalHandler(int sig);
void SignalPipeHandler(int sig);

// Installs both handlers; interrupted system calls are resumed.
void InstallSignalHandlers();
