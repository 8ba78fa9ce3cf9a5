// SPDX-License-Identifier: Apache-2.0
// Which jobs need the layout pre-filter, from what the job asks through the
// CUPS adapter.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "cups/ticket_keys.hpp"
#include "core/staging.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace pdftopjl;

namespace {

// The print dialog's own layout tickets and the standard CUPS layout
// options; neutral values ask for nothing.
TEST(PreFilterDecision, Decides)
{
    const std::string scaling = kScalingTicketKey, mapping = kPageToPaperMappingTicketKey;
    const std::string rows = kLayoutRowCountTicketKey, columns = kLayoutColumnCountTicketKey;
    const std::pair<std::string, bool> cases[] = {
        {"", false},
        {scaling + "=1 " + mapping + "=1 OutputOrder=Normal", false},
        // cupsd sends number-up=1 with every job; it asks for no layout.
        {"number-up=1", false},
        {"number-up=2", true},
        {rows + "=2 " + columns + "=1", true},
        {rows + "=1 " + columns + "=1", false},
        {scaling + "=0.5", true},
        {"page-border=none", true},
        {"OutputOrder=Reverse", true},
        {"OutputOrder=normal", true},
        {mapping + "=2", true},
        {"page-set=all", true},
        {"mirror=false", true},
        {"page-ranges=2-3", true},
        {"landscape", true},
        {"orientation-requested=4", true},
        {"orientation-requested=3", false},
        {"fit-to-page", true},
        {"fitplot=true", true},
        {"print-scaling=fill", true},
        {"print-scaling=auto", false},
        {"scaling=50", true},
        {"scaling=100", false},
        {"natural-scaling=100", false},
        {"position=top", true},
        {"position=center", false},
        {"page-left=36", true},
        {"number-up-layout=btlr", true},
        {"number-up-layout=lrtb", false},
        {"media=A4 sides=one-sided", false}};
    for (const auto& [options, expected] : cases)
        EXPECT_EQ(NeedsLayoutPreFilter(testjob::Adapt(options, "").ticket.layout), expected) << options;
}

// A PPD that takes only laid-out PDF had pdftopdf run before the filter.
TEST(PreFilterDecision, LayoutAlreadyDoneByTheCupsChain)
{
    testsupport::TempDir dir;
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"*cupsFilter: \"application/vnd.cups-pdf 0 pdftopjl\""}, true},
        {{"*cupsFilter: \"application/pdf 0 pdftopjl\"",
          "*cupsFilter: \"application/vnd.cups-pdf 0 pdftopjl\""}, false},
        {{"*cupsFilter: \"application/pdf 0 pdftopjl\""}, false},
        {{}, false}};
    for (const auto& [lines, expected] : cases) {
        testsupport::WriteFile(dir.file("p.ppd"), testsupport::MakePpd(lines));
        EXPECT_EQ(testjob::Adapt("", dir.file("p.ppd")).printer.laidOutBefore, expected) << lines.size();
    }
}

}  // namespace
