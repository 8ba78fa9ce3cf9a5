#include "pages/edit_decision.hpp"

#include <cstring>
#include <string>

#include "job/channel.hpp"
#include "job/text.hpp"

namespace pdftopjl {

namespace {

constexpr char kCopiesOption[] = "com.apple.print.PrintSettings.PMCopies..n.";
constexpr char kTotalSidesOption[] = "com.apple.print.PrintSettings.PMTotalSidesImaged..n.";
constexpr char kPageSetOption[] = "page-set";
constexpr char kCollateOption[] = "Collate";
constexpr char kOrientationOption[] = "orientation-requested";
constexpr char kLandscapeOrientationKey[] = "LandscapeOrientation";

bool equals(const char* value, const char* expected)
{
    return value != nullptr && std::strcmp(value, expected) == 0;
}

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
int64_t afterPageSet(int64_t pages, const char* pageSet)
{
    if (equals(pageSet, "odd")) return pages / 2 + pages % 2;
    if (equals(pageSet, "even")) return pages / 2;
    return pages;
}

// The intake file may hold every copy (the pre-filter writes them out); keep
// the pages of one copy and let the printer make the copies.  Pages are cut
// only when the document is exactly that many copies of what the tickets
// say one copy is; a document that is not goes out whole, with a warning,
// never with fewer pages than one copy or none at all.
bool checkNumPages(EditPlan* plan, const JobOptions& options, bool holdsCopies)
{
    const char* copiesText = options.get(kCopiesOption);
    if (copiesText == nullptr) return false;
    const int64_t copies = ParseDecimalInt32(copiesText);
    if (copies < 2) return false;

    // 64-bit: pages times copies must not wrap.
    const int64_t pages = plan->pageCount;
    const char* sides = options.get(kTotalSidesOption);
    // Without the total, only a document that holds the copies is taken to be
    // copies of equal length.
    if (sides == nullptr && !holdsCopies) return false;
    const int64_t totalSides = sides != nullptr ? ParseDecimalInt32(sides) : -1;
    int64_t perCopy = 0;
    if (sides != nullptr) {
        if (totalSides > 0 && totalSides % copies == 0)
            perCopy = afterPageSet(totalSides / copies, options.get(kPageSetOption));
    } else if (pages % copies == 0) {
        perCopy = pages / copies;
    }

    if (perCopy > 0 && pages == perCopy) return false;  // one copy already
    if (perCopy <= 0 || !holdsCopies || pages != perCopy * copies) {
        const std::string total =
            sides != nullptr ? std::to_string(totalSides) + " sides in all" : "no total of sides";
        job::Logf(job::Severity::Warning,
                  "The document's %lld pages do not match the print settings (%lld copies, %s); "
                  "no pages are left out",
                  static_cast<long long>(pages), static_cast<long long>(copies), total.c_str());
        return false;
    }

    const char* collate = options.get(kCollateOption);
    if (collate == nullptr) return true;
    if (equals(collate, "true")) {
        plan->lastPage = toInt32(perCopy);
        plan->pageStep = 1;
    } else {
        plan->lastPage = toInt32(pages);
        plan->pageStep = toInt32(copies);
    }
    return true;
}

bool checkPageOrientation(EditPlan* plan, const JobOptions& options, const ppd_file_t* ppd)
{
    const char* orientation = options.get(kOrientationOption);
    if (orientation == nullptr) return false;
    if (equals(orientation, "6")) {
        addHalfTurn(plan);
        return true;
    }
    ppd_attr_t* attr = ppd != nullptr ? ppdFindAttr(const_cast<ppd_file_t*>(ppd), kLandscapeOrientationKey, nullptr) : nullptr;
    if (attr == nullptr) return false;
    // An attribute without a value counts as any value other than "Minus90".
    const char* turning = equals(attr->value, "Minus90") ? "4" : "5";
    if (!equals(orientation, turning)) return false;
    addHalfTurn(plan);
    return true;
}

bool checkMSIOrientation(EditPlan* plan, const FeaturesOption& features)
{
    const auto& edge = features.msiLeadingEdge;
    if (!(features.inputSlot == "BypassTray") || !(edge == "LongEdgeR" || edge == "ShortEdgeR"))
        return false;
    addHalfTurn(plan);
    return true;
}

bool checkTurnPage(EditPlan* plan, const FeaturesOption& features)
{
    if (!(features.turnPage == "true")) return false;
    addHalfTurn(plan);
    return true;
}

bool checkRasterMode(EditPlan* plan, const FeaturesOption& features)
{
    if (!(features.pdfRasterizedMode == "true")) return false;
    plan->raster = true;
    return true;
}

}  // namespace

bool DecideEdits(const JobOptions& options, const FeaturesOption& features, const ppd_file_t* ppd,
                 int32_t pageCount, bool holdsCopies, EditPlan* plan)
{
    *plan = EditPlan{};
    plan->pageCount = pageCount;
    plan->lastPage = pageCount;
    if (ppd == nullptr) return false;

    // Every rule runs, whatever the others said.
    bool fired = false;
    fired |= checkNumPages(plan, options, holdsCopies);
    fired |= checkPageOrientation(plan, options, ppd);
    fired |= checkMSIOrientation(plan, features);
    fired |= checkTurnPage(plan, features);
    fired |= checkRasterMode(plan, features);
    return fired;
}

}  // namespace pdftopjl
