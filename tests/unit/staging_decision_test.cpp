// Which jobs need the layout pre-filter.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "driver/staging.hpp"
#include "support/fixtures.hpp"

using namespace pdftopjl;

namespace {

struct LayoutCase {
    const char* name;
    const char* scaling;
    const char* numberUp;
    const char* pageBorder;
    const char* outputOrder;
    const char* mapping;
    const char* pageSet;
    const char* mirror;
    int expected;
};

class PreFilterDecision : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(PreFilterDecision, Decides)
{
    const LayoutCase& c = GetParam();
    PrintOptions o{};
    o.features.scaling.set(c.scaling);
    o.features.numberUp.set(c.numberUp);
    o.features.pageBorder.set(c.pageBorder);
    o.features.outputOrder.set(c.outputOrder);
    o.features.pageToPaperMapping.set(c.mapping);
    o.features.pageSet.set(c.pageSet);
    o.features.mirror.set(c.mirror);
    EXPECT_EQ(NeedsLayoutPreFilter(o.features, JobOptions("")), c.expected != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, PreFilterDecision,
    ::testing::Values(
        LayoutCase{"AllEmpty", "", "", "", "", "", "", "", 0},
        LayoutCase{"NeutralValues", "1", "1", "", "Normal", "1", "", "", 0},
        // cupsd sends number-up=1 with every job; it asks for no layout.
        LayoutCase{"ExplicitOneUp", "", "N1", "", "", "", "", "", 0},
        LayoutCase{"TwoUp", "", "N2", "", "", "", "", "", 1},
        LayoutCase{"Scaling", "0.5", "1", "", "", "", "", "", 1},
        LayoutCase{"AnyBorder", "", "", "none", "", "", "", "", 1},
        LayoutCase{"ReverseOrder", "", "", "", "Reverse", "", "", "", 1},
        LayoutCase{"OrderCaseMatters", "", "", "", "normal", "", "", "", 1},
        LayoutCase{"Mapping", "", "", "", "", "2", "", "", 1},
        LayoutCase{"AnyPageSet", "", "", "", "", "", "all", "", 1},
        LayoutCase{"AnyMirror", "", "", "", "", "", "", "false", 1}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return std::string(info.param.name); });

// The standard CUPS layout options, neutral values asking for nothing.
TEST(PreFilterDecision, StandardLayoutOptions)
{
    const std::pair<const char*, bool> cases[] = {
        {"page-ranges=2-3", true},        {"landscape", true},
        {"orientation-requested=4", true}, {"orientation-requested=3", false},
        {"fit-to-page", true},            {"print-scaling=fill", true},
        {"print-scaling=auto", false},    {"scaling=50", true},
        {"scaling=100", false},           {"natural-scaling=100", false},
        {"position=top", true},           {"position=center", false},
        {"page-left=36", true},           {"number-up-layout=btlr", true},
        {"number-up-layout=lrtb", false}, {"media=A4 sides=one-sided", false}};
    const PrintOptions none{};
    for (const auto& [options, expected] : cases)
        EXPECT_EQ(NeedsLayoutPreFilter(none.features, JobOptions(options)), expected) << options;
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
        PpdHandle ppd = OpenPpd(dir.file("p.ppd").c_str());
        EXPECT_EQ(LaidOutByCups(ppd.get()), expected) << lines.size();
    }
}

}  // namespace
