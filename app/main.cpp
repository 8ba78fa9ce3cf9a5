// SPDX-License-Identifier: Apache-2.0
#include <cstring>

#include "job_process.hpp"
#include "printer_app.hpp"

int main(int argc, char* argv[])
{
    // The application runs itself for each job, so that the core works in a
    // process of its own (see job_process.hpp).
    if (argc == 2 && std::strcmp(argv[1], pdftopjl::app::kRunJobMode) == 0) return pdftopjl::app::RunJobProcess();
    return pdftopjl::app::RunApp(argc, argv);
}
