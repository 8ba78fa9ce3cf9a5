#include <cstring>

#include "cups/filter.hpp"
#include "filter_run.hpp"
#include "printer_app.hpp"

int main(int argc, char* argv[])
{
    // The application runs itself as the filter for each job, so that the
    // core works in a process of its own, exactly as under CUPS:
    //   pdftopjl-app --filter job-id user title copies options file
    if (argc > 1 && std::strcmp(argv[1], pdftopjl::app::kFilterMode) == 0)
        return pdftopjl::FilterMain(argc - 1, argv + 1);
    return pdftopjl::app::RunApp(argc, argv);
}
