// Which jobs need the layout pre-filter.
#include <gtest/gtest.h>

#include <string>

#include "driver/staging.hpp"

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
    EXPECT_EQ(NeedsLayoutPreFilter(o.features), c.expected != 0);
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

}  // namespace
