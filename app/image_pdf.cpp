#include "image_pdf.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace pdftopjl::app {

namespace {

const char kHeader[] = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";

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

// A whole PDF with one page showing one image stream.
class SmallPdf {
public:
    void object(const std::string& body)
    {
        offsets_.push_back(text_.size());
        text_ += std::to_string(offsets_.size()) + " 0 obj\n" + body + "\nendobj\n";
    }
    std::string finish()
    {
        const size_t xref = text_.size();
        char entry[32];
        text_ += "xref\n0 " + std::to_string(offsets_.size() + 1) + "\n0000000000 65535 f \n";
        for (size_t offset : offsets_) {
            snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
            text_ += entry;
        }
        text_ += "trailer\n<< /Size " + std::to_string(offsets_.size() + 1) +
                 " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return std::move(text_);
    }

private:
    std::string text_ = kHeader;
    std::vector<size_t> offsets_;
};

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

RasterPdf::~RasterPdf()
{
    if (inPage_) deflateEnd(&zip_);
    if (out_ != nullptr) fclose(out_);
}

bool RasterPdf::Open(const std::string& path)
{
    out_ = fopen(path.c_str(), "wbe");
    if (out_ == nullptr) return false;
    fputs(kHeader, out_);
    return true;
}

int RasterPdf::newObject()
{
    offsets_.push_back(0);
    return static_cast<int>(offsets_.size()) - 1;
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
        if (produced > 0 && fwrite(buffer, 1, produced, out_) != produced) return false;
    } while (zip_.avail_out == 0 || (flush == Z_FINISH && zip_.avail_in > 0));
    return true;
}

bool RasterPdf::StartPage(unsigned width, unsigned height, ImageColor color, double pageWidth,
                          double pageHeight)
{
    if (out_ == nullptr || failed_ || inPage_ || width == 0 || height == 0) return false;
    if (deflateInit(&zip_, Z_BEST_SPEED) != Z_OK) return failed_ = true, false;
    inPage_ = true;
    lineBytes_ = static_cast<size_t>(width) * static_cast<size_t>(components(color));
    pageWidth_ = pageWidth;
    pageHeight_ = pageHeight;
    imageObject_ = newObject();
    const int lengthObject = newObject();
    offsets_[imageObject_] = ftell(out_);
    fprintf(out_,
            "%d 0 obj\n<< /Type /XObject /Subtype /Image /Width %u /Height %u /ColorSpace %s "
            "/BitsPerComponent 8%s /Filter /FlateDecode /Length %d 0 R >>\nstream\n",
            imageObject_, width, height, colorSpace(color),
            color == ImageColor::InvertedGray ? " /Decode [1 0]" : "", lengthObject);
    streamStart_ = ftell(out_);
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
    const long length = ftell(out_) - streamStart_;
    fputs("\nendstream\nendobj\n", out_);

    const int lengthObject = imageObject_ + 1;
    offsets_[lengthObject] = ftell(out_);
    fprintf(out_, "%d 0 obj\n%ld\nendobj\n", lengthObject, length);

    const std::string content = "q " + number(pageWidth_) + " 0 0 " + number(pageHeight_) +
                                " 0 0 cm /Im0 Do Q\n";
    const int contentObject = newObject();
    offsets_[contentObject] = ftell(out_);
    fprintf(out_, "%d 0 obj\n<< /Length %zu >>\nstream\n%sendstream\nendobj\n", contentObject,
            content.size(), content.c_str());

    const int pageObject = newObject();
    offsets_[pageObject] = ftell(out_);
    fprintf(out_,
            "%d 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 %s %s] /Resources << /XObject "
            "<< /Im0 %d 0 R >> >> /Contents %d 0 R >>\nendobj\n",
            pageObject, number(pageWidth_).c_str(), number(pageHeight_).c_str(), imageObject_,
            contentObject);
    pageObjects_.push_back(pageObject);
    return !ferror(out_);
}

bool RasterPdf::Close()
{
    if (out_ == nullptr) return false;
    bool ok = !failed_ && !inPage_ && !pageObjects_.empty();
    if (ok) {
        offsets_[2] = ftell(out_);
        fputs("2 0 obj\n<< /Type /Pages /Kids [", out_);
        for (int page : pageObjects_) fprintf(out_, " %d 0 R", page);
        fprintf(out_, " ] /Count %zu >>\nendobj\n", pageObjects_.size());
        offsets_[1] = ftell(out_);
        fputs("1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n", out_);
        const long xref = ftell(out_);
        fprintf(out_, "xref\n0 %zu\n0000000000 65535 f \n", offsets_.size());
        for (size_t i = 1; i < offsets_.size(); ++i) fprintf(out_, "%010ld 00000 n \n", offsets_[i]);
        fprintf(out_, "trailer\n<< /Size %zu /Root 1 0 R >>\nstartxref\n%ld\n%%%%EOF\n",
                offsets_.size(), xref);
        ok = !ferror(out_);
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
    SmallPdf pdf;
    pdf.object("<< /Type /Catalog /Pages 2 0 R >>");
    pdf.object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    pdf.object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(pageWidth) + " " +
               number(pageHeight) + "] /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>");
    pdf.object("<< /Type /XObject /Subtype /Image /Width " + std::to_string(info.width) +
               " /Height " + std::to_string(info.height) + " /ColorSpace " + colorSpace(color) +
               " /BitsPerComponent 8" +
               (color == ImageColor::Cmyk && info.adobe ? " /Decode [1 0 1 0 1 0 1 0]" : "") +
               " /Filter /DCTDecode /Length " + std::to_string(jpeg.size()) + " >>\nstream\n" + jpeg +
               "\nendstream");
    const std::string content = placeImage(info.width, info.height, pageWidth, pageHeight, margin);
    pdf.object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream");
    return pdf.finish();
}

}  // namespace pdftopjl::app
