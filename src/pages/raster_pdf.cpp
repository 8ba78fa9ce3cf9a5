#include "pages/raster_pdf.hpp"

#include <cerrno>
#include <cinttypes>

namespace pdftopjl {

namespace {

constexpr int kCatalogObject = 1;
constexpr int kPagesObject = 2;
constexpr size_t kDeflateChunk = 1 << 18;

std::string ref(int object)
{
    return std::to_string(object) + " 0 R";
}

}  // namespace

RasterPdfWriter::RasterPdfWriter(FILE* file) : file_(file), offsets_(2, 0) {}

bool RasterPdfWriter::put(const void* data, size_t size)
{
    if (!ok_) return false;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
        ok_ = false;
        error_ = errno != 0 ? errno : EIO;
    }
    offset_ += size;
    return ok_;
}

bool RasterPdfWriter::put(std::string_view text)
{
    return put(text.data(), text.size());
}

void RasterPdfWriter::start()
{
    if (started_) return;
    started_ = true;
    put("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    offsets_[kCatalogObject - 1] = offset_;
    put("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n");
}

int RasterPdfWriter::beginObject()
{
    start();
    offsets_.push_back(offset_);
    const int object = static_cast<int>(offsets_.size());
    put(std::to_string(object) + " 0 obj\n");
    return object;
}

bool RasterPdfWriter::beginImage(int width, int height, const ImageFormat& format)
{
    const int bits = format.bits, n = format.paletteSize;
    const bool plain = n == 0 && (bits == 8 || (bits == 1 && format.components == 1));
    const bool indexed = n > 0 && n <= kMaxPaletteColours && (bits == 1 || bits == 2 || bits == 4 || bits == 8) &&
                         n <= (1 << bits);
    if (!ok_ || inImage_ || width <= 0 || height <= 0 || (format.components != 1 && format.components != 3) ||
        (format.stencil ? n != 0 || bits != 1 : !(plain || indexed)) || (format.stencil && images_.empty()) ||
        (format.fax && bits != 1))
        return ok_ = false;
    const std::string device = format.components == 1 ? "/DeviceGray" : "/DeviceRGB";
    std::string space = device;
    if (indexed) {
        static constexpr char kHex[] = "0123456789abcdef";
        space = "[/Indexed " + device + " " + std::to_string(n - 1) + " <";
        for (int i = 0; i < n * format.components; ++i) {
            space += kHex[format.palette[i] >> 4];
            space += kHex[format.palette[i] & 15];
        }
        space += ">]";
    }
    std::string filter = " /Filter /FlateDecode", parameters, paint;
    if (format.fax) {
        filter = " /Filter /CCITTFaxDecode";
        parameters = " /DecodeParms << /K -1 /Columns " + std::to_string(width) + " /Rows " + std::to_string(height) + " >>";
    } else if (format.predicted)
        parameters = " /DecodeParms << /Predictor 15 /Colors " +
                     std::to_string(indexed || format.stencil ? 1 : format.components) + " /BitsPerComponent " +
                     std::to_string(bits) + " /Columns " + std::to_string(width) + " >>";
    if (format.stencil) {
        space.clear();
        for (int i = 0; i < format.components; ++i) paint += FormatNumber(format.palette[i] / 255.0) + " ";
        paint += format.components == 1 ? "g" : "rg";
    }
    const int object = beginObject();
    images_.push_back({object, paint});
    put("<< /Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
        std::to_string(height) + (format.stencil ? " /ImageMask true" : " /ColorSpace " + space) +
        " /BitsPerComponent " + std::to_string(bits) + filter + parameters + " /Length " +
        ref(object + 1) + " >>\nstream\n");
    inImage_ = true;
    streamBytes_ = 0;
    return ok_;
}

bool RasterPdfWriter::writeImageData(const void* data, size_t size)
{
    if (!ok_ || !inImage_) return ok_ = false;
    streamBytes_ += size;
    return put(data, size);
}

bool RasterPdfWriter::endImage()
{
    if (!ok_ || !inImage_) return ok_ = false;
    inImage_ = false;
    put("\nendstream\nendobj\n");
    beginObject();
    put(std::to_string(streamBytes_) + "\nendobj\n");
    return ok_;
}

bool RasterPdfWriter::addPage(const PageRect& mediaBox, int rotate, double userUnit,
                              const std::vector<PageRect>& imageRects)
{
    if (!ok_ || inImage_ || images_.empty() || imageRects.size() != images_.size()) return ok_ = false;
    std::string content, xobjects;
    for (size_t i = 0; i < images_.size(); ++i) {
        const PageRect& r = imageRects[i];
        const std::string name = "/Im" + std::to_string(i);
        content += "q " + (images_[i].paint.empty() ? "" : images_[i].paint + " ") + FormatNumber(r.w) + " 0 0 " +
                   FormatNumber(r.h) + " " + FormatNumber(r.x) + " " + FormatNumber(r.y) + " cm " + name + " Do Q\n";
        xobjects += (i == 0 ? "" : " ") + name + " " + ref(images_[i].object);
    }
    const int contentObject = beginObject();
    put("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
        "endstream\nendobj\n");

    const int pageObject = beginObject();
    std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [" + FormatNumber(mediaBox.x) + " " +
                       FormatNumber(mediaBox.y) + " " + FormatNumber(mediaBox.x + mediaBox.w) +
                       " " + FormatNumber(mediaBox.y + mediaBox.h) + "]";
    if (rotate != 0) page += " /Rotate " + std::to_string(rotate);
    if (userUnit != 0) page += " /UserUnit " + FormatNumber(userUnit);
    page += " /Resources << /XObject << " + xobjects + " >> >> /Contents " + ref(contentObject) + " >>\nendobj\n";
    put(page);
    pages_.push_back(pageObject);
    images_.clear();
    return ok_;
}

bool RasterPdfWriter::finish()
{
    if (!ok_ || inImage_) return ok_ = false;
    start();
    offsets_[kPagesObject - 1] = offset_;
    std::string pages = "2 0 obj\n<< /Type /Pages /Kids [";
    for (size_t i = 0; i < pages_.size(); ++i) {
        if (i != 0) pages += ' ';
        pages += ref(pages_[i]);
    }
    pages += "] /Count " + std::to_string(pages_.size()) + " >>\nendobj\n";
    put(pages);

    const uint64_t xref = offset_;
    std::string table = "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
    char line[32];
    for (uint64_t at : offsets_) {
        std::snprintf(line, sizeof line, "%010" PRIu64 " 00000 n \n", at);
        table += line;
    }
    table += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) +
             " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    put(table);
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
        ok_ = false;
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    }
    return ok_;
}


ImageDeflater::ImageDeflater(Sink sink) : sink_(std::move(sink)), buffer_(kDeflateChunk) {}

ImageDeflater::~ImageDeflater()
{
    if (deflating_) deflateEnd(&zs_);
}

bool ImageDeflater::begin(size_t rowBytes)
{
    if (deflating_) return false;
    zs_ = z_stream{};
    if (deflateInit(&zs_, Z_DEFAULT_COMPRESSION) != Z_OK) return false;
    deflating_ = true;
    rowBytes_ = rowBytes;
    return true;
}

bool ImageDeflater::pump(int flush)
{
    for (;;) {
        zs_.next_out = buffer_.data();
        zs_.avail_out = static_cast<uInt>(buffer_.size());
        const int rc = deflate(&zs_, flush);
        if (rc == Z_STREAM_ERROR) return false;
        const size_t produced = buffer_.size() - zs_.avail_out;
        if (produced > 0 && !sink_(buffer_.data(), produced)) return false;
        if (flush == Z_FINISH ? rc == Z_STREAM_END : zs_.avail_out != 0) return true;
    }
}

bool ImageDeflater::writeRow(const unsigned char* rgb)
{
    if (!deflating_) return false;
    zs_.next_in = const_cast<unsigned char*>(rgb);
    zs_.avail_in = static_cast<uInt>(rowBytes_);
    return pump(Z_NO_FLUSH);
}

bool ImageDeflater::finish()
{
    if (!deflating_) return false;
    const bool ok = pump(Z_FINISH);
    deflateEnd(&zs_);
    deflating_ = false;
    return ok;
}

}  // namespace pdftopjl
