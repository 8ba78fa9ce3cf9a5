// SPDX-License-Identifier: Apache-2.0
// Group 4 as poppler decodes it: pdfimages of a page holding the encoded
// image gives back every bit, at widths around the run codes' bounds.
#include <gtest/gtest.h>
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <random>
#include <string>
#include <vector>

#include "pages/fax_g4.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

// The bits pdfimages decodes from an image of `encoded` (PBM's 1 is black, a
// sample 0 of DeviceGray), packed as the samples were.
std::string Decoded(const std::string& encoded, int width, int height, const TempDir& dir)
{
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
    image.getDict().replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    image.getDict().replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    image.getDict().replaceKey("/Width", QPDFObjectHandle::newInteger(width));
    image.getDict().replaceKey("/Height", QPDFObjectHandle::newInteger(height));
    image.getDict().replaceKey("/ColorSpace", QPDFObjectHandle::newName("/DeviceGray"));
    image.getDict().replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(1));
    image.replaceStreamData(encoded, QPDFObjectHandle::newName("/CCITTFaxDecode"),
                            QPDFObjectHandle::parse("<< /K -1 /Columns " + std::to_string(width) + " /Rows " +
                                                    std::to_string(height) + " >>"));
    QPDFObjectHandle page = QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 72 72] >>");
    page.replaceKey("/Resources", QPDFObjectHandle::parse("<< >>"));
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::parse("<< >>"));
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im0", image);
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, "q 72 0 0 72 0 0 cm /Im0 Do Q\n"));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(pdf.makeIndirectObject(page)), false);
    // QPDFWriter keeps the name's pointer until it writes.
    const std::string written = dir.file("g4.pdf");
    QPDFWriter writer(pdf, written.c_str());
    writer.write();
    RunOptions extract;
    extract.program = "/usr/bin/pdfimages";
    extract.args = {"pdfimages", dir.file("g4.pdf"), dir.file("image")};
    EXPECT_EQ(RunProgram(extract).exitCode, 0);
    std::string pbm = ReadFile(dir.file("image-000.pbm"));
    std::string bits = pbm.substr(pbm.size() - std::min(pbm.size(), (static_cast<size_t>(width) + 7) / 8 * height));
    for (char& byte : bits) byte = static_cast<char>(~byte);
    if (width % 8 != 0)  // PBM pads with zeros, which turned become ones
        for (size_t at = (width + 7) / 8 - 1; at < bits.size(); at += (width + 7) / 8)
            bits[at] = static_cast<char>(bits[at] & (0xff00 >> (width % 8)));
    return bits;
}

struct Pattern {
    const char* name;
    int width, height;
    int kind;  // 0 white, 1 black, 2 noise, 3 text-like blocks
};

class FaxG4 : public ::testing::TestWithParam<Pattern> {};

INSTANTIATE_TEST_SUITE_P(Images, FaxG4,
                         ::testing::Values(Pattern{"OnePixelWhite", 1, 1, 0}, Pattern{"OnePixelBlack", 1, 1, 1},
                                           Pattern{"OddWidthNoise", 13, 9, 2}, Pattern{"ByteWidthNoise", 64, 20, 2},
                                           Pattern{"LongestRuns", 2625, 3, 1}, Pattern{"BeyondLongestRuns", 5203, 4, 0},
                                           Pattern{"Blocks", 2550, 60, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(FaxG4, DecodesToEveryBit)
{
    const Pattern& p = GetParam();
    const size_t rowBytes = (static_cast<size_t>(p.width) + 7) / 8;
    std::string rows(rowBytes * p.height, '\0');
    std::mt19937 random(7);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const bool white = p.kind == 0   ? true
                               : p.kind == 1 ? false
                               : p.kind == 2 ? random() % 2 == 0
                                             : (x / 7 + y / 5) % 3 != 0 || x % 50 > 40;
            if (white) rows[y * rowBytes + x / 8] |= static_cast<char>(0x80 >> (x % 8));
        }
    std::vector<unsigned char> out(rows.size() * 4 + 64);
    const size_t size = EncodeG4(reinterpret_cast<const unsigned char*>(rows.data()), p.width, p.height, rowBytes,
                                 out.data(), out.size());
    ASSERT_GT(size, 0u);
    TempDir dir;
    EXPECT_EQ(Decoded(std::string(out.begin(), out.begin() + size), p.width, p.height, dir), rows);
    // Beyond its room it says so, and writes no further.
    std::vector<unsigned char> small(size / 2 + 1, 0xa5);
    EXPECT_EQ(EncodeG4(reinterpret_cast<const unsigned char*>(rows.data()), p.width, p.height, rowBytes,
                       small.data(), size / 2),
              0u);
    EXPECT_EQ(small.back(), 0xa5);
}

}  // namespace
