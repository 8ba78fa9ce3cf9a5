// The raster pass: each emitted page painted by poppler at 300 dpi on white,
// turned or mirrored by moving pixels, and written as one RGB image over the
// page.  Each page is painted in a worker process under limits scaled to its
// pixels, in bands, and its image comes back compressed, piece by piece, so
// memory stays near one page bitmap whatever the page count, and a page that
// would never end or would take all memory ends the re-rendering instead.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <thread>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "job/channel.hpp"
#include "pages/geometry.hpp"
#include "pages/raster_pages.hpp"
#include "pages/raster_pdf.hpp"
#include "pages/worker.hpp"

namespace pdftopjl {

namespace {

constexpr double kDotsPerInch = 300;
// Pixels painted at a time; letter, A4 and A3 pages take one band.
constexpr int kBandPixels = 24 * 1000 * 1000;
// What painting a page may take: the band bitmap poppler paints into (four
// bytes a pixel) and its RGB copy, with room for fonts and images; and
// processor time by the page's pixels, far beyond what real pages need.
constexpr uint64_t kPaintingBytesPerBandPixel = 8;
constexpr uint64_t kPaintingMemoryMargin = 256ull << 20;
constexpr int kPaintingSecondsBase = 5;
constexpr double kPaintingPixelsPerSecond = 500000;
// Pages painted at once: one per core, a few at most, so that memory stays
// at a few page bitmaps.
size_t paintingWorkers()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<size_t>(cores, 1, 4);
}
// What a painting worker sends: the image's size and place, its compressed
// rows, its end.
constexpr uint32_t kRecordImage = 'I';
constexpr uint32_t kRecordImageData = 'D';
constexpr uint32_t kRecordImageEnd = 'E';

struct ImageHeader {
    int32_t width = 0, height = 0;
    int32_t flipX = 0, flipY = 0;  // each row reversed; the rows in reverse order
    double cropX = 0, cropY = 0, cropW = 0, cropH = 0;  // poppler's crop box
};

// Poppler's own complaints about a document, passed on up to this many.
constexpr int kMaxPopplerMessages = 5;

int popplerMessages = 0;

void forwardPopplerMessage(const std::string& text, void*)
{
    if (popplerMessages++ >= kMaxPopplerMessages) return;
    std::string line = "poppler: " + text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    job::Log(job::Severity::Debug, line);
}

int degreesOf(poppler::page::orientation_enum orientation)
{
    switch (orientation) {
    case poppler::page::landscape: return 90;
    case poppler::page::upside_down: return 180;
    case poppler::page::seascape: return 270;
    default: return 0;
    }
}

// Poppler reads the intake through the same mapping qpdf reads, or through
// its descriptor: never by a name that could by now be another file.
poppler::document* openWithPoppler(const SourceDocument& source)
{
    if (source.file.data() != nullptr && source.file.size() <= static_cast<size_t>(INT_MAX))
        return poppler::document::load_from_raw_data(source.file.data(),
                                                     static_cast<int>(source.file.size()));
    return poppler::document::load_from_file("/proc/self/fd/" + std::to_string(source.fd));
}


int bandRowsFor(int width, int height)
{
    return std::max(1, std::min(height, kBandPixels / width));
}

WorkerLimits paintingLimits(int width, int height)
{
    const uint64_t band = static_cast<uint64_t>(width) * bandRowsFor(width, height);
    const double pixels = static_cast<double>(width) * height;
    WorkerLimits limits;
    limits.memoryBytes = band * kPaintingBytesPerBandPixel + kPaintingMemoryMargin;
    limits.cpuSeconds = kPaintingSecondsBase + static_cast<int>(std::ceil(pixels / kPaintingPixelsPerSecond));
    return limits;
}

// Paints page n in a worker: checks it as poppler sees it, then sends its
// image, painted band by band, rows and pixels moved as the transformation
// says, compressed as it goes.
int paintPage(WorkerOutput& out, const SourceDocument& source, const EditPlan& plan, int32_t n,
              const PageGeometry& geometry)
{
    popplerMessages = 0;
    poppler::set_debug_error_function(forwardPopplerMessage, nullptr);
    std::unique_ptr<poppler::document> document(openWithPoppler(source));
    if (!document || document->is_locked()) {
        ReportRenderFailure("poppler cannot open the document");
        return kWorkRefused;
    }
    if (document->pages() != static_cast<int>(source.pages.size())) {
        ReportRenderFailure("poppler and qpdf disagree on the page count (%d, %zu)",
                            document->pages(), source.pages.size());
        return kWorkRefused;
    }
    std::unique_ptr<poppler::page> page(document->create_page(n - 1));
    if (!page) {
        ReportRenderFailure("poppler cannot read page %d", n);
        return kWorkRefused;
    }
    const int rotate = degreesOf(page->orientation());
    if (rotate != geometry.rotate) {
        ReportRenderFailure("page %d: poppler and qpdf disagree on its /Rotate", n);
        return kWorkRefused;
    }

    // Poppler paints the crop box, which is what viewers show of the page.
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const PageRect crop{box.x(), box.y(), box.width(), box.height()};
    int width, height;
    std::string why;
    if (!RasterPixelSize(crop, &width, &height, &why)) {
        ReportRenderFailure("page %d: %s", n, why.c_str());
        return kWorkRefused;
    }
    // The bitmap takes the page's transformation as whole-pixel moves.
    const QPDFMatrix ctm = PageTransform(plan.rotation, plan.mirror,
                                         PageRect{0, 0, double(width), double(height)}, rotate);
    if (ctm.b != 0 || ctm.c != 0) {
        ReportRenderFailure("a turn of %d degrees cannot be rasterised", plan.rotation);
        return kWorkRefused;
    }
    const ImageHeader header{width, height, ctm.a < 0, ctm.d < 0, crop.x, crop.y, crop.w, crop.h};
    if (!out.send(kRecordImage, &header, sizeof header)) return kWorkRefused;

    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_rgb24);
    renderer.set_paper_color(0xffffffff);
    const auto undo = static_cast<poppler::rotation_enum>(((360 - rotate) % 360) / 90);

    const size_t rowBytes = static_cast<size_t>(width) * 3;
    std::vector<unsigned char> row(rowBytes);
    ImageDeflater deflater([&out](const unsigned char* data, size_t size) {
        return out.send(kRecordImageData, data, size);
    });
    if (!deflater.begin(rowBytes)) {
        ReportRenderFailure("the image of page %d cannot be compressed", n);
        return kWorkRefused;
    }
    const int bandRows = bandRowsFor(width, height);
    const int bands = (height + bandRows - 1) / bandRows;
    for (int b = 0; b < bands; ++b) {
        const int band = header.flipY ? bands - 1 - b : b;
        const int top = band * bandRows;
        const int rows = std::min(bandRows, height - top);
        poppler::image image = renderer.render_page(page.get(), kDotsPerInch, kDotsPerInch, 0, top,
                                                    width, rows, undo);
        if (!image.is_valid() || image.width() != width || image.height() != rows ||
            image.format() != poppler::image::format_rgb24) {
            ReportRenderFailure("poppler could not paint page %d", n);
            return kWorkRefused;
        }
        const char* data = image.const_data();
        for (int r = 0; r < rows; ++r) {
            const int from = header.flipY ? rows - 1 - r : r;
            const auto* pixels = reinterpret_cast<const unsigned char*>(
                data + static_cast<size_t>(from) * image.bytes_per_row());
            if (header.flipX) {
                for (size_t at = 0, back = rowBytes - 3; at < rowBytes; at += 3, back -= 3) {
                    row[at] = pixels[back];
                    row[at + 1] = pixels[back + 1];
                    row[at + 2] = pixels[back + 2];
                }
                pixels = row.data();
            }
            // Only the job going away stops this: nothing is left to say.
            if (!deflater.writeRow(pixels)) return kWorkRefused;
        }
    }
    if (!deflater.finish() || !out.send(kRecordImageEnd, nullptr, 0)) return kWorkRefused;
    return kWorkDone;
}

// A page on its way: what its worker was given and has sent so far.
struct PageInProgress {
    int32_t n = 0;
    PageGeometry geometry;
    WorkerLimits limits;
    ImageHeader header;
    bool started = false;
    bool ended = false;
};

class RasterWriter : public PageWriter {
public:
    RasterWriter(SourceDocument& source, const EditPlan& plan, FILE* file)
        : source_(source), plan_(plan), writer_(file), workers_(paintingWorkers())
    {
    }

    bool begin() override { return true; }

    bool addPage(int32_t n, QPDFObjectHandle, const PageGeometry& geometry) override
    {
        int width, height;
        std::string why;
        if (!RasterPixelSize(geometry.crop, &width, &height, &why)) {
            ReportRenderFailure("page %d: %s", n, why.c_str());
            return false;
        }
        auto page = std::make_shared<PageInProgress>();
        page->n = n;
        page->geometry = geometry;
        page->limits = paintingLimits(width, height);
        const bool going = workers_.submit(
            [this, n, geometry](WorkerOutput& out) {
                return paintPage(out, source_, plan_, n, geometry);
            },
            page->limits,
            [this, page](uint32_t type, std::string_view payload) { return take(*page, type, payload); },
            [this, page](const WorkerResult& result) { return finished(*page, result); });
        // The pool finishes the oldest page when every worker is busy, and
        // the rest when the document ends.
        return going;
    }

    bool finish() override
    {
        if (!workers_.drain()) return false;
        if (writer_.finish()) return true;
        if (writer_.writeError() == 0) ReportRenderFailure("the new document cannot be completed");
        return false;
    }

    int writeError() const override { return writer_.writeError(); }

private:
    // One record of a page's worker, into the new document.
    bool take(PageInProgress& page, uint32_t type, std::string_view payload)
    {
        if (type == kRecordImage && !page.started && payload.size() == sizeof page.header) {
            std::memcpy(&page.header, payload.data(), sizeof page.header);
            page.started = true;
            return writer_.beginImage(page.header.width, page.header.height);
        }
        if (type == kRecordImageData && page.started && !page.ended)
            return writer_.writeImageData(payload.data(), payload.size());
        if (type == kRecordImageEnd && page.started && !page.ended) {
            page.ended = true;
            // The image covers the crop box, moved as the page's content moves.
            const ImageHeader& h = page.header;
            const PageRect& m = page.geometry.media;
            PageRect placement{h.cropX, h.cropY, h.cropW, h.cropH};
            if (h.flipX) placement.x = 2 * m.x + m.w - h.cropX - h.cropW;
            if (h.flipY) placement.y = 2 * m.y + m.h - h.cropY - h.cropH;
            return writer_.endImage() &&
                   writer_.addPage(m, page.geometry.rotate, page.geometry.userUnit, placement);
        }
        return false;
    }

    // How a page's worker ended; false, after a message unless the new file
    // could not be written or the job was cancelled, when the page is not in.
    bool finished(const PageInProgress& page, const WorkerResult& result)
    {
        const int n = page.n;
        const unsigned long long mib = page.limits.memoryBytes >> 20;
        const int seconds = page.limits.cpuSeconds;
        switch (result.end) {
        case WorkerEnd::Done:
            if (page.ended) return true;
            ReportRenderFailure("painting page %d ended before its image was complete", n);
            return false;
        case WorkerEnd::Refused:
        case WorkerEnd::Cancelled:
            return false;
        case WorkerEnd::Stopped:
            if (writer_.writeError() == 0)
                ReportRenderFailure("painting page %d sent what the new document cannot take", n);
            return false;
        case WorkerEnd::OutOfTime:
            ReportRenderFailure("page %d was not painted within its limit of %d s of processor time",
                                n, seconds);
            return false;
        case WorkerEnd::OutOfMemory:
            ReportRenderFailure("page %d needs more than its limit of %llu MiB of memory to be painted",
                                n, mib);
            return false;
        case WorkerEnd::NotStarted:
            ReportRenderFailure("no process could be started to paint page %d: %s", n,
                                std::strerror(result.error));
            return false;
        case WorkerEnd::WriteFailed:
        case WorkerEnd::Died:
            break;
        }
        ReportRenderFailure("painting page %d ended with signal %d, within limits of %llu MiB of "
                            "memory and %d s of processor time",
                            n, result.signal, mib, seconds);
        return false;
    }

    SourceDocument& source_;
    const EditPlan& plan_;
    RasterPdfWriter writer_;
    WorkerPool workers_;  // declared last, so its workers end first
};

}  // namespace

std::unique_ptr<PageWriter> MakeRasterWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file)
{
    return std::make_unique<RasterWriter>(source, plan, file);
}

}  // namespace pdftopjl
