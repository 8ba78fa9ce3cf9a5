// SPDX-License-Identifier: Apache-2.0
#include "pages/edit_decision.hpp"

#include <string>

#include "job/log.hpp"
#include "job/text.hpp"

namespace pdftopjl {

namespace {

int32_t toInt32(int64_t v)
{
    return static_cast<int32_t>(v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : v));
}

void addHalfTurn(EditPlan* plan)
{
    // Only three rules add to it, so it never nears the limit; hold it anyway.
    if (plan->rotation <= INT32_MAX - 180) plan->rotation += 180;
}

// The pages of one copy after the page-set rule: the odd or the even ones.
int64_t afterPageSet(int64_t pages, const std::string& pageSet)
{
    if (pageSet == "odd") return pages / 2 + pages % 2;
    if (pageSet == "even") return pages / 2;
    return pages;
}

// The intake file may hold every copy (the pre-filter writes them out); keep
// the pages of one copy and let the printer make the copies.  Pages are cut
// only when the document is exactly that many copies of what the tickets
// say one copy is; a document that is not goes out whole, with a warning,
// never with fewer pages than one copy or none at all.
bool checkNumPages(EditPlan* plan, const JobTicket& ticket, bool holdsCopies)
{
    if (!ticket.dialogCopies) return false;
    const int64_t copies = *ticket.dialogCopies;
    if (copies < 2) return false;

    // 64-bit: pages times copies must not wrap.
    const int64_t pages = plan->pageCount;
    const std::optional<int32_t>& sides = ticket.dialogTotalSides;
    // Without the total, only a document that holds the copies is taken to be
    // copies of equal length.
    if (!sides && !holdsCopies) return false;
    const int64_t totalSides = sides ? *sides : -1;
    int64_t perCopy = 0;
    if (sides) {
        if (totalSides > 0 && totalSides % copies == 0)
            perCopy = afterPageSet(totalSides / copies, ticket.layout.pageSet);
    } else if (pages % copies == 0) {
        perCopy = pages / copies;
    }

    if (perCopy > 0 && pages == perCopy) return false;  // one copy already
    if (perCopy <= 0 || !holdsCopies || pages != perCopy * copies) {
        const std::string total =
            sides ? std::to_string(totalSides) + " sides in all" : "no total of sides";
        job::Logf(job::Severity::Warning,
                  "The document's %lld pages do not match the print settings (%lld copies, %s); "
                  "no pages are left out",
                  static_cast<long long>(pages), static_cast<long long>(copies), total.c_str());
        return false;
    }

    if (ticket.collation == Collation::Unset) return true;
    if (ticket.collation == Collation::Collated) {
        plan->lastPage = toInt32(perCopy);
        plan->pageStep = 1;
    } else {
        plan->lastPage = toInt32(pages);
        plan->pageStep = toInt32(copies);
    }
    return true;
}

// A reversed orientation: the printer turns landscape pages one way, so the
// other landscape comes out upside down unless the pages are turned.
bool checkPageOrientation(EditPlan* plan, const JobTicket& ticket, const PrinterProfile& printer)
{
    const Orientation orientation = ticket.layout.orientation;
    if (orientation == Orientation::ReversePortrait) {
        addHalfTurn(plan);
        return true;
    }
    if (printer.landscape == LandscapeDirection::Unknown) return false;
    const Orientation turning = printer.landscape == LandscapeDirection::Minus90
                                    ? Orientation::Landscape
                                    : Orientation::ReverseLandscape;
    if (orientation != turning) return false;
    addHalfTurn(plan);
    return true;
}

bool checkBypassFeedEdge(EditPlan* plan, const JobTicket& ticket)
{
    const FeedEdge edge = ticket.bypassFeedEdge;
    if (ticket.tray != Tray::Bypass || !(edge == FeedEdge::LongTurned || edge == FeedEdge::ShortTurned))
        return false;
    addHalfTurn(plan);
    return true;
}

bool checkHalfTurn(EditPlan* plan, const JobTicket& ticket)
{
    if (!ticket.halfTurn) return false;
    addHalfTurn(plan);
    return true;
}

bool checkRaster(EditPlan* plan, const JobTicket& ticket)
{
    if (!ticket.raster) return false;
    plan->raster = true;
    return true;
}

}  // namespace

bool DecideEdits(const JobTicket& ticket, const PrinterProfile& printer, int32_t pageCount,
                 bool holdsCopies, EditPlan* plan)
{
    *plan = EditPlan{};
    plan->pageCount = pageCount;
    plan->lastPage = pageCount;
    if (!printer.described) return false;

    // Every rule runs, whatever the others said.
    bool fired = false;
    fired |= checkNumPages(plan, ticket, holdsCopies);
    fired |= checkPageOrientation(plan, ticket, printer);
    fired |= checkBypassFeedEdge(plan, ticket);
    fired |= checkHalfTurn(plan, ticket);
    fired |= checkRaster(plan, ticket);
    return fired;
}

}  // namespace pdftopjl
