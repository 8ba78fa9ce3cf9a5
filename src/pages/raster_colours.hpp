// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// How a painted page is stored as small as it losslessly goes: the colours
// it holds, counted up to 256 in one cheap pass that also notes each pixel's
// colour as its place in the count, decide the image's format; those places
// then become rows of packed, predicted samples.
namespace pdftopjl {

inline constexpr int kMaxPaletteColours = 256;

// The colours of a painted image (RGB, 3 bytes a pixel), up to 256, each
// known by its place in the count; adding more marks it full.  Office pages
// hold long runs of one colour, passed over eight pixels at a time.
class ColourCount {
public:
    // Counts the pixels' colours and, unless `places` is null, writes each
    // pixel's place there (a byte each; it may be `rgb` itself).  False once
    // more than 256 colours were seen: counting stops there.
    bool add(const unsigned char* rgb, size_t pixels, unsigned char* places = nullptr);
    // Each pixel's place, of colours all counted.
    void placesOf(const unsigned char* rgb, size_t pixels, unsigned char* places) const;
    bool full() const { return full_; }
    int size() const { return size_; }
    uint32_t colour(int index) const { return colours_[index]; }
    // The pixels of a colour counted.
    uint64_t pixels(int index) const { return pixels_[index]; }
    // The index of a colour counted, -1 for one that was not.
    int indexOf(uint32_t rgb) const;

private:
    int insert(uint32_t rgb);
    template <bool Counting>
    bool scan(const unsigned char* rgb, size_t pixels, unsigned char* places);

    static constexpr int kSlots = 1024;  // open addressing, at most a quarter full
    std::array<uint32_t, kSlots> keys_{};  // colour + 1; 0 is a free slot
    std::array<uint8_t, kSlots> slots_{};
    std::array<uint32_t, kMaxPaletteColours> colours_{};
    std::array<uint64_t, kMaxPaletteColours> pixels_{};
    int size_ = 0;
    bool full_ = false;
};

// What an image is written as.
struct ImageFormat {
    int components = 3;  // of a colour: 1 grey, 3 RGB
    int bits = 8;        // a sample: a component, or an index into the palette
    int paletteSize = 0; // 0: no palette
    // The palette's colours, `components` bytes each.
    std::array<unsigned char, 3 * kMaxPaletteColours> palette{};
    // Rows Flate-compressed behind PNG's predictors, each row's chosen for
    // it (every format but RGB, whose rows go as painted).
    bool predicted = false;
    // A colour's place in the count → its sample.
    std::array<unsigned char, kMaxPaletteColours> sampleOf{};
    // One bit a pixel in CCITT Group 4 instead of Flate.
    bool fax = false;
    // A stencil (/ImageMask, 1 bit): the palette's first colour, not counted
    // in paletteSize, painted where a sample is 0.
    bool stencil = false;

    bool rgb() const { return components == 3 && paletteSize == 0; }
    // Bytes of a packed row, and of a row as compressed (with its predictor tag).
    size_t rowBytes(int width) const
    {
        return (static_cast<size_t>(width) * bits * (paletteSize > 0 || stencil ? 1 : components) + 7) / 8;
    }
    size_t streamRowBytes(int width) const { return rowBytes(width) + (predicted ? 1 : 0); }
};

// The smallest lossless format for an image of the colours counted: RGB when
// there are more than 256; black and white (DeviceGray, 1 bit) when every
// pixel is one or the other; else a palette at 1, 2, 4 or 8 bits (over
// DeviceGray when no colour has colour, so grey pages stay grey), or 8-bit
// grey when a grey palette would need 8 bits.
ImageFormat ChooseImageFormat(const ColourCount& colours);

// A page of a few colours as layers: one bit a pixel of its two commonest
// colours over the whole page, and for each other colour a stencil over the
// rectangle of pixels that holds it (x, y from the image's top left).  Text
// rows then stay at one bit, where the row above stays in the compressor's
// reach, whatever colours a heading or a rule adds.
struct StencilLayer {
    ImageFormat format;
    int x = 0, y = 0, width = 0, height = 0;
};
struct ImageLayers {
    ImageFormat base;
    std::vector<StencilLayer> stencils;
};
inline constexpr int kMaxLayeredColours = 16;

// The layers of an image of the colours counted, each pixel's place in
// `places`; false when one image of ChooseImageFormat's is likely smaller:
// more than 16 colours, or rectangles of the other colours that cover more
// than the bits a pixel the one image would spend beyond one.
bool ChooseImageLayers(const ColourCount& colours, const unsigned char* places, int width, int height,
                       ImageLayers* layers);

// Encodes an image's rows of colour places, top to bottom, as its stream
// holds them: made samples, packed at the format's bits, first sample in the
// high bits, then for a predicted format behind whichever of PNG's
// predictors suits the row best.
class RowEncoder {
public:
    RowEncoder(const ImageFormat& format, int width);
    // Writes format.streamRowBytes(width) bytes into `to`, which may not
    // overlap `places`.
    void encode(const unsigned char* places, unsigned char* to);

private:
    const ImageFormat& format_;
    int width_;
    bool identity_ = true;   // every place is its own sample
    bool inverted_ = false;  // one bit a sample, each place's the other
    std::vector<unsigned char> row_, previous_;  // packed, zeros above the first row
};

}  // namespace pdftopjl
