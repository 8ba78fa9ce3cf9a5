#include "driver/filter.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "driver/output.hpp"
#include "driver/staging.hpp"
#include "driver/tempfiles.hpp"
#include "pages/pdf_doc_info.hpp"
#include "pjl/writer.hpp"
#include "settings/gather.hpp"
#include "settings/print_options.hpp"

#ifndef PDFTOPJL_JOBCOPY_MARKER
#define PDFTOPJL_JOBCOPY_MARKER "/Library/Printers/VESPARON/ndjobcopy"
#endif

const char* const FlagPath = PDFTOPJL_JOBCOPY_MARKER;

namespace {

constexpr size_t kJobCopyPathSize = 1035;

// Opens the job-copy file when the vendor's marker is installed.  Any problem
// (no TMPDIR, a path too long, a link planted at the path) means no copy.
void openJobCopyFile(char* path)
{
    if (access(FlagPath, F_OK) != 0) return;
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr) return;

    char stamp[32] = {0};
    time_t now = time(nullptr);
    struct tm local;
    if (localtime_r(&now, &local) == nullptr) return;
    strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);

    int n = snprintf(path, kJobCopyPathSize, "%s/nd%s.job", dir, stamp);
    if (n < 0 || static_cast<size_t>(n) >= kJobCopyPathSize) {
        std::memset(path, 0, kJobCopyPathSize);
        return;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return;
    gJobFilefp = fdopen(fd, "wb");
    if (gJobFilefp == nullptr) close(fd);
}

void closeJobCopyFile()
{
    if (gJobFilefp == nullptr) return;
    fflush(gJobFilefp);
    // 0676, not 0666: the vendor's tools expect these bits.
    fchmod(fileno(gJobFilefp), 0676);
    fclose(gJobFilefp);
    gJobFilefp = nullptr;
}

int failJob(const char* text)
{
    Utlfputs(text, stderr);
    RemoveAllTempFiles();
    return 1;
}

}  // namespace

int FilterMain(int argc, char* argv[])
{
    InstallSignalHandlers();

    char jobCopyPath[kJobCopyPathSize] = {0};
    char stagedPath[kStagedPathSize] = {0};
    gJobFilefp = nullptr;

    if (argc < 6) {
        fputs("Usage: pdftopjl job-id user title copies options [file]\n", stderr);
        return 1;
    }

    openJobCopyFile(jobCopyPath);

    std::memset(&printoptions, 0, sizeof printoptions);
    PDFDocInfo = PdfDocInfo{};
    int64_t fileSize = 0;

    if (!GetPrintOptions(argv, &printoptions)) return failJob("Get Print Options fail\n");
    if (CancelJob) return failJob("Job cancelled\n");

    if (!ProcessData(argc, argv, stagedPath, &PDFDocInfo, &fileSize, &printoptions)) {
        if (CancelJob) return failJob("Job cancelled\n");
        return failJob("Process Data fail\n");
    }
    if (CancelJob) return failJob("Job cancelled\n");

    if (!OutputKPJLCommand(argv, &printoptions, fileSize))
        return failJob("output KPJL Command fail\n");

    // Once the header is out the trailer always follows, so the printer is
    // left in step even when the body fails or the job is cancelled.
    bool bodyOk = true;
    if (stagedPath[0] != '\0') bodyOk = WritePDFData(stagedPath) == 1;
    OutputKPJLTrailer(argv, &printoptions);

    bool outputOk = fflush(stdout) == 0 && !ferror(stdout);
    if (!outputOk && !CancelJobForPipe)
        Utlfputs("Cannot write the job to standard output\n", stderr);
    if (CancelJob) Utlfputs("Job cancelled\n", stderr);

    RemoveAllTempFiles();
    closeJobCopyFile();

    if (CancelJobForPipe || CancelJob || !bodyOk || !outputOk) return 1;
    return 0;
}
