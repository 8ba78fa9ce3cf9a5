// SPDX-License-Identifier: Apache-2.0
#include "image_pdf.hpp"

#include <qpdf/Buffer.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>

namespace pdftopjl::app {

namespace {

const char* colorSpace(ImageColor color)
{
    switch (color) {
    case ImageColor::Gray:
    case ImageColor::InvertedGray: return "/DeviceGray";
    case ImageColor::Cmyk: return "/DeviceCMYK";
    default: return "/DeviceRGB";
    }
}

int components(ImageColor color)
{
    switch (color) {
    case ImageColor::Rgb: return 3;
    case ImageColor::Cmyk: return 4;
    default: return 1;
    }
}

std::string number(double value)
{
    char text[32];
    snprintf(text, sizeof text, "%.2f", value);
    return text;
}

QPDFObjectHandle name(const char* text)
{
    return QPDFObjectHandle::newName(text);
}

// An image XObject's dictionary as both writers give it.
void describeImage(QPDFObjectHandle image, unsigned width, unsigned height, ImageColor color, const char* decode)
{
    QPDFObjectHandle dict = image.getDict();
    dict.replaceKey("/Type", name("/XObject"));
    dict.replaceKey("/Subtype", name("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    dict.replaceKey("/ColorSpace", name(colorSpace(color)));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(8));
    if (decode != nullptr) dict.replaceKey("/Decode", QPDFObjectHandle::parse(decode));
}

// A page of the size given, showing `image` as /Im0 by `content`.
void addPage(QPDF& pdf, double width, double height, QPDFObjectHandle image, const std::string& content)
{
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 " + number(width) + " " +
                                                    number(height) + "] >>");
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    xobjects.replaceKey("/Im0", image);
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, content));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
}

// Writes the whole document: the images as they were compressed, the page
// contents as they are.
void write(QPDFWriter& writer)
{
    writer.setMinimumPDFVersion("1.4");
    writer.setDecodeLevel(qpdf_dl_none);
    writer.setCompressStreams(false);
    writer.write();
}

// The content that paints /Im0, `imageWidth` x `imageHeight` pixels, as large
// as fits inside the margins, centred, turned a quarter when that fits better.
std::string placeImage(double imageWidth, double imageHeight, double pageWidth, double pageHeight,
                       double margin)
{
    const double boxWidth = pageWidth - 2 * margin, boxHeight = pageHeight - 2 * margin;
    const bool turn = (imageWidth > imageHeight) != (pageWidth > pageHeight);
    const double w = turn ? imageHeight : imageWidth, h = turn ? imageWidth : imageHeight;
    const double scale = std::min(boxWidth / w, boxHeight / h);
    const double drawnWidth = w * scale, drawnHeight = h * scale;
    const double x = (pageWidth - drawnWidth) / 2, y = (pageHeight - drawnHeight) / 2;
    if (!turn)
        return "q " + number(drawnWidth) + " 0 0 " + number(drawnHeight) + " " + number(x) + " " +
               number(y) + " cm /Im0 Do Q\n";
    // The image's top edge along the page's left edge.
    return "q 0 " + number(drawnHeight) + " " + number(-drawnWidth) + " 0 " + number(x + drawnWidth) +
           " " + number(y) + " cm /Im0 Do Q\n";
}

struct JpegInfo {
    unsigned width = 0, height = 0;
    int components = 0;
    bool adobe = false;  // an Adobe marker: CMYK is stored inverted
};

bool readJpegInfo(const std::string& jpeg, JpegInfo* info)
{
    const auto* d = reinterpret_cast<const unsigned char*>(jpeg.data());
    const size_t n = jpeg.size();
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return false;
    size_t at = 2;
    while (at + 4 <= n) {
        if (d[at] != 0xFF) return false;
        const unsigned char marker = d[at + 1];
        if (marker == 0xFF) {
            ++at;  // fill byte
            continue;
        }
        const size_t length = (static_cast<size_t>(d[at + 2]) << 8) | d[at + 3];
        if (length < 2 || at + 2 + length > n) return false;
        const unsigned char* segment = d + at + 4;
        const bool startOfFrame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                                  marker != 0xC8 && marker != 0xCC;
        if (marker == 0xEE && length >= 7 && std::memcmp(segment, "Adobe", 5) == 0) info->adobe = true;
        if (startOfFrame) {
            if (length < 8) return false;
            info->height = (static_cast<unsigned>(segment[1]) << 8) | segment[2];
            info->width = (static_cast<unsigned>(segment[3]) << 8) | segment[4];
            info->components = segment[5];
            return info->width > 0 && info->height > 0 &&
                   (info->components == 1 || info->components == 3 || info->components == 4);
        }
        if (marker == 0xDA) return false;  // scan data before any frame header
        at += 2 + length;
    }
    return false;
}

}  // namespace

RasterPdf::RasterPdf() = default;

RasterPdf::~RasterPdf()
{
    if (inPage_) deflateEnd(&zip_);
    if (out_ != nullptr) fclose(out_);
}

bool RasterPdf::Open(const std::string& path)
{
    out_ = fopen(path.c_str(), "wbe");
    if (out_ == nullptr) return false;
    pdf_ = std::make_unique<QPDF>();
    pdf_->emptyPDF();
    kept_ = std::make_shared<KeptStreams>();
    return true;
}

bool RasterPdf::deflateOut(const unsigned char* data, size_t size, int flush)
{
    unsigned char buffer[65536];
    zip_.next_in = const_cast<unsigned char*>(data);
    zip_.avail_in = static_cast<uInt>(size);
    do {
        zip_.next_out = buffer;
        zip_.avail_out = sizeof buffer;
        const int result = deflate(&zip_, flush);
        if (result == Z_STREAM_ERROR) return false;
        const size_t produced = sizeof buffer - zip_.avail_out;
        if (produced > 0 && !kept_->write(buffer, produced)) return false;
    } while (zip_.avail_out == 0 || (flush == Z_FINISH && zip_.avail_in > 0));
    return true;
}

bool RasterPdf::StartPage(unsigned width, unsigned height, ImageColor color, double pageWidth,
                          double pageHeight)
{
    if (out_ == nullptr || failed_ || inPage_ || width == 0 || height == 0) return false;
    image_ = QPDFObjectHandle::newStream(pdf_.get());
    describeImage(image_, width, height, color, color == ImageColor::InvertedGray ? "[1 0]" : nullptr);
    image_.replaceStreamData(kept_, name("/FlateDecode"), QPDFObjectHandle::newNull());
    if (!kept_->begin(image_.getObjGen())) return failed_ = true, false;
    if (deflateInit(&zip_, Z_BEST_SPEED) != Z_OK) return failed_ = true, false;
    inPage_ = true;
    lineBytes_ = static_cast<size_t>(width) * static_cast<size_t>(components(color));
    pageWidth_ = pageWidth;
    pageHeight_ = pageHeight;
    return true;
}

bool RasterPdf::WriteLine(const unsigned char* line)
{
    if (!inPage_ || failed_) return false;
    if (!deflateOut(line, lineBytes_, Z_NO_FLUSH)) failed_ = true;
    return !failed_;
}

bool RasterPdf::EndPage()
{
    if (!inPage_) return false;
    if (!deflateOut(nullptr, 0, Z_FINISH)) failed_ = true;
    deflateEnd(&zip_);
    inPage_ = false;
    if (failed_) return false;
    addPage(*pdf_, pageWidth_, pageHeight_, image_,
            "q " + number(pageWidth_) + " 0 0 " + number(pageHeight_) + " 0 0 cm /Im0 Do Q\n");
    ++pages_;
    return true;
}

bool RasterPdf::Close()
{
    if (out_ == nullptr) return false;
    bool ok = !failed_ && !inPage_ && pages_ > 0;
    if (ok) {
        try {
            QPDFWriter writer(*pdf_);
            writer.setOutputFile("image document", out_, false);
            write(writer);
        } catch (const std::exception&) {
            ok = false;
        }
        ok = ok && std::fflush(out_) == 0 && !ferror(out_);
    }
    ok = fclose(out_) == 0 && ok;
    out_ = nullptr;
    return ok;
}

std::string JpegToPdf(const std::string& jpeg, double pageWidth, double pageHeight, double margin)
{
    JpegInfo info;
    if (!readJpegInfo(jpeg, &info)) return "";
    const ImageColor color = info.components == 1   ? ImageColor::Gray
                             : info.components == 3 ? ImageColor::Rgb
                                                    : ImageColor::Cmyk;
    try {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
        describeImage(image, info.width, info.height, color,
                      color == ImageColor::Cmyk && info.adobe ? "[1 0 1 0 1 0 1 0]" : nullptr);
        image.replaceStreamData(jpeg, name("/DCTDecode"), QPDFObjectHandle::newNull());
        addPage(pdf, pageWidth, pageHeight, image,
                placeImage(info.width, info.height, pageWidth, pageHeight, margin));
        QPDFWriter writer(pdf);
        writer.setOutputMemory();
        write(writer);
        std::shared_ptr<Buffer> written = writer.getBufferSharedPointer();
        return std::string(reinterpret_cast<const char*>(written->getBuffer()), written->getSize());
    } catch (const std::exception&) {
        return "";
    }
}

}  // namespace pdftopjl::app
