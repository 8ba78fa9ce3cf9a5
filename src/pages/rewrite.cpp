#include "pages/rewrite.hpp"

#include <algorithm>
#include <exception>
#include <string>

#include "job/channel.hpp"
#include "pages/page_writer.hpp"
#include "pages/raster_pages.hpp"
#include "pages/vector_pages.hpp"

namespace pdftopjl {

namespace {

// The checks every emitted page must pass before it is drawn.
bool checkPage(const SourceDocument& source, const EditPlan& plan, int32_t n,
               PageGeometry* geometry)
{
    if (n > static_cast<int64_t>(source.pages.size())) {
        ReportRenderFailure("page %d does not exist", n);
        return false;
    }
    std::string why;
    int width, height;
    if (!ReadPageGeometry(source.pages[n - 1], geometry, &why) ||
        (plan.raster && !RasterPixelSize(geometry->crop, &width, &height, &why))) {
        ReportRenderFailure("page %d: %s", n, why.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::vector<int32_t> EmittedPages(const EditPlan& plan)
{
    std::vector<int32_t> pages;
    const int64_t step = std::max<int64_t>(1, plan.pageStep);
    for (int64_t n = 1; n <= plan.lastPage; n += step) {
        pages.push_back(static_cast<int32_t>(n));
        if (n > plan.pageCount) break;
    }
    return pages;
}

RewriteOutcome RewritePages(SourceDocument* source, const EditPlan& plan, FILE* destination)
{
    constexpr RewriteOutcome kUnfaithful{RewriteStatus::Unfaithful};
    // Without pages of its own to draw, a rewrite would replace the document
    // with an empty one.
    if (source == nullptr) {
        ReportRenderFailure("the document could not be opened");
        return kUnfaithful;
    }
    if (!source->damage.empty()) {
        ReportRenderFailure("the document is damaged (%s)", source->damage.c_str());
        return kUnfaithful;
    }
    const std::vector<int32_t> pages = EmittedPages(plan);
    PageGeometry geometry;
    // Painting is slow: every page it would stumble on is found before the
    // first is painted.
    if (plan.raster)
        for (int32_t n : pages)
            if (!checkPage(*source, plan, n, &geometry)) return kUnfaithful;

    std::unique_ptr<PageWriter> writer = plan.raster ? MakeRasterWriter(*source, plan, destination)
                                                     : MakeVectorWriter(*source, plan, destination);
    const auto failed = [&writer] {
        if (job::Cancelled()) return RewriteOutcome{RewriteStatus::Cancelled};
        if (const int error = writer->writeError(); error != 0)
            return RewriteOutcome{RewriteStatus::WriteFailed, error};
        return kUnfaithful;
    };
    try {
        if (!writer->begin()) return failed();
        size_t done = 0;
        for (int32_t n : pages) {
            if (job::Cancelled()) return failed();
            if (plan.raster)
                job::Logf(job::Severity::Info, "Rendering page %zu of %zu", ++done, pages.size());
            if (!checkPage(*source, plan, n, &geometry) ||
                !writer->addPage(n, source->pages[n - 1], geometry))
                return failed();
        }
        if (job::Cancelled() || !writer->finish()) return failed();
        return RewriteOutcome{};
    } catch (const std::exception& e) {
        ReportRenderFailure("%s", e.what());
        return kUnfaithful;
    }
}

}  // namespace pdftopjl
