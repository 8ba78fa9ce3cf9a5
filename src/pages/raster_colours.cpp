#include "pages/raster_colours.hpp"

#include <algorithm>
#include <cstring>

namespace pdftopjl {

namespace {

uint32_t pixelAt(const unsigned char* p)
{
    return uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
}

bool isGrey(uint32_t c)
{
    return (c >> 16) == (c & 0xff) && ((c >> 8) & 0xff) == (c & 0xff);
}

// Eight pixels of one colour, to pass over a run of it at once.
struct Run {
    unsigned char bytes[24];
    explicit Run(const unsigned char* pixel)
    {
        for (int k = 0; k < 8; ++k) std::memcpy(bytes + 3 * k, pixel, 3);
    }
    bool at(const unsigned char* rgb) const { return std::memcmp(rgb, bytes, sizeof bytes) == 0; }
};

}  // namespace

int ColourCount::indexOf(uint32_t rgb) const
{
    for (size_t s = (rgb * 2654435761u) >> 22;; s = (s + 1) % kSlots) {
        if (keys_[s] == rgb + 1) return slots_[s];
        if (keys_[s] == 0) return -1;
    }
}

int ColourCount::insert(uint32_t rgb)
{
    size_t s = (rgb * 2654435761u) >> 22;
    for (; keys_[s] != 0; s = (s + 1) % kSlots)
        if (keys_[s] == rgb + 1) return slots_[s];
    if (size_ == kMaxPaletteColours) {
        full_ = true;
        return -1;
    }
    keys_[s] = rgb + 1;
    slots_[s] = static_cast<uint8_t>(size_);
    colours_[size_] = rgb;
    return size_++;
}

bool ColourCount::add(const unsigned char* rgb, size_t pixels)
{
    if (full_) return false;
    if (pixels == 0) return true;
    if (insert(pixelAt(rgb)) < 0) return false;
    Run run(rgb);
    uint32_t last = pixelAt(rgb);
    for (size_t i = 0; i < pixels;) {
        const unsigned char* p = rgb + 3 * i;
        if (i + 8 <= pixels && run.at(p)) {
            i += 8;
            continue;
        }
        if (const uint32_t c = pixelAt(p); c != last) {
            if (insert(c) < 0) return false;
            last = c;
            run = Run(p);
        }
        ++i;
    }
    return true;
}

ImageFormat ChooseImageFormat(const ColourCount& colours)
{
    ImageFormat format;
    if (colours.full()) return format;  // RGB
    const int n = colours.size();
    bool grey = true, blackAndWhite = true;
    for (int i = 0; i < n; ++i) {
        const uint32_t c = colours.colour(i);
        grey = grey && isGrey(c);
        blackAndWhite = blackAndWhite && (c == 0 || c == 0xffffff);
    }
    format.components = grey ? 1 : 3;
    if (blackAndWhite) {
        format.bits = 1;  // plain DeviceGray: a pixel is black or white as it is
        return format;
    }
    format.bits = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
    format.predicted = true;
    if (grey && format.bits == 8) return format;  // a grey palette would add nothing
    format.paletteSize = n;
    for (int i = 0; i < n; ++i) {
        const uint32_t c = colours.colour(i);
        if (grey) {
            format.palette[i] = static_cast<unsigned char>(c);
        } else {
            format.palette[3 * i] = static_cast<unsigned char>(c >> 16);
            format.palette[3 * i + 1] = static_cast<unsigned char>(c >> 8);
            format.palette[3 * i + 2] = static_cast<unsigned char>(c);
        }
    }
    return format;
}

SampleMapper::SampleMapper(const ColourCount& colours, const ImageFormat& format)
    : colours_(colours), grey_(format.components == 1)
{
    for (int v = 0; v < 256; ++v) greyIndex_[v] = static_cast<unsigned char>(format.bits == 1 ? v >> 7 : v);
    if (grey_)
        for (int i = 0; i < format.paletteSize; ++i) greyIndex_[format.palette[i]] = static_cast<unsigned char>(i);
}

void SampleMapper::map(const unsigned char* rgb, size_t pixels, unsigned char* to) const
{
    // Each sample lands at or before the first byte of its pixel.
    if (grey_) {
        for (size_t i = 0; i < pixels; ++i) to[i] = greyIndex_[rgb[3 * i]];
        return;
    }
    if (pixels == 0) return;
    Run run(rgb);
    uint32_t last = pixelAt(rgb);
    unsigned char index = static_cast<unsigned char>(colours_.indexOf(last));
    for (size_t i = 0; i < pixels;) {
        const unsigned char* p = rgb + 3 * i;
        if (i + 8 <= pixels && run.at(p)) {
            std::memset(to + i, index, 8);
            i += 8;
            continue;
        }
        if (const uint32_t c = pixelAt(p); c != last) {
            last = c;
            index = static_cast<unsigned char>(colours_.indexOf(c));
            run = Run(p);
        }
        to[i++] = index;
    }
}

RowEncoder::RowEncoder(const ImageFormat& format, int width)
    : format_(format), width_(width), row_(format.rowBytes(width)), previous_(format.rowBytes(width))
{
}

namespace {

// Samples packed `Bits` to a byte's share, first in the high bits; a
// constant, so that the compiler unrolls each byte.
template <int Bits>
void packRow(const unsigned char* samples, int width, unsigned char* to)
{
    constexpr int kPerByte = 8 / Bits;
    int x = 0;
    for (; x + kPerByte <= width; x += kPerByte) {
        unsigned byte = 0;
        for (int k = 0; k < kPerByte; ++k) byte |= unsigned{samples[x + k]} << (8 - Bits * (k + 1));
        *to++ = static_cast<unsigned char>(byte);
    }
    if (x == width) return;
    unsigned byte = 0;
    for (int k = 0; x + k < width; ++k) byte |= unsigned{samples[x + k]} << (8 - Bits * (k + 1));
    *to = static_cast<unsigned char>(byte);
}

}  // namespace

void RowEncoder::encode(const unsigned char* samples, unsigned char* to)
{
    unsigned char* packed = format_.predicted ? row_.data() : to;
    switch (format_.bits) {
    case 1: packRow<1>(samples, width_, packed); break;
    case 2: packRow<2>(samples, width_, packed); break;
    case 4: packRow<4>(samples, width_, packed); break;
    default: std::memcpy(packed, samples, static_cast<size_t>(width_)); break;
    }
    if (!format_.predicted) return;
    to[0] = 2;  // PNG's Up
    for (size_t x = 0; x < row_.size(); ++x) to[1 + x] = static_cast<unsigned char>(row_[x] - previous_[x]);
    row_.swap(previous_);
}

}  // namespace pdftopjl
