// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>

#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

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

// Decides from the ticket (tray, feed edge, orientation, half turn and
// painting requests, queue defaults included) and the printer whether the
// pages of a document of `pageCount` pages must be rewritten: one copy's
// pages of a document that holds every copy, a half turn (reverse
// orientations, a bypass tray fed from the reversed edge, the half-turn
// request), 300 dpi painting.  For a printer nothing describes, nothing is
// rewritten.
bool DecideEdits(const JobTicket& ticket, const PrinterProfile& printer, int32_t pageCount,
                 bool holdsCopies, EditPlan* plan);

}  // namespace pdftopjl
