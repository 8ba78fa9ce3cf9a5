// SPDX-License-Identifier: Apache-2.0
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "cups/filter.hpp"

int main(int argc, char* argv[])
{
    // Asked by a person: cupsd always passes six or seven arguments.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(pdftopjl::kFilterUsage, stdout);
        std::puts("A CUPS filter: writes the job for the printer to standard output (see pdftopjl(8)).");
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("pdftopjl " PDFTOPJL_VERSION);
        return 0;
    }
    const int status = pdftopjl::FilterMain(argc, argv);
#if defined(__SANITIZE_ADDRESS__)
    return status;  // the leak check runs at exit
#else
    // The job is complete and its files are gone: what exit() would still
    // do is take the libraries' state apart one by one, a twentieth of a
    // small job's processor time that nobody sees.
    std::fflush(nullptr);
    _exit(status);
#endif
}
