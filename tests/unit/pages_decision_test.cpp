// The edit decision: which rules fire for which options and PPD, and what
// they leave in the document record.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "pages/pdf_doc_info.hpp"
#include "pages/source_document.hpp"
#include "support/fixtures.hpp"

using namespace testsupport;

namespace {

struct Outcome {
    int result;
    PdfDocInfo info;
};

class Decision : public ::testing::Test {
protected:
    void SetUp() override { UsePpd({}); }
    void TearDown() override { unsetenv("PPD"); }

    void UsePpd(const std::vector<std::string>& mainKeywords)
    {
        WriteFile(dir.file("printer.ppd"), MakePpd(mainKeywords));
        setenv("PPD", dir.file("printer.ppd").c_str(), 1);
    }

    // The decision for an intake file of `pages` pages.
    Outcome Decide(const std::string& options, int pages = 12, int preFiltered = 0)
    {
        Outcome o{0, PdfDocInfo{}};
        pdfDocInfo_init("", &o.info);
        o.info.pageCount = o.info.lastPage = pages;
        std::string opts = options;
        std::vector<char*> argv = {const_cast<char*>("pdftopjl"), const_cast<char*>("1"),
                                   const_cast<char*>("u"),        const_cast<char*>("t"),
                                   const_cast<char*>("1"),        opts.data(),
                                   nullptr};
        o.result = CheckIfNeedEdit(argv.data(), &o.info, preFiltered);
        return o;
    }

    TempDir dir;
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
    EXPECT_EQ(o.info.rasterMode, 0);
    EXPECT_EQ(o.info.mirror, 0);
    EXPECT_EQ(o.info.lastPage, 12);
    EXPECT_EQ(o.info.pageStep, 1);
}

struct CopiesCase {
    const char* name;
    std::string options;
    int pages;
    int preFiltered;
    int result;
    int lastPage;
    int pageStep;
};

class Copies : public Decision, public ::testing::WithParamInterface<CopiesCase> {};

const std::string kCopies = "com.apple.print.PrintSettings.PMCopies..n.=";
const std::string kSides = " com.apple.print.PrintSettings.PMTotalSidesImaged..n.=";

INSTANTIATE_TEST_SUITE_P(
    Rules, Copies,
    ::testing::Values(
        CopiesCase{"CollatedKeepsFirstCopy", kCopies + "3 Collate=true", 12, 1, 1, 4, 1},
        CopiesCase{"UncollatedKeepsEveryThirdPage", kCopies + "3 Collate=false", 12, 1, 1, 12, 3},
        CopiesCase{"NoCollateOption", kCopies + "3", 12, 1, 1, 12, 1},
        CopiesCase{"NotPreFilteredNeverFires", kCopies + "2", 12, 0, 0, 12, 1},
        CopiesCase{"OneCopy", kCopies + "1 Collate=false", 12, 1, 0, 12, 1},
        CopiesCase{"ZeroCopies", kCopies + "0 Collate=false", 12, 1, 0, 12, 1},
        CopiesCase{"CopiesWithoutDigits", kCopies + "abc Collate=false", 12, 1, 0, 12, 1},
        CopiesCase{"NoCopiesOption", "Collate=false", 12, 1, 0, 12, 1},
        // T = 7 from the total-sides option; 3 pages fit one copy of 7 / 2.
        CopiesCase{"OddPagesOfSeven", kCopies + "2" + kSides + "7 page-set=odd", 3, 1, 0, 4, 1},
        CopiesCase{"EvenPagesOfSeven", kCopies + "2" + kSides + "7 page-set=even", 3, 1, 0, 3, 1},
        CopiesCase{"PageSetStaysWithoutCollate", kCopies + "2" + kSides + "7 page-set=odd", 12, 1,
                   1, 4, 1},
        CopiesCase{"CollateOverridesPageSet",
                   kCopies + "2" + kSides + "7 page-set=even Collate=true", 12, 1, 1, 6, 1},
        CopiesCase{"OtherPageSetChangesNothing", kCopies + "2" + kSides + "7 page-set=all", 3, 1,
                   0, 3, 1},
        CopiesCase{"TotalSidesWithoutDigits", kCopies + "2" + kSides + "none", 1, 0, 1, 1, 1},
        // Pages times copies would pass 32 bits.
        CopiesCase{"HugeCopiesDoNotWrap", kCopies + "2147483647", 12, 0, 0, 12, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_P(Copies, KeepsOneCopysPages)
{
    const CopiesCase& c = GetParam();
    Outcome o = Decide(c.options, c.pages, c.preFiltered);
    EXPECT_EQ(o.result, c.result);
    EXPECT_EQ(o.info.lastPage, c.lastPage);
    EXPECT_EQ(o.info.pageStep, c.pageStep);
    EXPECT_EQ(o.info.rotation, 0);
}

TEST_F(Decision, RasterModeOnlyForTrue)
{
    Outcome on = Decide("ZRPDFRasterizedMode=true");
    EXPECT_EQ(on.result, 1);
    EXPECT_EQ(on.info.rasterMode, 1);
    EXPECT_EQ(on.info.rotation, 0);
    Outcome off = Decide("ZRPDFRasterizedMode=false");
    EXPECT_EQ(off.result, 0);
    EXPECT_EQ(off.info.rasterMode, 0);
}

TEST_F(Decision, NoDecisionWithoutOptionsOrPpd)
{
    EXPECT_EQ(Decide("").result, -1);
    EXPECT_EQ(Decide("   ").result, -1);
    unsetenv("PPD");
    Outcome o = Decide("ZRTurnPage=true");
    EXPECT_EQ(o.result, -1);
    EXPECT_EQ(o.info.rotation, 0);
    setenv("PPD", dir.file("missing.ppd").c_str(), 1);
    EXPECT_EQ(Decide("ZRTurnPage=true").result, -1);
}

TEST_F(Decision, OpensAndCountsTheIntakeDocument)
{
    WriteFile(dir.file("doc.pdf"), MakePdf(7));
    PdfDocInfo info{};
    info.rotation = 99;
    ASSERT_EQ(pdfDocInfo_init(dir.file("doc.pdf").c_str(), &info), 0);
    ASSERT_TRUE(info.document);
    EXPECT_TRUE(info.document->damage.empty());
    EXPECT_STREQ(info.optionPrefix, "ZR");
    EXPECT_EQ(info.pageCount, 7);
    EXPECT_EQ(info.lastPage, 7);
    EXPECT_EQ(info.pageStep, 1);
    EXPECT_EQ(info.rotation, 0);

    PdfDocInfo none{};
    EXPECT_EQ(pdfDocInfo_init("", &none), 0);
    EXPECT_FALSE(none.document);
    EXPECT_STREQ(none.optionPrefix, "ZR");
    EXPECT_EQ(none.pageCount, 0);
}

TEST_F(Decision, ReconstructedDocumentIsMarkedDamaged)
{
    std::string pdf = MakePdf(2);
    pdf.replace(pdf.rfind("startxref\n") + 10, 1, "9");  // xref offset off
    WriteFile(dir.file("doc.pdf"), pdf);
    PdfDocInfo info{};
    ASSERT_EQ(pdfDocInfo_init(dir.file("doc.pdf").c_str(), &info), 0);
    ASSERT_TRUE(info.document);
    EXPECT_FALSE(info.document->damage.empty());
    EXPECT_EQ(info.pageCount, 2);
}

TEST_F(Decision, FailedOpenLeavesBareOptionNames)
{
    WriteFile(dir.file("doc.pdf"), "this is no PDF\n");
    PdfDocInfo info{};
    testing::internal::CaptureStderr();
    EXPECT_EQ(pdfDocInfo_init(dir.file("doc.pdf").c_str(), &info), -1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("CGPDFDocumentCreateWithURL error\n", 0), 0u) << err;
    EXPECT_FALSE(info.document);
    EXPECT_EQ(info.pageCount, 0);
    EXPECT_STREQ(info.optionPrefix, "");

    std::string bare = "TurnPage=true InputSlot=BypassTray MSILeadingEdge=LongEdgeR";
    std::string prefixed = "ZRTurnPage=true ZRPDFRasterizedMode=true";
    std::vector<char*> argv = {nullptr, nullptr, nullptr, nullptr, nullptr, bare.data(), nullptr};
    EXPECT_EQ(CheckIfNeedEdit(argv.data(), &info, 0), 1);
    EXPECT_EQ(info.rotation, 360);
    argv[5] = prefixed.data();
    EXPECT_EQ(CheckIfNeedEdit(argv.data(), &info, 0), 0);
    EXPECT_EQ(info.rasterMode, 0);
}

}  // namespace
