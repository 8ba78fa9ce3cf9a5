// The painting module: the only code that calls poppler (and libdeflate,
// which only painted pages need), built as a module of its own (see
// pages/painter.hpp).
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <libdeflate.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "pages/painter.hpp"

namespace pdftopjl {

namespace {

int degreesOf(poppler::page::orientation_enum orientation)
{
    switch (orientation) {
    case poppler::page::landscape: return 90;
    case poppler::page::upside_down: return 180;
    case poppler::page::seascape: return 270;
    default: return 0;
    }
}

class PopplerDocument : public PaintableDocument {
public:
    explicit PopplerDocument(poppler::document* document) : document_(document)
    {
        // No antialiasing, as print rasterisers paint: the printer halftones
        // the page, and grey edge pixels would print as a fringe of dots, thin
        // lines and small type as faint grey.  Black-and-white pages then also
        // compress to a fraction of the size.
        renderer_.set_render_hint(poppler::page_renderer::antialiasing, false);
        renderer_.set_render_hint(poppler::page_renderer::text_antialiasing, false);
        renderer_.set_image_format(poppler::image::format_rgb24);
        renderer_.set_paper_color(0xffffffff);
    }

    int pageCount() override { return document_->pages(); }

    bool pageShape(int n, int* degrees, double box[4]) override
    {
        poppler::page* p = page(n);
        if (p == nullptr) return false;
        *degrees = degreesOf(p->orientation());
        // Poppler paints the crop box, which is what viewers show of the page.
        const poppler::rectf crop = p->page_rect(poppler::crop_box);
        box[0] = crop.x();
        box[1] = crop.y();
        box[2] = crop.width();
        box[3] = crop.height();
        return true;
    }

    unsigned char* paintRows(int n, double dpi, int turn, int top, int width, int rows,
                             size_t* stride) override
    {
        poppler::page* p = page(n);
        if (p == nullptr || turn % 90 != 0) return nullptr;
        const auto rotation = static_cast<poppler::rotation_enum>(((turn % 360 + 360) % 360) / 90);
        image_ = poppler::image();  // its memory back before the next is taken
        image_ = renderer_.render_page(p, dpi, dpi, 0, top, width, rows, rotation);
        if (!image_.is_valid() || image_.width() != width || image_.height() != rows ||
            image_.format() != poppler::image::format_rgb24 ||
            image_.bytes_per_row() < static_cast<int>(width) * 3)
            return nullptr;
        *stride = static_cast<size_t>(image_.bytes_per_row());
        // The image's only holder: its data is handed out, not copied.
        return reinterpret_cast<unsigned char*>(image_.data());
    }

private:
    poppler::page* page(int n)
    {
        if (n < 0 || n >= document_->pages()) return nullptr;
        if (n != pageNumber_ || !page_) {
            page_.reset(document_->create_page(n));
            pageNumber_ = n;
        }
        return page_.get();
    }

    std::unique_ptr<poppler::document> document_;  // outlives its page
    std::unique_ptr<poppler::page> page_;
    int pageNumber_ = -1;
    poppler::page_renderer renderer_;
    poppler::image image_;  // the rows painted last
};

class PopplerPainter : public Painter {
public:
    void setMessageSink(MessageSink sink, void* context) override
    {
        sink_ = sink;
        context_ = context;
        poppler::set_debug_error_function(
            [](const std::string& text, void* self) {
                auto* painter = static_cast<PopplerPainter*>(self);
                if (painter->sink_ != nullptr) painter->sink_(text.c_str(), painter->context_);
            },
            this);
    }

    std::unique_ptr<PaintableDocument> open(const void* data, size_t size, int fd) override
    {
        poppler::document* document = nullptr;
        if (data != nullptr && size <= static_cast<size_t>(INT_MAX))
            document = poppler::document::load_from_raw_data(static_cast<const char*>(data),
                                                             static_cast<int>(size));
        else
            document = poppler::document::load_from_file("/proc/self/fd/" + std::to_string(fd));
        if (document == nullptr) return nullptr;
        if (document->is_locked()) {
            delete document;
            return nullptr;
        }
        return std::make_unique<PopplerDocument>(document);
    }

    size_t compress(const unsigned char* data, size_t size, int level,
                    std::unique_ptr<unsigned char[]>* packed) override
    {
        libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
        if (compressor == nullptr) return 0;
        const size_t bound = libdeflate_zlib_compress_bound(compressor, size);
        packed->reset(new unsigned char[bound]);
        const size_t written = libdeflate_zlib_compress(compressor, data, size, packed->get(), bound);
        libdeflate_free_compressor(compressor);
        return written;
    }

private:
    MessageSink sink_ = nullptr;
    void* context_ = nullptr;
};

}  // namespace

}  // namespace pdftopjl

static_assert(std::string_view(pdftopjl::kPainterEntry) == "pdftopjl_painter_2");

extern "C" __attribute__((visibility("default"))) pdftopjl::Painter* pdftopjl_painter_2()
{
    static pdftopjl::PopplerPainter painter;
    return &painter;
}
