// SPDX-License-Identifier: Apache-2.0
// The edit decision: which rules fire for which options and PPD, and what
// they leave in the plan, and the intake document as it is opened.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "job/fd.hpp"
#include "pages/document.hpp"
#include "pages/edit_decision.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

struct Outcome {
    int result;  // 1 when the pages are rewritten
    EditPlan info;
};

class Decision : public ::testing::Test {
protected:
    void SetUp() override { UsePpd({}); }

    void UsePpd(const std::vector<std::string>& mainKeywords)
    {
        WriteFile(dir.file("printer.ppd"), MakePpd(mainKeywords));
        ppdPath = dir.file("printer.ppd");
    }

    // The decision for an intake file of `pages` pages.
    Outcome Decide(const std::string& options, int pages = 12, int preFiltered = 0)
    {
        Outcome o{0, EditPlan{}};
        const CupsJob job = testjob::Adapt(options, ppdPath);
        o.result = DecideEdits(job.ticket, job.printer, pages, preFiltered != 0, &o.info);
        return o;
    }

    // Opens the file as the staging does: through a descriptor.
    void OpenIntake(SourceDocument* document, const std::string& path)
    {
        intakeFd.reset(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        OpenSourceDocument(document, intakeFd.get(), path);
    }

    TempDir dir;
    std::string ppdPath;
    job::UniqueFd intakeFd;
};

struct TurnCase {
    const char* name;
    std::vector<std::string> ppd;  // main keyword lines
    const char* options;
    int result;
    int rotation;
};

class Turning : public Decision, public ::testing::WithParamInterface<TurnCase> {};

const char kMinus90[] = "*LandscapeOrientation: Minus90";
const char kPlus90[] = "*LandscapeOrientation: Plus90";

INSTANTIATE_TEST_SUITE_P(
    Rules, Turning,
    ::testing::Values(
        TurnCase{"ReversePortrait", {}, "orientation-requested=6", 1, 180},
        TurnCase{"ReversePortraitAndTurnPage", {}, "orientation-requested=6 ZRTurnPage=true", 1, 360},
        TurnCase{"ThreeRules", {},
                 "orientation-requested=6 ZRInputSlot=BypassTray ZRMSILeadingEdge=ShortEdgeR "
                 "ZRTurnPage=true",
                 1, 540},
        TurnCase{"LandscapeWithMinus90", {kMinus90}, "orientation-requested=4", 1, 180},
        TurnCase{"ReverseLandscapeWithMinus90", {kMinus90}, "orientation-requested=5", 0, 0},
        TurnCase{"LandscapeWithOtherValue", {kPlus90}, "orientation-requested=4", 0, 0},
        TurnCase{"ReverseLandscapeWithOtherValue", {kPlus90}, "orientation-requested=5", 1, 180},
        TurnCase{"LandscapeWithoutAttribute", {}, "orientation-requested=4", 0, 0},
        TurnCase{"ReverseLandscapeWithoutAttribute", {}, "orientation-requested=5", 0, 0},
        // The lookup is exact: a longer keyword is another attribute.
        TurnCase{"OnlyALongerKeyword", {"*LandscapeOrientationX: Minus90"},
                 "orientation-requested=4", 0, 0},
        TurnCase{"PortraitNeverTurns", {kMinus90}, "orientation-requested=3", 0, 0},
        TurnCase{"BypassLongEdgeR", {}, "ZRInputSlot=BypassTray ZRMSILeadingEdge=LongEdgeR", 1, 180},
        TurnCase{"BypassShortEdgeR", {}, "ZRInputSlot=BypassTray ZRMSILeadingEdge=ShortEdgeR", 1,
                 180},
        TurnCase{"BypassPlainEdge", {}, "ZRInputSlot=BypassTray ZRMSILeadingEdge=LongEdge", 0, 0},
        TurnCase{"LeadingEdgeWithoutBypass", {}, "ZRMSILeadingEdge=LongEdgeR", 0, 0},
        TurnCase{"LeadingEdgeOtherTray", {}, "ZRInputSlot=Tray1 ZRMSILeadingEdge=LongEdgeR", 0, 0},
        TurnCase{"TurnPage", {}, "ZRTurnPage=true", 1, 180},
        TurnCase{"TurnPageIsCaseSensitive", {}, "ZRTurnPage=True", 0, 0},
        TurnCase{"UnrelatedOption", {}, "media=A4", 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Turning, AddsHalfTurnsPerRule)
{
    UsePpd(GetParam().ppd);
    Outcome o = Decide(GetParam().options);
    EXPECT_EQ(o.result, GetParam().result);
    EXPECT_EQ(o.info.rotation, GetParam().rotation);
    EXPECT_EQ(o.info.raster, false);
    EXPECT_EQ(o.info.mirror, false);
    EXPECT_EQ(o.info.lastPage, 12);
    EXPECT_EQ(o.info.pageStep, 1);
}

struct CopiesCase {
    const char* name;
    std::string options;
    int pages;
    int holdsCopies;
    int result;
    int lastPage;
    int pageStep;
    bool warns;  // the document does not match the print settings
};

class Copies : public Decision, public ::testing::WithParamInterface<CopiesCase> {};

const std::string kCopies = "com.apple.print.PrintSettings.PMCopies..n.=";
const std::string kSides = " com.apple.print.PrintSettings.PMTotalSidesImaged..n.=";

INSTANTIATE_TEST_SUITE_P(
    Rules, Copies,
    ::testing::Values(
        CopiesCase{"CollatedKeepsFirstCopy", kCopies + "3 Collate=true", 12, 1, 1, 4, 1, false},
        CopiesCase{"UncollatedKeepsEveryThirdPage", kCopies + "3 Collate=false", 12, 1, 1, 12, 3,
                   false},
        CopiesCase{"NoCollateOption", kCopies + "3", 12, 1, 1, 12, 1, false},
        CopiesCase{"NotHoldingCopiesNeverFires", kCopies + "2", 12, 0, 0, 12, 1, false},
        CopiesCase{"OneCopy", kCopies + "1 Collate=false", 12, 1, 0, 12, 1, false},
        CopiesCase{"ZeroCopies", kCopies + "0 Collate=false", 12, 1, 0, 12, 1, false},
        CopiesCase{"CopiesWithoutDigits", kCopies + "abc Collate=false", 12, 1, 0, 12, 1, false},
        CopiesCase{"NoCopiesOption", "Collate=false", 12, 1, 0, 12, 1, false},
        // Four pages, two copies of two: the intended cut.
        CopiesCase{"TotalSidesMatch", kCopies + "2" + kSides + "4 Collate=true", 4, 1, 1, 2, 1,
                   false},
        CopiesCase{"TotalSidesOfOneCopyAlready", kCopies + "2" + kSides + "8 Collate=true", 4, 0,
                   0, 4, 1, false},
        // Two copies of three pages are not four pages: nothing is cut.
        CopiesCase{"TotalSidesDisagree", kCopies + "2" + kSides + "6 Collate=true", 4, 1, 0, 4, 1,
                   true},
        CopiesCase{"TotalSidesDisagreeNotHolding", kCopies + "2" + kSides + "6 Collate=true", 4, 0,
                   0, 4, 1, true},
        CopiesCase{"TotalSidesMatchButNotHolding", kCopies + "2" + kSides + "4 Collate=true", 4, 0,
                   0, 4, 1, true},
        CopiesCase{"TotalSidesZero", kCopies + "2" + kSides + "0 Collate=true", 1, 1, 0, 1, 1, true},
        CopiesCase{"TotalSidesWithoutDigits", kCopies + "2" + kSides + "none", 1, 0, 0, 1, 1, true},
        CopiesCase{"TotalSidesNotAMultipleOfCopies", kCopies + "2" + kSides + "7 Collate=true", 6,
                   1, 0, 6, 1, true},
        CopiesCase{"UnevenDocumentWithoutTotal", kCopies + "3 Collate=true", 7, 1, 0, 7, 1, true},
        // Odd pages of four: two per copy.
        CopiesCase{"OddPagesOfEachCopy", kCopies + "2" + kSides + "8 page-set=odd Collate=true", 4,
                   1, 1, 2, 1, false},
        CopiesCase{"EvenPagesOfEachCopy", kCopies + "2" + kSides + "6 page-set=even Collate=true",
                   2, 1, 1, 1, 1, false},
        // The page set never shrinks the range on its own.
        CopiesCase{"PageSetWithoutCut", kCopies + "3 page-set=odd", 1, 0, 0, 1, 1, false},
        CopiesCase{"PageSetThatDisagrees", kCopies + "2" + kSides + "8 page-set=odd", 3, 1, 0, 3,
                   1, true},
        CopiesCase{"OtherPageSetChangesNothing", kCopies + "2" + kSides + "6 page-set=all", 6, 1,
                   1, 6, 1, false},
        // Pages times copies would pass 32 bits.
        CopiesCase{"HugeCopiesDoNotWrap", kCopies + "2147483647", 12, 1, 0, 12, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Copies, KeepsOneCopysPages)
{
    const CopiesCase& c = GetParam();
    ::testing::internal::CaptureStderr();
    Outcome o = Decide(c.options, c.pages, c.holdsCopies);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.info.lastPage, c.lastPage);
    EXPECT_EQ(o.info.pageStep, c.pageStep);
    EXPECT_EQ(o.info.rotation, 0);
    EXPECT_EQ(err.rfind("WARNING: The document's " + std::to_string(c.pages) +
                            " pages do not match the print settings",
                        0) == 0,
              c.warns)
        << err;
}

TEST_F(Decision, RasterModeOnlyForTrue)
{
    Outcome on = Decide("ZRPDFRasterizedMode=true");
    EXPECT_EQ(on.result, 1);
    EXPECT_EQ(on.info.raster, true);
    EXPECT_EQ(on.info.rotation, 0);
    Outcome off = Decide("ZRPDFRasterizedMode=false");
    EXPECT_EQ(off.result, 0);
    EXPECT_EQ(off.info.raster, false);
}

TEST_F(Decision, NothingIsRewrittenWithoutAPpd)
{
    ppdPath.clear();
    Outcome o = Decide("ZRTurnPage=true");
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.info.rotation, 0);
    ppdPath = dir.file("missing.ppd");
    EXPECT_EQ(Decide("ZRTurnPage=true").result, 0);
}

TEST_F(Decision, OpensAndCountsTheIntakeDocument)
{
    WriteFile(dir.file("doc.pdf"), MakePdf(7));
    SourceDocument document;
    OpenIntake(&document, dir.file("doc.pdf"));
    EXPECT_TRUE(document.damage.empty());
    EXPECT_EQ(document.pages.size(), 7u);
}

TEST_F(Decision, ReconstructedDocumentIsMarkedDamaged)
{
    std::string pdf = MakePdf(2);
    pdf.replace(pdf.rfind("startxref\n") + 10, 1, "9");  // xref offset off
    WriteFile(dir.file("doc.pdf"), pdf);
    SourceDocument document;
    OpenIntake(&document, dir.file("doc.pdf"));
    EXPECT_FALSE(document.damage.empty());
    EXPECT_EQ(document.pages.size(), 2u);
}

TEST_F(Decision, WhatIsNoPdfCannotBeOpened)
{
    WriteFile(dir.file("doc.pdf"), "this is no PDF\n");
    SourceDocument document;
    EXPECT_ANY_THROW(OpenIntake(&document, dir.file("doc.pdf")));
}

}  // namespace
