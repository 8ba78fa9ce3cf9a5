#pragma once

#include <cstdint>

#include "settings/job_inputs.hpp"
#include "settings/print_options.hpp"

namespace pdftopjl {

// What the rewrite does to the document: which pages it emits (1, 1 + step,
// ... up to lastPage), how far it turns them, and whether it paints them.
struct EditPlan {
    int32_t pageCount = 0;
    int32_t lastPage = 0;
    int32_t pageStep = 1;
    int32_t rotation = 0;
    bool mirror = false;
    bool raster = false;
};

// Decides from the job's options, its settings (tray, feed edge, half turn
// and print-as-image, queue defaults included) and the PPD whether the pages
// of a document of `pageCount` pages must be rewritten: one copy's pages of a
// document that holds every copy, a half turn (reverse orientations, a bypass
// tray fed from the reversed edge, ZRTurnPage), 300 dpi painting
// (ZRPDFRasterizedMode).  Without a PPD nothing is rewritten.
bool DecideEdits(const JobOptions& options, const FeaturesOption& features, const ppd_file_t* ppd,
                 int32_t pageCount, bool holdsCopies, EditPlan* plan);

}  // namespace pdftopjl
