#include "driver/filter.hpp"

#include <cstdlib>

#include "job/channel.hpp"
#include "job/tempfiles.hpp"
#include "pjl/header.hpp"
#include "settings/gather.hpp"

#ifndef PDFTOPJL_JOBCOPY_MARKER
#define PDFTOPJL_JOBCOPY_MARKER "/Library/Printers/VESPARON/ndjobcopy"
#endif

namespace pdftopjl {

namespace {

int failJob(const char* text)
{
    job::Log(job::Severity::Error, text);
    job::RemoveAllTempFiles();
    return 1;
}

}  // namespace

int RunJob(int argc, char* argv[], const JobServices& services)
{
    job::InstallSignalHandlers();
    std::optional<JobArguments> args = JobArguments::FromCommandLine(argc, argv);
    if (!args) {
        fputs("Usage: pdftopjl job-id user title copies options [file]\n", stderr);
        return 1;
    }
    job::OpenJobCopy(PDFTOPJL_JOBCOPY_MARKER);

    JobContext job(std::move(*args), OpenPpd(std::getenv("PPD")));
    job.settings = GatherSettings(job.inputs);
    // Messages from here on reach the log at once.
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (job::Cancelled()) return failJob("Job cancelled");

    job.staged = StageDocument(job.inputs, job.settings);
    if (!job.staged) return failJob(job::Cancelled() ? "Job cancelled" : "Process Data fail");
    if (job::Cancelled()) return failJob("Job cancelled");

    // The address only when the dialog did not give one.
    job.host = ResolveHostIdentity(job.settings.utf8Mode(), job.settings.kvr.ipAddress.empty(),
                                   services.host);
    PjlWriter out(services.jobStream);
    const HeaderInputs header{job.settings,
                              job.inputs.args.user,
                              job.inputs.args.copies,
                              job.host,
                              services.clock ? services.clock() : time(nullptr),
                              job.staged->size};
    if (!WriteJobHeader(header, out)) return failJob("output KPJL Command fail");

    // Once the header is out the trailer always follows, so the printer is
    // left in step even when the body fails or the job is cancelled.
    const bool bodyOk = SendStagedDocument(*job.staged, services.jobStream);
    WriteJobTrailer(out);

    const bool outputOk = fflush(services.jobStream) == 0 && !ferror(services.jobStream);
    if (!outputOk && !job::OutputClosed())
        job::Log(job::Severity::Error, "Cannot write the job to standard output");
    if (job::Cancelled()) job::Log(job::Severity::Error, "Job cancelled");

    job::RemoveAllTempFiles();
    job::CloseJobCopy();
    return job::OutputClosed() || job::Cancelled() || !bodyOk || !outputOk ? 1 : 0;
}

int FilterMain(int argc, char* argv[]) { return RunJob(argc, argv, JobServices{}); }

}  // namespace pdftopjl
