// SPDX-License-Identifier: Apache-2.0
#include "print_job.hpp"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "device_writer.hpp"
#include "image_pdf.hpp"
#include "job_process.hpp"
#include "job_ticket_ipp.hpp"
#include "models.hpp"
#include "passcodes.hpp"
#include "runtime.hpp"

namespace pdftopjl::app {

namespace {

const Model* modelOf(pappl_job_t* job)
{
    const char* driver = papplPrinterGetDriverName(papplJobGetPrinter(job));
    return driver != nullptr ? FindModel(driver) : nullptr;
}

// A temporary file removed when it goes out of scope.
struct TempFile {
    std::string path;
    TempFile()
    {
        std::string pattern = JobWorkRoot() + "/document-XXXXXX.pdf";
        const int fd = mkstemps(pattern.data(), 4);
        if (fd >= 0) {
            close(fd);
            path = pattern;
        }
    }
    ~TempFile()
    {
        if (!path.empty()) unlink(path.c_str());
    }
};

// PAPPL 1.3 may start the same job on two threads when one job ends as the
// next arrives (both see it pending before either has claimed it).  Jobs
// print one at a time per printer, and a job that has printed is not
// printed again: the second thread waits for the first, then reports what
// the first did, since PAPPL makes the job processing again and then ends it
// by what the second thread returns.
class PrintOnce {
public:
    explicit PrintOnce(pappl_job_t* job) : job_(job)
    {
        printer_ = &printerOf(papplPrinterGetID(papplJobGetPrinter(job)));
        lock_ = std::unique_lock<std::mutex>(printer_->lock);
        const auto [entry, inserted] = printer_->printed.try_emplace(papplJobGetID(job));
        first_ = inserted;
        if (!first_) earlier_ = entry->second;
        // Only recent jobs can be started twice.
        while (printer_->printed.size() > 64) printer_->printed.erase(printer_->printed.begin());
        if (!first_) papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "Already printed by another thread.");
    }
    bool first() const { return first_; }

    // The first thread's result, kept for a second one.
    bool finish(bool ok)
    {
        auto entry = printer_->printed.find(papplJobGetID(job_));
        if (entry != printer_->printed.end()) entry->second = {ok, papplJobGetImpressions(job_)};
        return ok;
    }
    // For a second thread: the first's result and impressions.  When PAPPL
    // handed the document to the driver it has just reset the impressions
    // and, on success, will count one more completed.
    bool repeat(bool documentToDriver) const
    {
        if (earlier_.impressions > 0) papplJobSetImpressions(job_, earlier_.impressions);
        if (documentToDriver && earlier_.ok) papplJobSetImpressionsCompleted(job_, -1);
        return earlier_.ok;
    }

private:
    struct Outcome {
        bool ok = false;
        int impressions = 0;
    };
    struct Printer {
        std::mutex lock;
        std::map<int, Outcome> printed;
    };
    static Printer& printerOf(int id)
    {
        static std::mutex mapLock;
        static std::map<int, Printer> printers;
        std::lock_guard<std::mutex> hold(mapLock);
        return printers[id];
    }
    pappl_job_t* job_;
    Printer* printer_;
    std::unique_lock<std::mutex> lock_;
    bool first_ = false;
    Outcome earlier_;
};

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppHandle = std::unique_ptr<ipp_t, IppDeleter>;

struct PrintOptionsDeleter {
    void operator()(pappl_pr_options_t* options) const { papplJobDeletePrintOptions(options); }
};

// The job's ticket and the core's run on `pdf`; `options` are PAPPL's
// reading of the job.
bool printThroughCore(pappl_job_t* job, pappl_device_t* device, const std::string& pdf,
                      const pappl_pr_options_t* options, Accounting accounting)
{
    const Model* model = modelOf(job);
    if (model == nullptr) {
        FailJob(job, "The printer's driver is unknown", PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    bool lost = false;
    std::optional<JobPassword> password = TakeJobPassword(job, &lost);
    if (lost) {
        FailJob(job, "The job's passcode was lost when the server restarted; the job was not printed",
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    if (password) {
        if (const std::string error = PasscodeError(*password); !error.empty()) {
            explicit_bzero(password->value.data(), password->value.size());
            FailJob(job, error + "; nothing was sent to the printer", PAPPL_JREASON_ERRORS_DETECTED);
            return false;
        }
    }
    IppHandle printerAttrs(papplPrinterGetDriverAttributes(papplJobGetPrinter(job)));
    JobTicket ticket = TicketFromIpp(IppJobOf(job, options, printerAttrs.get()), password);
    if (password) explicit_bzero(password->value.data(), password->value.size());
    PrinterProfile printer = ProfileForModel(*model);
    printer.queueName = papplPrinterGetName(papplJobGetPrinter(job));
    JobOutput output(job, device);
    const bool ok = RunCore(job, output, pdf, ticket, printer, model->ppd, accounting);
    explicit_bzero(ticket.held.passcode.data(), ticket.held.passcode.size());
    return ok;
}

// The page size, in points, of a PWG media name.
bool pageSize(const std::string& media, double* width, double* height)
{
    pwg_media_t* pwg = pwgMediaForPWG(media.c_str());
    if (pwg == nullptr) return false;
    *width = pwg->width * 72.0 / 2540.0;
    *height = pwg->length * 72.0 / 2540.0;
    return true;
}

struct RasterJob {
    TempFile file;
    RasterPdf pdf;
    bool failed = false;
};

RasterJob* rasterJob(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

// The job's document, or null after failing a job that has none (a
// Create-Job whose Send-Document never came).
const char* documentOf(pappl_job_t* job)
{
    const char* file = papplJobGetFilename(job);
    if (file == nullptr)
        FailJob(job, "The job has no document; nothing was sent to the printer",
                PAPPL_JREASON_JOB_DATA_INSUFFICIENT);
    return file;
}

// A JPEG printed as a page of PDF.
bool printJpeg(pappl_job_t* job, pappl_device_t* device)
{
    const Model* model = modelOf(job);
    const char* document = documentOf(job);
    if (model == nullptr || document == nullptr) return false;
    std::ifstream in(document, std::ios::binary);
    const std::string jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    double width = 0, height = 0;
    std::unique_ptr<pappl_pr_options_t, PrintOptionsDeleter> options(papplJobCreatePrintOptions(job, 0, true));
    if (options == nullptr) {
        FailJob(job, "Out of memory", PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    const std::string media = MediaSizeName(IppJobOf(job, options.get(), nullptr));
    if (!pageSize(media, &width, &height)) {
        FailJob(job, "The job's paper size is unknown: " + media, PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    const std::string pdf = JpegToPdf(jpeg, width, height, model->marginHundredthsMm * 72.0 / 2540.0);
    if (pdf.empty()) {
        FailJob(job, "The JPEG image cannot be read; nothing was sent to the printer",
                PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
        return false;
    }
    TempFile file;
    std::ofstream(file.path, std::ios::binary) << pdf;
    return printThroughCore(job, device, file.path, options.get(), Accounting::All);
}

}  // namespace

bool PrintPdf(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    PrintOnce once(job);
    if (!once.first()) return once.repeat(true);
    const char* document = documentOf(job);
    // PAPPL counts one impression for the file itself.
    return once.finish(document != nullptr &&
                       printThroughCore(job, device, document, options, Accounting::AllButOne));
}

bool PrintJpeg(pappl_job_t* job, pappl_device_t* device, void*)
{
    PrintOnce once(job);
    if (!once.first()) return once.repeat(false);
    return once.finish(printJpeg(job, device));
}

bool RefuseUntyped(pappl_job_t* job, pappl_device_t*, void*)
{
    FailJob(job,
            "The document is not in a format the printer takes (PDF, JPEG, PNG, PWG or Apple raster); nothing was "
            "sent to the printer",
            PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
    return false;
}

bool RasterStartJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    auto state = std::make_unique<RasterJob>();
    if (state->file.path.empty() || !state->pdf.Open(state->file.path)) {
        FailJob(job, std::string("Cannot create a temporary file: ") + std::strerror(errno),
                PAPPL_JREASON_ERRORS_DETECTED);
        return false;
    }
    papplJobSetData(job, state.release());
    return true;
}

bool RasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned)
{
    RasterJob* state = rasterJob(job);
    const auto& header = options->header;
    if (state == nullptr || header.cupsBitsPerColor != 8 || header.HWResolution[0] == 0 ||
        header.HWResolution[1] == 0)
        return false;
    ImageColor color;
    switch (header.cupsColorSpace) {
    case CUPS_CSPACE_K: color = ImageColor::InvertedGray; break;
    case CUPS_CSPACE_W:
    case CUPS_CSPACE_SW: color = ImageColor::Gray; break;
    case CUPS_CSPACE_CMYK: color = ImageColor::Cmyk; break;
    default: color = header.cupsNumColors == 1 ? ImageColor::Gray : ImageColor::Rgb; break;
    }
    const double width = header.cupsWidth * 72.0 / header.HWResolution[0];
    const double height = header.cupsHeight * 72.0 / header.HWResolution[1];
    if (!state->pdf.StartPage(header.cupsWidth, header.cupsHeight, color, width, height)) {
        state->failed = true;
        return false;
    }
    return true;
}

bool RasterWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
                     const unsigned char* line)
{
    RasterJob* state = rasterJob(job);
    if (state == nullptr || !state->pdf.WriteLine(line)) {
        if (state != nullptr) state->failed = true;
        return false;
    }
    return true;
}

bool RasterEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned)
{
    RasterJob* state = rasterJob(job);
    if (state == nullptr || !state->pdf.EndPage()) {
        if (state != nullptr) state->failed = true;
        return false;
    }
    return true;
}

bool RasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device)
{
    std::unique_ptr<RasterJob> state(rasterJob(job));
    papplJobSetData(job, nullptr);
    if (state == nullptr) return false;
    const bool written = state->pdf.Close() && !state->failed;
    if (papplJobIsCanceled(job)) return true;
    if (!written) {
        FailJob(job, "The raster pages could not be made into a PDF; nothing was sent to the printer",
                PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
        return false;
    }
    // PAPPL has counted the pages as they came.  Raster jobs, which PAPPL
    // runs on the client's thread, also wait their turn for the device.
    PrintOnce once(job);
    return printThroughCore(job, device, state->file.path, options, Accounting::None);
}

}  // namespace pdftopjl::app
