#include "pages/edit_decision.hpp"

#include <cstring>

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

// The intake file may hold every copy (the pre-filter writes them out); keep
// the pages of one copy and let the printer make the copies.
bool checkNumPages(EditPlan* plan, const JobOptions& options, bool preFiltered)
{
    const char* copiesText = options.get(kCopiesOption);
    if (copiesText == nullptr) return false;
    const int64_t copies = ParseDecimalInt32(copiesText);
    if (copies < 2) return false;

    // 64-bit: pages times copies must not wrap.
    const int64_t pages = plan->pageCount;
    int64_t totalSides;
    if (const char* sides = options.get(kTotalSidesOption))
        totalSides = ParseDecimalInt32(sides);
    else
        totalSides = preFiltered ? pages / copies : pages * copies;

    const char* pageSet = options.get(kPageSetOption);
    if (equals(pageSet, "odd"))
        plan->lastPage = toInt32(totalSides / 2 + totalSides % 2);
    else if (equals(pageSet, "even"))
        plan->lastPage = toInt32(totalSides / 2);

    if (pages <= totalSides / copies) return false;

    const char* collate = options.get(kCollateOption);
    if (collate == nullptr) return true;
    if (equals(collate, "true")) {
        plan->lastPage = toInt32(pages / copies);
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
