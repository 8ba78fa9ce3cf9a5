// SPDX-License-Identifier: Apache-2.0
// Page pictures for the page-editing tests: pages painted by poppler at a low
// resolution, turned or flipped, and compared.
#pragma once

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace pagetest {

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgb;  // top row first

    const unsigned char* at(int x, int y) const
    {
        return &rgb[(static_cast<size_t>(y) * width + x) * 3];
    }
};

// Page `index` (from 0) of the PDF at `path` as viewers show it, or an empty
// picture when poppler cannot paint it.
inline Picture Paint(const std::string& path, int index, double dpi = 72)
{
    Picture picture;
    std::unique_ptr<poppler::document> doc(poppler::document::load_from_file(path));
    if (!doc || index >= doc->pages()) return picture;
    std::unique_ptr<poppler::page> page(doc->create_page(index));
    poppler::page_renderer renderer;
    renderer.set_image_format(poppler::image::format_rgb24);
    poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid()) return picture;
    picture.width = image.width();
    picture.height = image.height();
    for (int y = 0; y < picture.height; ++y) {
        const char* row = image.const_data() + static_cast<size_t>(y) * image.bytes_per_row();
        picture.rgb.insert(picture.rgb.end(), row, row + picture.width * 3);
    }
    return picture;
}

inline Picture Flip(const Picture& p, bool horizontal, bool vertical)
{
    Picture out = p;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            const unsigned char* from =
                p.at(horizontal ? p.width - 1 - x : x, vertical ? p.height - 1 - y : y);
            unsigned char* to = &out.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
            to[0] = from[0], to[1] = from[1], to[2] = from[2];
        }
    return out;
}

inline Picture HalfTurn(const Picture& p) { return Flip(p, true, true); }
inline Picture Mirror(const Picture& p) { return Flip(p, true, false); }

// Share of pixels that differ clearly (by more than a quarter of the range in
// any component); 1 when the sizes differ.  Edges rounded differently keep
// pictures of the same page drawn two ways from matching exactly.
inline double Mismatch(const Picture& a, const Picture& b)
{
    if (a.width != b.width || a.height != b.height || a.rgb.empty()) return 1;
    size_t differing = 0;
    for (size_t i = 0; i < a.rgb.size(); i += 3)
        for (int c = 0; c < 3; ++c)
            if (std::abs(int(a.rgb[i + c]) - int(b.rgb[i + c])) > 64) {
                ++differing;
                break;
            }
    return static_cast<double>(differing) / (a.rgb.size() / 3);
}

// Share of pixels that are not white.
inline double Ink(const Picture& p)
{
    size_t inked = 0;
    for (size_t i = 0; i < p.rgb.size(); i += 3)
        if (p.rgb[i] < 192 || p.rgb[i + 1] < 192 || p.rgb[i + 2] < 192) ++inked;
    return p.rgb.empty() ? 0 : static_cast<double>(inked) / (p.rgb.size() / 3);
}

}  // namespace pagetest
