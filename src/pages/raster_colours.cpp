// SPDX-License-Identifier: Apache-2.0
#include "pages/raster_colours.hpp"

#include <algorithm>
#include <climits>
#include <cstdlib>
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

void setColour(ImageFormat& format, int at, uint32_t c)
{
    if (format.components == 1) {
        format.palette[at] = static_cast<unsigned char>(c);
        return;
    }
    format.palette[3 * at] = static_cast<unsigned char>(c >> 16);
    format.palette[3 * at + 1] = static_cast<unsigned char>(c >> 8);
    format.palette[3 * at + 2] = static_cast<unsigned char>(c);
}

// Each place its own sample, then the ones given.
ImageFormat oneBit(int components)
{
    ImageFormat format;
    format.components = components;
    format.bits = 1;
    format.predicted = true;
    for (int i = 0; i < kMaxPaletteColours; ++i) format.sampleOf[i] = static_cast<unsigned char>(i);
    return format;
}

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

template <bool Counting>
bool ColourCount::scan(const unsigned char* rgb, size_t pixels, unsigned char* places)
{
    if (pixels == 0) return true;
    uint32_t last = pixelAt(rgb);
    int place = Counting ? insert(last) : indexOf(last);
    if (place < 0) return false;
    Run run(rgb);
    for (size_t i = 0; i < pixels;) {
        const unsigned char* p = rgb + 3 * i;
        // Each place lands at or before the first byte of its pixel, after
        // the run that covers it was read.
        if (i + 8 <= pixels && run.at(p)) {
            if (places != nullptr) std::memset(places + i, place, 8);
            if (Counting) pixels_[place] += 8;
            i += 8;
            continue;
        }
        if (const uint32_t c = pixelAt(p); c != last) {
            place = Counting ? insert(c) : indexOf(c);
            if (place < 0) return false;
            last = c;
            run = Run(p);
        }
        if (places != nullptr) places[i] = static_cast<unsigned char>(place);
        if (Counting) ++pixels_[place];
        ++i;
    }
    return true;
}

bool ColourCount::add(const unsigned char* rgb, size_t pixels, unsigned char* places)
{
    return !full_ && scan<true>(rgb, pixels, places);
}

void ColourCount::placesOf(const unsigned char* rgb, size_t pixels, unsigned char* places) const
{
    const_cast<ColourCount*>(this)->scan<false>(rgb, pixels, places);
}

ImageFormat ChooseImageFormat(const ColourCount& colours)
{
    ImageFormat format;
    for (int i = 0; i < kMaxPaletteColours; ++i) format.sampleOf[i] = static_cast<unsigned char>(i);
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
        format.predicted = true;
        for (int i = 0; i < n; ++i) format.sampleOf[i] = colours.colour(i) != 0;
        return format;
    }
    format.bits = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
    format.predicted = true;
    if (grey && format.bits == 8) {  // a grey palette would add nothing
        for (int i = 0; i < n; ++i) format.sampleOf[i] = static_cast<unsigned char>(colours.colour(i));
        return format;
    }
    format.paletteSize = n;
    for (int i = 0; i < n; ++i) setColour(format, i, colours.colour(i));
    return format;
}

bool ChooseImageLayers(const ColourCount& colours, const unsigned char* places, int width, int height,
                       ImageLayers* layers)
{
    const int n = colours.size();
    if (colours.full() || n < 3 || n > kMaxLayeredColours) return false;
    int back = 0;
    for (int i = 1; i < n; ++i)
        if (colours.pixels(i) > colours.pixels(back)) back = i;
    int fore = back == 0 ? 1 : 0;
    for (int i = 0; i < n; ++i)
        if (i != back && colours.pixels(i) > colours.pixels(fore)) fore = i;

    // Each other colour's rectangle, passing over the background eight pixels at a time.
    struct Box {
        int x0 = INT_MAX, y0 = INT_MAX, x1 = -1, y1 = -1;
    };
    std::array<Box, kMaxLayeredColours> boxes;
    const auto mark = [&](int place, int x, int y) {
        if (place == back || place == fore) return;
        Box& b = boxes[place];
        b.x0 = std::min(b.x0, x);
        b.x1 = std::max(b.x1, x);
        b.y0 = std::min(b.y0, y);
        b.y1 = y;
    };
    const uint64_t backWord = 0x0101010101010101ull * static_cast<uint64_t>(back);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = places + static_cast<size_t>(y) * width;
        int x = 0;
        for (; x + 8 <= width; x += 8) {
            uint64_t word;
            std::memcpy(&word, row + x, 8);
            if (word == backWord) continue;
            for (int k = 0; k < 8; ++k) mark(row[x + k], x + k, y);
        }
        for (; x < width; ++x) mark(row[x], x, y);
    }
    const uint64_t area = static_cast<uint64_t>(width) * height;
    uint64_t covered = 0;
    for (int i = 0; i < n; ++i)
        if (boxes[i].x1 >= 0)
            covered += static_cast<uint64_t>(boxes[i].x1 - boxes[i].x0 + 1) * (boxes[i].y1 - boxes[i].y0 + 1);
    if (covered >= (static_cast<uint64_t>(ChooseImageFormat(colours).bits) - 1) * area) return false;

    const uint32_t b = colours.colour(back), f = colours.colour(fore);
    ImageFormat& base = layers->base = oneBit(isGrey(b) && isGrey(f) ? 1 : 3);
    if ((b | f) == 0xffffff && (b & f) == 0) {
        // Plain DeviceGray, black and white as they are.
        for (int i = 0; i < n; ++i) base.sampleOf[i] = i == fore ? f != 0 : b != 0;
    } else {
        base.paletteSize = 2;
        setColour(base, 0, b);
        setColour(base, 1, f);
        for (int i = 0; i < n; ++i) base.sampleOf[i] = i == fore;
    }
    layers->stencils.clear();
    for (int i = 0; i < n; ++i) {
        const Box& box = boxes[i];
        if (box.x1 < 0) continue;
        StencilLayer layer{oneBit(isGrey(colours.colour(i)) ? 1 : 3), box.x0, box.y0, box.x1 - box.x0 + 1,
                           box.y1 - box.y0 + 1};
        layer.format.stencil = true;
        setColour(layer.format, 0, colours.colour(i));
        for (int k = 0; k < n; ++k) layer.format.sampleOf[k] = k != i;
        layers->stencils.push_back(layer);
    }
    return true;
}

RowEncoder::RowEncoder(const ImageFormat& format, int width)
    : format_(format), width_(width), row_(format.rowBytes(width)), previous_(format.rowBytes(width))
{
    for (int i = 0; i < kMaxPaletteColours && identity_; ++i) identity_ = format.sampleOf[i] == i;
    // Two places, their samples swapped: every other place is its own sample, so unused.
    inverted_ = !identity_ && format.bits == 1 && format.sampleOf[0] == 1 && format.sampleOf[1] == 0;
    for (int i = 2; i < kMaxPaletteColours && inverted_; ++i) inverted_ = format.sampleOf[i] == i;
}

namespace {

// Samples packed `Bits` to a byte's share, first in the high bits; a
// constant, so that the compiler unrolls each byte.
// Places packed `Bits` to a byte's share, first in the high bits, each
// through `sampleOf` unless it is the identity; a constant, so that the
// compiler unrolls each byte.
template <int Bits, bool Mapped>
void packRow(const unsigned char* places, const unsigned char* sampleOf, int width, unsigned char* to)
{
    constexpr int kPerByte = 8 / Bits;
    const auto sample = [&](int x) { return unsigned{Mapped ? sampleOf[places[x]] : places[x]}; };
    int x = 0;
    for (; x + kPerByte <= width; x += kPerByte) {
        unsigned byte = 0;
        for (int k = 0; k < kPerByte; ++k) byte |= sample(x + k) << (8 - Bits * (k + 1));
        *to++ = static_cast<unsigned char>(byte);
    }
    if (x == width) return;
    unsigned byte = 0;
    for (int k = 0; x + k < width; ++k) byte |= sample(x + k) << (8 - Bits * (k + 1));
    *to = static_cast<unsigned char>(byte);
}

template <int Bits>
void packRow(bool mapped, const unsigned char* places, const unsigned char* sampleOf, int width, unsigned char* to)
{
    if (mapped)
        packRow<Bits, true>(places, sampleOf, width, to);
    else
        packRow<Bits, false>(places, sampleOf, width, to);
}

// PNG's Paeth predictor of a byte from its left (a), upper (b) and upper
// left (c) neighbours, without branches so that rows are done many bytes at
// a time.
// In 16 bits, where a vector holds twice as many as in 32.
inline int16_t paeth(int16_t a, int16_t b, int16_t c)
{
    const auto magnitude = [](int16_t v) { return static_cast<int16_t>(v < 0 ? -v : v); };
    const int16_t pa = magnitude(static_cast<int16_t>(b - c)), pb = magnitude(static_cast<int16_t>(a - c)),
                  pc = magnitude(static_cast<int16_t>(a + b - 2 * c));
    return pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
}

// What a predicted byte costs: its distance from zero, taken as signed.
inline uint16_t cost(int16_t difference)
{
    const auto d = static_cast<uint16_t>(difference & 255);
    return std::min<uint16_t>(d, static_cast<uint16_t>(256 - d));
}

// Each row behind whichever of PNG's predictors (None 0, Sub 1, Up 2, Paeth
// 4) leaves the smallest sum of its bytes taken as signed, as libpng
// chooses: Flate then finds more of the same small values.  Samples are a
// byte at most, so a byte's left neighbour is the byte before.
void predictRow(const unsigned char* row, const unsigned char* above, size_t bytes, unsigned char* to)
{
    if (bytes == 0) return;
    // The first byte has no left neighbours: Sub and Paeth leave it, Up takes the one above.
    uint32_t none = cost(row[0]), sub = none, up = cost(static_cast<int16_t>(row[0] - above[0])), paethSum = up;
    for (size_t x = 1; x < bytes; ++x) {
        const int16_t r = row[x], a = row[x - 1], b = above[x], c = above[x - 1];
        none += cost(r);
        sub += cost(static_cast<int16_t>(r - a));
        up += cost(static_cast<int16_t>(r - b));
        paethSum += cost(static_cast<int16_t>(r - paeth(a, b, c)));
    }
    const uint32_t best = std::min({none, sub, up, paethSum});
    const int type = best == none ? 0 : best == sub ? 1 : best == up ? 2 : 4;
    to[0] = static_cast<unsigned char>(type);
    unsigned char* out = to + 1;
    switch (type) {
    case 0: std::memcpy(out, row, bytes); break;
    case 1:
        out[0] = row[0];
        for (size_t x = 1; x < bytes; ++x) out[x] = static_cast<unsigned char>(row[x] - row[x - 1]);
        break;
    case 2:
        for (size_t x = 0; x < bytes; ++x) out[x] = static_cast<unsigned char>(row[x] - above[x]);
        break;
    default:
        out[0] = static_cast<unsigned char>(row[0] - above[0]);
        for (size_t x = 1; x < bytes; ++x)
            out[x] = static_cast<unsigned char>(row[x] - paeth(row[x - 1], above[x], above[x - 1]));
        break;
    }
}

}  // namespace

void RowEncoder::encode(const unsigned char* places, unsigned char* to)
{
    unsigned char* packed = format_.predicted ? row_.data() : to;
    const unsigned char* sampleOf = format_.sampleOf.data();
    switch (format_.bits) {
    case 1:
        // Black and white found white first: packed as found, then each bit turned.
        packRow<1>(!inverted_ && !identity_, places, sampleOf, width_, packed);
        if (inverted_) {
            for (size_t x = 0; x < row_.size(); ++x) packed[x] = static_cast<unsigned char>(~packed[x]);
            if (width_ % 8 != 0) packed[row_.size() - 1] &= static_cast<unsigned char>(0xff00 >> (width_ % 8));
        }
        break;
    case 2: packRow<2>(!identity_, places, sampleOf, width_, packed); break;
    case 4: packRow<4>(!identity_, places, sampleOf, width_, packed); break;
    default: packRow<8>(!identity_, places, sampleOf, width_, packed); break;
    }
    if (!format_.predicted) return;
    predictRow(row_.data(), previous_.data(), row_.size(), to);
    row_.swap(previous_);
}

}  // namespace pdftopjl
