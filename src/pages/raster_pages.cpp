// The raster pass: each emitted page painted by poppler at 300 dpi on white,
// turned or mirrored by moving pixels, and written as one RGB image over the
// page.  Pages are painted in bands and written row by row, so memory stays
// near one page bitmap whatever the page count, and bounded for huge pages.
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "job/channel.hpp"
#include "pages/geometry.hpp"
#include "pages/raster_pages.hpp"
#include "pages/raster_pdf.hpp"

namespace pdftopjl {

namespace {

constexpr double kDotsPerInch = 300;
// Pixels painted at a time; letter, A4 and A3 pages take one band.
constexpr int kBandPixels = 24 * 1000 * 1000;
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

// A write into the file failed (the writer keeps the error for the caller,
// who fails the job: nothing is wrong with the document), or the image could
// not be compressed.
bool writeFailed(const RasterPdfWriter& writer)
{
    if (writer.writeError() == 0) ReportRenderFailure("the page image could not be compressed");
    return false;
}

struct Flips {
    bool x = false;  // each row reversed
    bool y = false;  // the rows in reverse order
};

// Writes one page's image: painted band by band, rows and pixels moved as the
// flips say.
bool writePageImage(RasterPdfWriter& writer, const poppler::page_renderer& renderer,
                    const poppler::page* page, int width, int height, Flips flips,
                    poppler::rotation_enum undoRotate, std::vector<unsigned char>& row)
{
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    row.resize(rowBytes);  // keeps its allocation for pages of the same width
    if (!writer.beginImage(width, height)) return writeFailed(writer);

    const int bandRows = std::max(1, std::min(height, kBandPixels / width));
    const int bands = (height + bandRows - 1) / bandRows;
    for (int b = 0; b < bands; ++b) {
        if (job::Cancelled()) return false;
        const int band = flips.y ? bands - 1 - b : b;
        const int top = band * bandRows;
        const int rows = std::min(bandRows, height - top);
        poppler::image image = renderer.render_page(page, kDotsPerInch, kDotsPerInch, 0, top,
                                                    width, rows, undoRotate);
        if (!image.is_valid() || image.width() != width || image.height() != rows ||
            image.format() != poppler::image::format_rgb24) {
            ReportRenderFailure("poppler could not paint the page");
            return false;
        }
        const char* data = image.const_data();
        for (int r = 0; r < rows; ++r) {
            const int source = flips.y ? rows - 1 - r : r;
            const auto* pixels = reinterpret_cast<const unsigned char*>(
                data + static_cast<size_t>(source) * image.bytes_per_row());
            if (!flips.x) {
                if (!writer.writeRow(pixels)) return writeFailed(writer);
                continue;
            }
            for (size_t at = 0, from = rowBytes - 3; at < rowBytes; at += 3, from -= 3) {
                row[at] = pixels[from];
                row[at + 1] = pixels[from + 1];
                row[at + 2] = pixels[from + 2];
            }
            if (!writer.writeRow(row.data())) return writeFailed(writer);
        }
    }
    return writer.endImage() || writeFailed(writer);
}

class RasterWriter : public PageWriter {
public:
    RasterWriter(SourceDocument& source, const EditPlan& plan, FILE* file)
        : source_(source), plan_(plan), writer_(file)
    {
    }

    bool begin() override { return true; }

    bool addPage(int32_t n, QPDFObjectHandle, const PageGeometry& geometry) override
    {
        if (!document_ && !load()) return false;
        if (n > document_->pages()) {
            ReportRenderFailure("page %d does not exist", n);
            return false;
        }
        std::unique_ptr<poppler::page> page(document_->create_page(n - 1));
        if (!page) {
            ReportRenderFailure("poppler cannot read page %d", n);
            return false;
        }
        const int rotate = degreesOf(page->orientation());
        if (rotate != geometry.rotate) {
            ReportRenderFailure("page %d: poppler and qpdf disagree on its /Rotate", n);
            return false;
        }

        // Poppler paints the crop box, which is what viewers show of the page.
        const poppler::rectf box = page->page_rect(poppler::crop_box);
        const PageRect crop{box.x(), box.y(), box.width(), box.height()};
        int width, height;
        std::string why;
        if (!RasterPixelSize(crop, &width, &height, &why)) {
            ReportRenderFailure("page %d: %s", n, why.c_str());
            return false;
        }

        // The bitmap takes the page's transformation as whole-pixel moves.
        const QPDFMatrix ctm = PageTransform(plan_.rotation, plan_.mirror,
                                             PageRect{0, 0, double(width), double(height)}, rotate);
        if (ctm.b != 0 || ctm.c != 0) {
            ReportRenderFailure("a turn of %d degrees cannot be rasterised", plan_.rotation);
            return false;
        }
        const Flips flips{ctm.a < 0, ctm.d < 0};

        // The image covers the crop box, moved as the page's content moves.
        const PageRect& m = geometry.media;
        PageRect placement = crop;
        if (flips.x) placement.x = 2 * m.x + m.w - crop.x - crop.w;
        if (flips.y) placement.y = 2 * m.y + m.h - crop.y - crop.h;

        const auto undo = static_cast<poppler::rotation_enum>(((360 - rotate) % 360) / 90);
        if (!writePageImage(writer_, renderer_, page.get(), width, height, flips, undo, row_))
            return false;
        return writer_.addPage(m, geometry.rotate, geometry.userUnit, placement) || writeFailed(writer_);
    }

    bool finish() override { return writer_.finish() || writeFailed(writer_); }
    int writeError() const override { return writer_.writeError(); }

private:
    bool load()
    {
        popplerMessages = 0;
        poppler::set_debug_error_function(forwardPopplerMessage, nullptr);
        document_.reset(openWithPoppler(source_));
        if (!document_ || document_->is_locked()) {
            ReportRenderFailure("poppler cannot open the document");
            document_.reset();
            return false;
        }
        if (document_->pages() != static_cast<int>(source_.pages.size())) {
            ReportRenderFailure("poppler and qpdf disagree on the page count (%d, %zu)",
                                document_->pages(), source_.pages.size());
            document_.reset();
            return false;
        }
        renderer_.set_render_hint(poppler::page_renderer::antialiasing);
        renderer_.set_render_hint(poppler::page_renderer::text_antialiasing);
        renderer_.set_image_format(poppler::image::format_rgb24);
        renderer_.set_paper_color(0xffffffff);
        return true;
    }

    SourceDocument& source_;
    const EditPlan& plan_;
    RasterPdfWriter writer_;
    std::unique_ptr<poppler::document> document_;
    poppler::page_renderer renderer_;
    std::vector<unsigned char> row_;
};

}  // namespace

std::unique_ptr<PageWriter> MakeRasterWriter(SourceDocument& source, const EditPlan& plan,
                                             FILE* file)
{
    return std::make_unique<RasterWriter>(source, plan, file);
}

}  // namespace pdftopjl
