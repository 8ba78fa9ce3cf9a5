// Duplexing for jobs that do not carry the print dialog's duplexing ticket.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace testsupport;

namespace {

struct DuplexCase {
    const char* name;
    std::string options;
    const char* ppdDefault;  // nullptr: the PPD has no Duplex option
    int expected;
};

class DuplexStandIn : public ::testing::TestWithParam<DuplexCase> {
protected:
    TempDir tmp;
};

TEST_P(DuplexStandIn, ReachesTheRecord)
{
    const DuplexCase& c = GetParam();
    std::vector<PpdOption> options;
    if (c.ppdDefault != nullptr) {
        options.push_back({"Duplex", {c.ppdDefault}});
        for (const char* choice : {"None", "DuplexNoTumble", "DuplexTumble"})
            if (std::string(choice) != c.ppdDefault) options.back().choices.push_back(choice);
    }
    WriteFile(tmp.file("p.ppd"), MakePpd({}, options));
    EXPECT_EQ(testjob::Settings(c.options, tmp.file("p.ppd")).features.duplexing, c.expected);
}

const std::string kTicket = "com.apple.print.PrintSettings.PMDuplexing..n.=";

INSTANTIATE_TEST_SUITE_P(
    Sources, DuplexStandIn,
    ::testing::Values(
        DuplexCase{"TicketWins", kTicket + "3 sides=one-sided Duplex=None", "None", 3},
        DuplexCase{"TicketZeroKept", kTicket + "0 sides=one-sided", "None", 0},
        DuplexCase{"SidesOneSided", "sides=one-sided", "DuplexTumble", 1},
        DuplexCase{"SidesLongEdge", "sides=two-sided-long-edge", nullptr, 2},
        DuplexCase{"SidesShortEdge", "sides=two-sided-short-edge Duplex=None", "None", 3},
        DuplexCase{"DuplexOption", "Duplex=DuplexNoTumble", "None", 2},
        DuplexCase{"DuplexTumble", "Duplex=DuplexTumble", nullptr, 3},
        DuplexCase{"UnknownSidesFallsThrough", "sides=both Duplex=None", nullptr, 1},
        DuplexCase{"PpdDefaultNone", "media=A4", "None", 1},
        DuplexCase{"PpdDefaultLongEdge", "", "DuplexNoTumble", 2},
        DuplexCase{"NothingAnywhere", "media=A4", nullptr, -1},
        DuplexCase{"CaseMatters", "sides=One-Sided Duplex=none", nullptr, -1}),
    [](const ::testing::TestParamInfo<DuplexCase>& info) { return std::string(info.param.name); });

}  // namespace
