// SPDX-License-Identifier: Apache-2.0
#include "core/filter.hpp"

#include <cstdio>
#include <optional>
#include <string>

#include "core/staging.hpp"
#include "job/output.hpp"
#include "job/log.hpp"
#include "job/cancel.hpp"
#include "job/tempfiles.hpp"
#include "pjl/header.hpp"

namespace pdftopjl {

namespace {

Outcome endJob(Outcome outcome)
{
    if (outcome == Outcome::Cancelled) job::Log(job::Severity::Info, "Job cancelled");
    job::RemoveAllTempFiles();
    job::CloseJobCopy();
    return outcome;
}

// The reason was given where the job failed; the printer tools' own line
// for the phase follows it.
Outcome failJob(Outcome outcome, const char* historicalText)
{
    job::LogHistorical(historicalText);
    return endJob(outcome);
}

// Until the job's output begins, a cancel is honoured within a second
// whatever the job is doing (see job::BeforeOutput).
struct BeforeOutputScope {
    BeforeOutputScope() { job::BeforeOutput(true); }
    ~BeforeOutputScope() { job::BeforeOutput(false); }
};

// The caller's hooks for the length of the job.
struct HookScope {
    explicit HookScope(const JobHooks& hooks)
    {
        if (hooks.log)
            job::SetLogSink([&log = hooks.log](job::Severity severity, std::string_view text) {
                log(static_cast<LogLevel>(severity), text);
            });
        if (hooks.cancelled) job::SetCancelCheck(hooks.cancelled);
    }
    ~HookScope()
    {
        job::SetLogSink({});
        job::SetCancelCheck({});
    }
};

static_assert(static_cast<int>(LogLevel::Error) == static_cast<int>(job::Severity::Error) &&
              static_cast<int>(LogLevel::Debug) == static_cast<int>(job::Severity::Debug));

}  // namespace

int ExitStatus(Outcome outcome) { return outcome == Outcome::Printed ? 0 : 1; }

Outcome RunJob(const JobTicket& ticket, const PrinterProfile& printer, const JobDocument& document,
               FILE* output, const JobHooks& hooks, const JobServices& services)
{
    HookScope hookScope(hooks);
    // A caller with its own cancel owns the process's signals; the filter's
    // SIGTERM also ends a job that has sent nothing where it stands.
    std::optional<BeforeOutputScope> beforeOutput;
    if (!hooks.cancelled) {
        job::InstallSignalHandlers();
        beforeOutput.emplace();
    }
    // Looked up while the document is staged.
    HostIdentityLookup hostLookup(services.host);
    // Encoded once, now: a text the printer cannot take is reported before
    // any work.
    const HeaderTexts texts = EncodeHeaderTexts(ticket, printer);
    // Messages from here on reach the log at once.
    setvbuf(stderr, nullptr, _IONBF, 0);
    if (job::Cancelled()) return endJob(Outcome::Cancelled);
    // Before the document is read: a job that cannot be held as asked never
    // prints.
    if (!StoredJobPasscodeUsable(ticket))
        return failJob(Outcome::PasscodeRefused, "output KPJL Command fail");

    Outcome stagingFailure = Outcome::Failed;
    std::optional<StagedDocument> staged = StageDocument(ticket, printer, document, &stagingFailure);
    if (job::Cancelled()) return endJob(Outcome::Cancelled);
    if (!staged) return failJob(stagingFailure, "Process Data fail");

    // The address only when the dialog did not give one.
    const HostIdentity host =
        hostLookup.finish(printer.codeSet == CodeSet::Utf8, ticket.accounting.clientAddress.empty());
    if (job::Cancelled()) return endJob(Outcome::Cancelled);
    PjlWriter out(output);
    PrinterWatch* const watch = hooks.printerWatch;
    HeaderInputs header{ticket, printer, texts, host, services.clock ? services.clock() : time(nullptr), staged->size};
    header.askStatus = watch != nullptr;
    if (hooks.impressionsKnown) hooks.impressionsKnown(staged->pages * ticket.copies);
    beforeOutput.reset();
    WriteJobHeader(header, out);

    // Once the header is out the trailer always follows, so the printer is
    // left in step even when the body fails or the job is cancelled.
    const bool bodyOk =
        SendStagedDocument(*staged, output, watch != nullptr ? std::function<void()>([watch] { watch->Poll(); })
                                                             : std::function<void()>());
    WriteJobTrailer(out, header.askStatus);

    const bool outputOk = fflush(output) == 0 && !ferror(output);
    if (watch != nullptr) watch->Poll();
    if (!outputOk && !job::OutputClosed())
        job::Log(job::Severity::Error,
                 "Cannot write the job to standard output; the printer may have received part "
                 "of it");
    if (job::Cancelled()) return endJob(Outcome::Cancelled);
    if (job::OutputClosed() || !outputOk) return endJob(Outcome::WriteFailed);
    if (!bodyOk) return endJob(Outcome::Failed);
    if (hooks.pagesSent) hooks.pagesSent(staged->pages, ticket.copies);
    return endJob(Outcome::Printed);
}

}  // namespace pdftopjl
