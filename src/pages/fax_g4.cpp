// SPDX-License-Identifier: Apache-2.0
#include "pages/fax_g4.hpp"

#include <cstdint>
#include <vector>

namespace pdftopjl {

namespace {

// A code: its bits, right-aligned, and how many there are.
struct Code {
    uint16_t bits;
    uint8_t length;
};

// T.4's terminating codes of runs 0 to 63, white then black.
constexpr Code kWhiteRun[64] = {
    {0x35, 8}, {0x07, 6}, {0x07, 4}, {0x08, 4}, {0x0b, 4}, {0x0c, 4}, {0x0e, 4}, {0x0f, 4},
    {0x13, 5}, {0x14, 5}, {0x07, 5}, {0x08, 5}, {0x08, 6}, {0x03, 6}, {0x34, 6}, {0x35, 6},
    {0x2a, 6}, {0x2b, 6}, {0x27, 7}, {0x0c, 7}, {0x08, 7}, {0x17, 7}, {0x03, 7}, {0x04, 7},
    {0x28, 7}, {0x2b, 7}, {0x13, 7}, {0x24, 7}, {0x18, 7}, {0x02, 8}, {0x03, 8}, {0x1a, 8},
    {0x1b, 8}, {0x12, 8}, {0x13, 8}, {0x14, 8}, {0x15, 8}, {0x16, 8}, {0x17, 8}, {0x28, 8},
    {0x29, 8}, {0x2a, 8}, {0x2b, 8}, {0x2c, 8}, {0x2d, 8}, {0x04, 8}, {0x05, 8}, {0x0a, 8},
    {0x0b, 8}, {0x52, 8}, {0x53, 8}, {0x54, 8}, {0x55, 8}, {0x24, 8}, {0x25, 8}, {0x58, 8},
    {0x59, 8}, {0x5a, 8}, {0x5b, 8}, {0x4a, 8}, {0x4b, 8}, {0x32, 8}, {0x33, 8}, {0x34, 8}};
constexpr Code kBlackRun[64] = {
    {0x37, 10}, {0x02, 3},  {0x03, 2},  {0x02, 2},  {0x03, 3},  {0x03, 4},  {0x02, 4},  {0x03, 5},
    {0x05, 6},  {0x04, 6},  {0x04, 7},  {0x05, 7},  {0x07, 7},  {0x04, 8},  {0x07, 8},  {0x18, 9},
    {0x17, 10}, {0x18, 10}, {0x08, 10}, {0x67, 11}, {0x68, 11}, {0x6c, 11}, {0x37, 11}, {0x28, 11},
    {0x17, 11}, {0x18, 11}, {0xca, 12}, {0xcb, 12}, {0xcc, 12}, {0xcd, 12}, {0x68, 12}, {0x69, 12},
    {0x6a, 12}, {0x6b, 12}, {0xd2, 12}, {0xd3, 12}, {0xd4, 12}, {0xd5, 12}, {0xd6, 12}, {0xd7, 12},
    {0x6c, 12}, {0x6d, 12}, {0xda, 12}, {0xdb, 12}, {0x54, 12}, {0x55, 12}, {0x56, 12}, {0x57, 12},
    {0x64, 12}, {0x65, 12}, {0x52, 12}, {0x53, 12}, {0x24, 12}, {0x37, 12}, {0x38, 12}, {0x27, 12},
    {0x28, 12}, {0x58, 12}, {0x59, 12}, {0x2b, 12}, {0x2c, 12}, {0x5a, 12}, {0x66, 12}, {0x67, 12}};
// The make-up codes of runs 64 to 1728 (a multiple of 64), white then black;
// from 1792 to 2560 both colours share the extended ones.
constexpr Code kWhiteMakeUp[27] = {
    {0x1b, 5}, {0x12, 5}, {0x17, 6}, {0x37, 7}, {0x36, 8}, {0x37, 8}, {0x64, 8}, {0x65, 8}, {0x68, 8},
    {0x67, 8}, {0xcc, 9}, {0xcd, 9}, {0xd2, 9}, {0xd3, 9}, {0xd4, 9}, {0xd5, 9}, {0xd6, 9}, {0xd7, 9},
    {0xd8, 9}, {0xd9, 9}, {0xda, 9}, {0xdb, 9}, {0x98, 9}, {0x99, 9}, {0x9a, 9}, {0x18, 6}, {0x9b, 9}};
constexpr Code kBlackMakeUp[27] = {
    {0x0f, 10}, {0xc8, 12}, {0xc9, 12}, {0x5b, 12}, {0x33, 12}, {0x34, 12}, {0x35, 12},
    {0x6c, 13}, {0x6d, 13}, {0x4a, 13}, {0x4b, 13}, {0x4c, 13}, {0x4d, 13}, {0x72, 13},
    {0x73, 13}, {0x74, 13}, {0x75, 13}, {0x76, 13}, {0x77, 13}, {0x52, 13}, {0x53, 13},
    {0x54, 13}, {0x55, 13}, {0x5a, 13}, {0x5b, 13}, {0x64, 13}, {0x65, 13}};
constexpr Code kExtendedMakeUp[13] = {{0x08, 11}, {0x0c, 11}, {0x0d, 11}, {0x12, 12}, {0x13, 12},
                                      {0x14, 12}, {0x15, 12}, {0x16, 12}, {0x17, 12}, {0x1c, 12},
                                      {0x1d, 12}, {0x1e, 12}, {0x1f, 12}};
// T.6's modes; vertical ones by a1 - b1 from -3 to 3.
constexpr Code kPass{0x1, 4}, kHorizontal{0x1, 3}, kEndOfLine{0x1, 12};
constexpr Code kVertical[7] = {{0x02, 7}, {0x02, 6}, {0x02, 3}, {0x1, 1}, {0x03, 3}, {0x03, 6}, {0x03, 7}};

class BitWriter {
public:
    BitWriter(unsigned char* out, size_t limit) : out_(out), limit_(limit) {}
    void put(Code code)
    {
        // Once past the limit nothing more is kept, and no bits pile up.
        if (full_) return;
        bits_ = bits_ << code.length | code.bits;
        count_ += code.length;
        while (count_ >= 8) {
            if (size_ == limit_) {
                full_ = true;
                count_ = 0;
                return;
            }
            count_ -= 8;
            out_[size_++] = static_cast<unsigned char>(bits_ >> count_);
        }
    }
    void run(int length, bool white)
    {
        for (; length >= 2560 + 64; length -= 2560) put(kExtendedMakeUp[12]);
        if (length >= 64) {
            const int k = length / 64 - 1;
            put(k >= 27 ? kExtendedMakeUp[k - 27] : white ? kWhiteMakeUp[k] : kBlackMakeUp[k]);
            length %= 64;
        }
        put(white ? kWhiteRun[length] : kBlackRun[length]);
    }
    // The last bits padded with zeros: the size, 0 once `limit` was passed.
    size_t finish()
    {
        if (!full_ && count_ > 0) put(Code{0, static_cast<uint8_t>(8 - count_)});
        return full_ ? 0 : size_;
    }
    bool full() const { return full_; }

private:
    unsigned char* out_;
    size_t limit_, size_ = 0;
    uint64_t bits_ = 0;
    int count_ = 0;
    bool full_ = false;
};

// Where a row's colour changes, from white before its first pixel, then
// `width` three times, so that looking two past the last change stays in.
void changesOf(const unsigned char* row, int width, std::vector<int>* changes)
{
    changes->clear();
    unsigned white = 1;
    for (int x = 0; x < width;) {
        const unsigned byte = row[x / 8];
        if (x % 8 == 0 && byte == (white ? 0xffu : 0u)) {
            x += 8;
            continue;
        }
        if (((byte >> (7 - x % 8)) & 1) != white) {
            changes->push_back(x);
            white ^= 1;
        }
        ++x;
    }
    changes->insert(changes->end(), 3, width);
}

}  // namespace

size_t EncodeG4(const unsigned char* rows, int width, int height, size_t stride, unsigned char* out, size_t limit)
{
    if (width <= 0 || height <= 0) return 0;
    BitWriter writer(out, limit);
    std::vector<int> reference(3, width), coding;  // above the first row: all white
    coding.reserve(static_cast<size_t>(width) + 3);
    reference.reserve(static_cast<size_t>(width) + 3);
    for (int y = 0; y < height && !writer.full(); ++y) {
        changesOf(rows + static_cast<size_t>(y) * stride, width, &coding);
        // a0 starts before the row, white; changes at even places turn to
        // black, so b1 is at the first place past a0 of the parity that
        // turns away from a0's colour.
        int a0 = -1;
        bool white = true;
        size_t a = 0, b = 0;
        while (a0 < width) {
            while (coding[a] <= a0) ++a;
            while (reference[b] <= a0) ++b;
            const size_t b1At = b + ((b % 2 == 0) != white ? 1 : 0);
            const int a1 = coding[a], b1 = reference[b1At], b2 = reference[b1At + 1];
            if (b2 < a1) {
                writer.put(kPass);
                a0 = b2;
            } else if (a1 - b1 >= -3 && a1 - b1 <= 3) {
                writer.put(kVertical[a1 - b1 + 3]);
                a0 = a1;
                white = !white;
            } else {
                const int a2 = coding[a + 1];
                writer.put(kHorizontal);
                writer.run(a1 - (a0 < 0 ? 0 : a0), white);
                writer.run(a2 - a1, !white);
                a0 = a2;
            }
        }
        reference.swap(coding);
    }
    writer.put(kEndOfLine);
    writer.put(kEndOfLine);
    return writer.finish();
}

}  // namespace pdftopjl
