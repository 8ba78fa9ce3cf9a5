// SPDX-License-Identifier: Apache-2.0
// The raster pass: each emitted page painted by poppler at 300 dpi on white,
// turned or mirrored by moving pixels, and written as one image over the
// page: black and white (one bit a pixel) when every pixel is one or the
// other; its two commonest colours at one bit under a stencil for each other
// colour when those are few and small; a palette of its colours when it
// holds 256 at most (at 1, 2, 4 or 8 bits a pixel, over grey when none has
// colour), else RGB.  Each page is painted in a
// worker process under limits scaled to its pixels, and its image comes back
// compressed, so memory stays near one page bitmap a worker whatever the
// page count, and a page that would never end or would take all memory ends
// the re-rendering instead.  Poppler itself is in the painting module
// (pages/painter.hpp), loaded before the first worker starts.

#if defined(__linux__)
#include <malloc.h>
#endif
#include <sys/mman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "job/log.hpp"
#include "pages/fax_g4.hpp"
#include "pages/geometry.hpp"
#include "pages/painter.hpp"
#include "pages/raster_colours.hpp"
#include "pages/raster_pages.hpp"
#include "pages/raster_pdf.hpp"
#include "pages/worker.hpp"

namespace pdftopjl {

namespace {

constexpr double kDotsPerInch = 300;
// Pixels painted at a time; letter, A4 and A3 pages take one band.
constexpr int kBandPixels = 24 * 1000 * 1000;
// What painting a page may take: the band bitmap poppler paints into (four
// bytes a pixel), its RGB copy, which is worked on in place, and room for the
// compressed image,
// with more for fonts and images; and processor time by the page's pixels,
// far beyond what real pages need.
constexpr uint64_t kPaintingBytesPerBandPixel = 14;
constexpr uint64_t kPaintingMemoryMargin = 256ull << 20;
constexpr int kPaintingSecondsBase = 5;
constexpr double kPaintingPixelsPerSecond = 500000;
// libdeflate's level for a page painted whole.  On text pages 6 is where
// more effort stops paying: the size of zlib's default in a third of its
// time, while 7 takes a quarter longer for 2% less and 9 twice as long for
// 5% less.
constexpr int kDeflateLevel = 6;
// Group 4 is kept while it is at most this fraction of the packed bits.
constexpr size_t kFaxMostOfRaw = 4;
// The compressed image goes to the job in records of this size.
constexpr size_t kImageRecordBytes = 1 << 20;
// Pages painted at once: one per core, a few at most, so that memory stays
// at a few page bitmaps.
size_t paintingWorkers()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp<size_t>(cores, 1, 4);
}
// What a painting worker sends: the image's size and place, its compressed
// rows, its end; then for each stencil over it its format and rectangle, its
// rows, its end.
constexpr uint32_t kRecordImage = 'I';
constexpr uint32_t kRecordStencil = 'S';
constexpr uint32_t kRecordImageData = 'D';
constexpr uint32_t kRecordImageEnd = 'E';

struct ImageHeader {
    int32_t width = 0, height = 0;
    ImageFormat format;
    int32_t flipX = 0, flipY = 0;  // each row reversed; the rows in reverse order
    int32_t stencils = 0;
    double cropX = 0, cropY = 0, cropW = 0, cropH = 0;  // poppler's crop box
};

// Poppler's own complaints about a document, passed on up to this many.
constexpr int kMaxPopplerMessages = 5;

int popplerMessages = 0;

void forwardPopplerMessage(const char* text, void*)
{
    if (popplerMessages++ >= kMaxPopplerMessages) return;
    std::string line = std::string("poppler: ") + text;
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    job::Log(job::Severity::Debug, line);
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

// Moves the pixels of a painted image as the page's transformation says.
void flipImage(unsigned char* image, int width, int height, int components, bool flipX, bool flipY)
{
    const size_t rowBytes = static_cast<size_t>(width) * components;
    if (flipY)
        for (int top = 0, bottom = height - 1; top < bottom; ++top, --bottom)
            std::swap_ranges(image + top * rowBytes, image + (top + 1) * rowBytes, image + bottom * rowBytes);
    if (!flipX) return;
    for (int r = 0; r < height; ++r) {
        unsigned char* row = image + r * rowBytes;
        if (components == 1) {
            std::reverse(row, row + rowBytes);
            continue;
        }
        for (size_t at = 0, back = rowBytes - 3; at < back; at += 3, back -= 3)
            std::swap_ranges(row + at, row + at + 3, row + back);
    }
}

// A page not painted whole is never sent.
int refusePainting(int32_t n, const std::string& why)
{
    if (why.empty())
        ReportRenderFailure("poppler could not paint page %d", n);
    else
        ReportRenderFailure("page %d was not painted whole (poppler: %s)", n, why.c_str());
    return kWorkRefused;
}

// A page painted in one band: its colours counted, its pixels made samples
// of the smallest format that holds them, compressed whole.
int sendWholePage(WorkerOutput& out, Painter& painter, PaintableDocument& document, int32_t n, int turn,
                  ImageHeader header)
{
    const int width = header.width, height = header.height;
    const size_t pixels = static_cast<size_t>(width) * height;
    const size_t rgbRowBytes = static_cast<size_t>(width) * 3;
    // Poppler's own bitmap, at least 3 bytes a pixel, worked on in place.
    size_t stride = 0;
    std::string why;
    unsigned char* image = document.paintRows(n - 1, kDotsPerInch, turn, 0, width, height, &stride, &why);
    if (image == nullptr) return refusePainting(n, why);
    // Each pixel's colour as its place in the count, a byte each.
    std::unique_ptr<unsigned char[]> places(new unsigned char[pixels]);
    ColourCount colours;
    for (int r = 0; r < height && colours.add(image + r * stride, width, places.get() + r * width); ++r) {
    }
    header.format = ChooseImageFormat(colours);
    // Each image compressed whole and sent after its record.
    const auto send = [&](uint32_t type, const void* record, size_t recordBytes, const unsigned char* packed,
                          size_t size) {
        // Only the job going away stops these: nothing is left to say.
        if (!out.send(type, record, recordBytes)) return false;
        for (size_t at = 0; at < size; at += kImageRecordBytes)
            if (!out.send(kRecordImageData, packed + at, std::min(kImageRecordBytes, size - at))) return false;
        return out.send(kRecordImageEnd, nullptr, 0);
    };
    const auto deflate = [&](size_t bytes, std::unique_ptr<unsigned char[]>* packed) {
        const size_t size = painter.compress(image, bytes, kDeflateLevel, packed);
        if (size == 0) ReportRenderFailure("the image of page %d cannot be compressed", n);
        return size;
    };
    if (header.format.rgb()) {
        places.reset();
        for (int r = 1; r < height && stride != rgbRowBytes; ++r)
            std::memmove(image + r * rgbRowBytes, image + r * stride, rgbRowBytes);
        flipImage(image, width, height, 3, header.flipX, header.flipY);
        std::unique_ptr<unsigned char[]> packed;
        const size_t size = deflate(pixels * 3, &packed);
        return size > 0 && send(kRecordImage, &header, sizeof header, packed.get(), size) ? kWorkDone : kWorkRefused;
    }
    // The rows as the stream holds them, over the bitmap now read: at most a
    // byte a pixel and one a row.
    flipImage(places.get(), width, height, 1, header.flipX, header.flipY);
    const auto encode = [&](const ImageFormat& format, int x, int y, int w, int h) {
        const size_t rowBytes = format.streamRowBytes(w);
        RowEncoder encoder(format, w);
        for (int r = 0; r < h; ++r)
            encoder.encode(places.get() + static_cast<size_t>(y + r) * width + x, image + r * rowBytes);
        return rowBytes * h;
    };
    // One bit a pixel goes in Group 4 unless that comes out large, as on
    // fine patterns, where Flate does better.
    const auto pack = [&](ImageFormat& format, int x, int y, int w, int h, std::unique_ptr<unsigned char[]>* packed) {
        if (format.bits == 1) {
            format.predicted = false;
            const size_t limit = encode(format, x, y, w, h) / kFaxMostOfRaw + 64;
            packed->reset(new unsigned char[limit]);
            if (const size_t size = EncodeG4(image, w, h, format.rowBytes(w), packed->get(), limit); size > 0) {
                format.fax = true;
                return size;
            }
            format.predicted = true;
        }
        return deflate(encode(format, x, y, w, h), packed);
    };
    ImageLayers layers;
    if (ChooseImageLayers(colours, places.get(), width, height, &layers)) {
        header.format = layers.base;
        header.stencils = static_cast<int32_t>(layers.stencils.size());
    }
    std::unique_ptr<unsigned char[]> packed;
    size_t size = pack(header.format, 0, 0, width, height, &packed);
    if (size == 0 || !send(kRecordImage, &header, sizeof header, packed.get(), size)) return kWorkRefused;
    for (StencilLayer& layer : layers.stencils) {
        size = pack(layer.format, layer.x, layer.y, layer.width, layer.height, &packed);
        if (size == 0 || !send(kRecordStencil, &layer, sizeof layer, packed.get(), size)) return kWorkRefused;
    }
    return kWorkDone;
}

// A page too large to paint at once, band by band: painted once for its
// colours, then again for its rows, compressed as they come.  The bands are
// counted last written first, so that the first one written is still painted.
int sendInBands(WorkerOutput& out, PaintableDocument& document, int32_t n, int turn, ImageHeader header)
{
    const int width = header.width, height = header.height;
    const size_t rgbRowBytes = static_cast<size_t>(width) * 3;
    const int bandRows = bandRowsFor(width, height);
    const int bands = (height + bandRows - 1) / bandRows;
    unsigned char* band = nullptr;  // poppler's, as in sendWholePage
    size_t stride = 0;
    // Band b as written: its first row from the top of the page as painted, its rows.
    const auto topOf = [&](int b) { return (header.flipY ? bands - 1 - b : b) * bandRows; };
    const auto rowsOf = [&](int b) { return std::min(bandRows, height - topOf(b)); };
    int painted = -1;
    const auto paint = [&](int b) {
        if (b == painted) return true;
        painted = -1;
        std::string why;
        band = document.paintRows(n - 1, kDotsPerInch, turn, topOf(b), width, rowsOf(b), &stride, &why);
        if (band == nullptr) {
            refusePainting(n, why);
            return false;
        }
        painted = b;
        return true;
    };

    ColourCount colours;
    for (int b = bands - 1; b >= 0 && !colours.full(); --b) {
        if (!paint(b)) return kWorkRefused;
        for (int r = 0; r < rowsOf(b) && colours.add(band + r * stride, width); ++r) {
        }
    }
    const ImageFormat& format = header.format = ChooseImageFormat(colours);
    if (!out.send(kRecordImage, &header, sizeof header)) return kWorkRefused;

    const bool rgb = format.rgb();
    RowEncoder encoder(format, width);
    std::vector<unsigned char> samples(rgb ? rgbRowBytes : width), encoded(format.streamRowBytes(width));
    ImageDeflater deflater([&out](const unsigned char* data, size_t size) {
        return out.send(kRecordImageData, data, size);
    });
    if (!deflater.begin(rgb ? rgbRowBytes : encoded.size())) {
        ReportRenderFailure("the image of page %d cannot be compressed", n);
        return kWorkRefused;
    }
    for (int b = 0; b < bands; ++b) {
        if (!paint(b)) return kWorkRefused;
        const int rows = rowsOf(b);
        for (int r = 0; r < rows; ++r) {
            const unsigned char* pixels = band + (header.flipY ? rows - 1 - r : r) * stride;
            if (rgb) {
                if (header.flipX) {
                    std::memcpy(samples.data(), pixels, rgbRowBytes);
                    flipImage(samples.data(), width, 1, 3, true, false);
                    pixels = samples.data();
                }
                if (!deflater.writeRow(pixels)) return kWorkRefused;
                continue;
            }
            colours.placesOf(pixels, width, samples.data());
            if (header.flipX) std::reverse(samples.begin(), samples.end());
            encoder.encode(samples.data(), encoded.data());
            if (!deflater.writeRow(encoded.data())) return kWorkRefused;
        }
    }
    if (!deflater.finish() || !out.send(kRecordImageEnd, nullptr, 0)) return kWorkRefused;
    return kWorkDone;
}

// Poppler's band bitmap and its copy are fresh memory in every worker.  Taken
// from a heap the kernel backs with 2 MiB pages where it can, rather than
// each in mappings of 4 KiB pages, handing them out and taking them back
// costs a fraction: it was a third of the processor time of a page.
void useLargePagesFor(size_t bytes)
{
#if defined(__GLIBC__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = 2u << 20;
    // Every allocation from the heap, and the heap kept once grown.
    mallopt(M_MMAP_MAX, 0);
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(std::min<size_t>(bytes * 2, INT32_MAX)));
    void* grown = std::malloc(bytes);
    if (grown == nullptr) return;
    const uintptr_t from = (reinterpret_cast<uintptr_t>(grown) + kLargePage - 1) & ~(kLargePage - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(grown) + bytes) & ~(kLargePage - 1);
    if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
    std::free(grown);
#else
    (void)bytes;
#endif
}

// Paints page n in a worker: checks it as poppler sees it, then sends its
// image, rows and pixels moved as the transformation says, compressed.
int paintPage(WorkerOutput& out, Painter& painter, const SourceDocument& source,
              const EditPlan& plan, int32_t n, const PageGeometry& geometry)
{
    popplerMessages = 0;
    painter.setMessageSink(forwardPopplerMessage, nullptr);
    std::unique_ptr<PaintableDocument> document =
        painter.open(source.file.data(), source.file.size(), source.fd);
    if (!document) {
        ReportRenderFailure("poppler cannot open the document");
        return kWorkRefused;
    }
    if (document->pageCount() != static_cast<int>(source.pages.size())) {
        ReportRenderFailure("poppler and qpdf disagree on the page count (%d, %zu)",
                            document->pageCount(), source.pages.size());
        return kWorkRefused;
    }
    int rotate = 0;
    double box[4];
    if (!document->pageShape(n - 1, &rotate, box)) {
        ReportRenderFailure("poppler cannot read page %d", n);
        return kWorkRefused;
    }
    if (rotate != geometry.rotate) {
        ReportRenderFailure("page %d: poppler and qpdf disagree on its /Rotate", n);
        return kWorkRefused;
    }

    const PageRect crop{box[0], box[1], box[2], box[3]};
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
    const ImageHeader header{.width = width, .height = height, .format = {}, .flipX = ctm.a < 0, .flipY = ctm.d < 0,
                             .cropX = crop.x, .cropY = crop.y, .cropW = crop.w, .cropH = crop.h};
    // Painted upright: the new page keeps the /Rotate.
    const int turn = (360 - rotate) % 360;
    useLargePagesFor(static_cast<size_t>(width) * bandRowsFor(width, height) * 3 * 2 + (16u << 20));
    if (bandRowsFor(width, height) >= height) return sendWholePage(out, painter, *document, n, turn, header);
    return sendInBands(out, *document, n, turn, header);
}

// A page on its way: what its worker was given and has sent so far.
struct PageInProgress {
    int32_t n = 0;
    PageGeometry geometry;
    WorkerLimits limits;
    ImageHeader header;
    std::vector<PageRect> placements;  // of the images ended, in page space
    StencilLayer stencil;              // the one being sent
    bool started = false;
    bool inImage = false;
    bool ended = false;
};

class RasterWriter : public PageWriter {
public:
    RasterWriter(SourceDocument& source, const EditPlan& plan, FILE* file)
        : source_(source), plan_(plan), writer_(file), workers_(paintingWorkers())
    {
    }

    // Loads the painting module before any worker is forked, so that each
    // inherits it; a job without it goes out unchanged, saying why.
    bool begin() override
    {
        std::string why;
        painter_ = LoadPainter(&why);
        if (painter_ == nullptr)
            ReportRenderFailure("rasterising needs poppler's module %s, which cannot be loaded: %s",
                                kPainterModule, why.c_str());
        return painter_ != nullptr;
    }

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
                return paintPage(out, *painter_, source_, plan_, n, geometry);
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
        ImageHeader& h = page.header;
        if (type == kRecordImage && !page.started && payload.size() == sizeof h) {
            std::memcpy(&h, payload.data(), sizeof h);
            page.started = page.inImage = true;
            if (h.stencils < 0 || h.stencils > kMaxLayeredColours) return false;
            page.stencil = StencilLayer{h.format, 0, 0, h.width, h.height};
            return writer_.beginImage(h.width, h.height, h.format);
        }
        if (type == kRecordStencil && page.started && !page.inImage && !page.ended &&
            payload.size() == sizeof page.stencil) {
            StencilLayer& s = page.stencil;
            std::memcpy(&s, payload.data(), sizeof s);
            if (!s.format.stencil || s.x < 0 || s.y < 0 || s.width <= 0 || s.height <= 0 || s.width > h.width - s.x ||
                s.height > h.height - s.y)
                return false;
            page.inImage = true;
            return writer_.beginImage(s.width, s.height, s.format);
        }
        if (type == kRecordImageData && page.inImage) return writer_.writeImageData(payload.data(), payload.size());
        if (type == kRecordImageEnd && page.inImage) {
            page.inImage = false;
            // The image covers the crop box, moved as the page's content
            // moves; a stencil its rectangle of that.
            const PageRect& m = page.geometry.media;
            PageRect crop{h.cropX, h.cropY, h.cropW, h.cropH};
            if (h.flipX) crop.x = 2 * m.x + m.w - h.cropX - h.cropW;
            if (h.flipY) crop.y = 2 * m.y + m.h - h.cropY - h.cropH;
            const StencilLayer& s = page.stencil;
            const double dx = crop.w / h.width, dy = crop.h / h.height;
            page.placements.push_back(
                PageRect{crop.x + s.x * dx, crop.y + (h.height - s.y - s.height) * dy, s.width * dx, s.height * dy});
            if (!writer_.endImage()) return false;
            if (page.placements.size() < static_cast<size_t>(h.stencils) + 1) return true;
            page.ended = true;
            return writer_.addPage(m, page.geometry.rotate, page.geometry.userUnit, page.placements);
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
    Painter* painter_ = nullptr;
    WorkerPool workers_;  // declared last, so its workers end first
};

}  // namespace

std::unique_ptr<PageWriter> MakeRasterWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file)
{
    return std::make_unique<RasterWriter>(source, plan, file);
}

}  // namespace pdftopjl
