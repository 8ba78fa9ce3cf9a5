// SPDX-License-Identifier: Apache-2.0
#include "pages/raster_pdf.hpp"

#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFSystemError.hh>
#include <qpdf/QPDFWriter.hh>

#include <cerrno>
#include <exception>
#include <map>

namespace pdftopjl {

namespace {

constexpr size_t kDeflateChunk = 1 << 18;

// Names and whole numbers repeat on every page: each is made once and shared
// by every dictionary that holds it (none is ever changed), since each
// object qpdf holds costs a few hundred bytes, page after page.
QPDFObjectHandle name(const std::string& text)
{
    static std::map<std::string, QPDFObjectHandle> made;
    auto [at, fresh] = made.try_emplace(text);
    if (fresh) at->second = QPDFObjectHandle::newName(text);
    return at->second;
}

QPDFObjectHandle integer(long long v)
{
    static std::map<long long, QPDFObjectHandle> made;
    auto [at, fresh] = made.try_emplace(v);
    if (fresh) at->second = QPDFObjectHandle::newInteger(v);
    return at->second;
}

QPDFObjectHandle number(double v)
{
    if (v == static_cast<double>(static_cast<long long>(v))) return integer(static_cast<long long>(v));
    return QPDFObjectHandle::newReal(FormatNumber(v));
}

}  // namespace

RasterPdfWriter::RasterPdfWriter(FILE* file) : file_(file), kept_(std::make_shared<KeptStreams>())
{
    pdf_.emptyPDF();
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
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf_);
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", name("/XObject"));
    dict.replaceKey("/Subtype", name("/Image"));
    dict.replaceKey("/Width", integer(width));
    dict.replaceKey("/Height", integer(height));
    dict.replaceKey("/BitsPerComponent", integer(bits));
    std::string paint;
    const std::string device = format.components == 1 ? "/DeviceGray" : "/DeviceRGB";
    if (format.stencil) {
        dict.replaceKey("/ImageMask", QPDFObjectHandle::newBool(true));
        for (int i = 0; i < format.components; ++i) paint += FormatNumber(format.palette[i] / 255.0) + " ";
        paint += format.components == 1 ? "g" : "rg";
    } else if (indexed) {
        const auto* palette = reinterpret_cast<const char*>(format.palette.data());
        dict.replaceKey("/ColorSpace",
                        QPDFObjectHandle::newArray({name("/Indexed"), name(device), integer(n - 1),
                                                    QPDFObjectHandle::newString(
                                                        std::string(palette, palette + n * format.components))}));
    } else {
        dict.replaceKey("/ColorSpace", name(device));
    }
    QPDFObjectHandle filter = name("/FlateDecode"), parameters = QPDFObjectHandle::newNull();
    if (format.fax) {
        filter = name("/CCITTFaxDecode");
        parameters = QPDFObjectHandle::newDictionary(
            {{"/K", integer(-1)}, {"/Columns", integer(width)}, {"/Rows", integer(height)}});
    } else if (format.predicted) {
        parameters = QPDFObjectHandle::newDictionary(
            {{"/Predictor", integer(15)},
             {"/Colors", integer(indexed || format.stencil ? 1 : format.components)},
             {"/BitsPerComponent", integer(bits)},
             {"/Columns", integer(width)}});
    }
    image.replaceStreamData(kept_, filter, parameters);
    if (!kept_->begin(image.getObjGen())) {
        error_ = errno != 0 ? errno : EIO;
        return ok_ = false;
    }
    images_.push_back({image, paint});
    inImage_ = true;
    return true;
}

bool RasterPdfWriter::writeImageData(const void* data, size_t size)
{
    if (!ok_ || !inImage_) return ok_ = false;
    if (!kept_->write(data, size)) {
        error_ = errno != 0 ? errno : EIO;
        return ok_ = false;
    }
    return true;
}

bool RasterPdfWriter::endImage()
{
    if (!ok_ || !inImage_) return ok_ = false;
    inImage_ = false;
    return true;
}

bool RasterPdfWriter::addPage(const PageRect& mediaBox, int rotate, double userUnit,
                              const std::vector<PageRect>& imageRects)
{
    if (!ok_ || inImage_ || images_.empty() || imageRects.size() != images_.size()) return ok_ = false;
    std::string content;
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    for (size_t i = 0; i < images_.size(); ++i) {
        const PageRect& r = imageRects[i];
        const std::string key = "/Im" + std::to_string(i);
        content += "q " + (images_[i].paint.empty() ? "" : images_[i].paint + " ") + FormatNumber(r.w) + " 0 0 " +
                   FormatNumber(r.h) + " " + FormatNumber(r.x) + " " + FormatNumber(r.y) + " cm " + key + " Do Q\n";
        xobjects.replaceKey(key, images_[i].stream);
    }
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary(
        {{"/Type", name("/Page")},
         {"/MediaBox", QPDFObjectHandle::newArray({number(mediaBox.x), number(mediaBox.y),
                                                   number(mediaBox.x + mediaBox.w), number(mediaBox.y + mediaBox.h)})},
         {"/Resources", QPDFObjectHandle::newDictionary({{"/XObject", xobjects}})},
         {"/Contents", contentStream(content)}});
    if (rotate != 0) page.replaceKey("/Rotate", integer(rotate));
    if (userUnit != 0) page.replaceKey("/UserUnit", QPDFObjectHandle::newReal(FormatNumber(userUnit)));
    QPDFPageDocumentHelper(pdf_).addPage(QPDFPageObjectHelper(pdf_.makeIndirectObject(page)), false);
    ++pages_;
    images_.clear();
    return true;
}

QPDFObjectHandle RasterPdfWriter::contentStream(const std::string& content)
{
    auto [at, fresh] = contents_.try_emplace(content);
    if (fresh) at->second = QPDFObjectHandle::newStream(&pdf_, content);
    return at->second;
}

bool RasterPdfWriter::finish()
{
    if (!ok_ || inImage_) return ok_ = false;
    try {
        QPDFWriter writer(pdf_);
        writer.setOutputFile("rasterised document", file_, false);
        writer.setMinimumPDFVersion("1.4");
        // The images are compressed already and the page contents are a
        // line an image: nothing decoded, nothing compressed.
        writer.setDecodeLevel(qpdf_dl_none);
        writer.setCompressStreams(false);
        writer.write();
    } catch (const QPDFSystemError& e) {
        error_ = e.getErrno() != 0 ? e.getErrno() : EIO;
        return ok_ = false;
    } catch (const std::exception&) {
        return ok_ = false;
    }
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
        if (error_ == 0) error_ = errno != 0 ? errno : EIO;
        return ok_ = false;
    }
    return true;
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
