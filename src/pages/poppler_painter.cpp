// SPDX-License-Identifier: Apache-2.0
// The painting module: the only code that calls poppler (and libdeflate,
// which only painted pages need), built as a module of its own (see
// pages/painter.hpp).
#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <libdeflate.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "pages/painter.hpp"

namespace pdftopjl {

namespace {

// What poppler says when it leaves part of a page unpainted: memory it could
// not have (its allocator writes these to standard error and goes on without
// the object), a stream or image it could not decode, a font it could not
// make, an XObject, pattern, form or glyph it skipped.  Complaints about the
// syntax of the page's operators (an unknown operator, a stray character, a
// missing point) leave the page as viewers show it and are not among them.
constexpr const char* kUnpaintedSigns[] = {
    "out of memory", "bogus memory allocation", "allocat", "is null", "was null", "null bitmap",
    "filter", "flate stream", "lzw", "asciihex", "ascii85", "ccittfax", "dct", "jpeg", "jbig2",
    "jpx", "codestream", "image", "bitmap", "decoder", "unable to", "invalid width", "too large",
    "couldn't create a font", "couldn't find a font", "charproc", "xobject", "pattern",
    "form bounding box", "form matrix", "unknown form type", "page contents",
};

bool saysUnpainted(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const char* sign : kUnpaintedSigns)
        if (lower.find(sign) != std::string::npos) return true;
    return false;
}

// Poppler's messages, and standard error, while this process paints.
struct Messages {
    Painter::MessageSink sink = nullptr;
    void* context = nullptr;
    int stderrPipe = -1;    // read end; standard error writes into it
    std::string partial;    // a line not yet ended
    bool painting = false;  // messages now are about the rows being painted
    std::string unpainted;  // the first that said part of them was not

    void take(std::string_view text)
    {
        if (painting && unpainted.empty() && saysUnpainted(text)) unpainted = text;
        if (sink != nullptr) sink(std::string(text).c_str(), context);
    }

    // Standard error into a pipe of this process, never blocking: a line
    // that does not fit before it is read is lost, not waited for.
    void captureStandardError()
    {
        if (stderrPipe >= 0) return;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
        fcntl(fds[1], F_SETPIPE_SZ, 1 << 20);
        if (dup2(fds[1], STDERR_FILENO) < 0) {
            close(fds[0]);
            close(fds[1]);
            return;
        }
        close(fds[1]);
        stderrPipe = fds[0];
    }

    // What standard error received, a line at a time.
    void readStandardError()
    {
        if (stderrPipe < 0) return;
        char chunk[4096];
        ssize_t n;
        while ((n = read(stderrPipe, chunk, sizeof chunk)) > 0) {
            partial.append(chunk, static_cast<size_t>(n));
            size_t end;
            while ((end = partial.find('\n')) != std::string::npos) {
                if (end > 0) take(std::string_view(partial).substr(0, end));
                partial.erase(0, end + 1);
            }
        }
        if (!partial.empty() && partial.size() >= sizeof chunk) {
            take(partial);
            partial.clear();
        }
    }
};

Messages& messages()
{
    static Messages m;
    return m;
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

    unsigned char* paintRows(int n, double dpi, int turn, int top, int width, int rows, size_t* stride,
                             std::string* why) override
    {
        poppler::page* p = page(n);
        if (p == nullptr || turn % 90 != 0) return nullptr;
        const auto rotation = static_cast<poppler::rotation_enum>(((turn % 360 + 360) % 360) / 90);
        Messages& m = messages();
        m.readStandardError();  // what came before is not about these rows
        m.painting = true;
        m.unpainted.clear();
        image_ = poppler::image();  // its memory back before the next is taken
        image_ = renderer_.render_page(p, dpi, dpi, 0, top, width, rows, rotation);
        m.readStandardError();
        m.painting = false;
        if (m.unpainted.empty()) m.unpainted = pageFlaw_;
        if (!m.unpainted.empty()) {
            std::string_view said = m.unpainted;
            if (said.substr(0, 7) == "error: ") said.remove_prefix(7);  // poppler-cpp's own prefix
            *why = said;
            return nullptr;
        }
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
            // What poppler says while it reads the page is about its painting too
            // (contents it will not draw).
            Messages& m = messages();
            m.readStandardError();
            m.painting = true;
            m.unpainted.clear();
            page_.reset(document_->create_page(n));
            m.readStandardError();
            m.painting = false;
            pageFlaw_ = m.unpainted;
            pageNumber_ = n;
        }
        return page_.get();
    }

    std::unique_ptr<poppler::document> document_;  // outlives its page
    std::unique_ptr<poppler::page> page_;
    int pageNumber_ = -1;
    std::string pageFlaw_;  // what poppler said it will not paint of it, as it read it
    poppler::page_renderer renderer_;
    poppler::image image_;  // the rows painted last
};

class PopplerPainter : public Painter {
public:
    void setMessageSink(MessageSink sink, void* context) override
    {
        Messages& m = messages();
        m.sink = sink;
        m.context = context;
        m.captureStandardError();
        poppler::set_debug_error_function(
            [](const std::string& text, void*) { messages().take(text); }, nullptr);
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
};

}  // namespace

}  // namespace pdftopjl

static_assert(std::string_view(pdftopjl::kPainterEntry) == "pdftopjl_painter_2");

extern "C" __attribute__((visibility("default"))) pdftopjl::Painter* pdftopjl_painter_2()
{
    static pdftopjl::PopplerPainter painter;
    return &painter;
}
