// SPDX-License-Identifier: Apache-2.0
// The job header from a typed ticket and the printer's profile: one row per
// line (or group of lines) a printer acts on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pjl/header.hpp"
#include "unit/job_fixture.hpp"

using namespace pdftopjl;

namespace {

using Lines = std::vector<std::string>;
using Setup = std::function<void(JobTicket&, PrinterProfile&)>;

// The document block's lines (DNAME up to NLPP) for the ticket.
Lines DocumentBlock(const Setup& setup)
{
    JobTicket ticket;
    ticket.user = "alice";
    ticket.title = "Report";
    PrinterProfile printer;
    printer.described = true;
    if (setup) setup(ticket, printer);
    const HeaderTexts texts = EncodeHeaderTexts(ticket, printer);
    const HostIdentity host;
    const Lines all = testjob::Lines(testjob::Captured([&](PjlWriter& out) {
        WriteJobHeader(HeaderInputs{ticket, printer, texts, host, 0, 1}, out);
    }));
    Lines block;
    bool in = false;
    for (const std::string& line : all) {
        in = in || line.rfind("@PJL COMMENT DNAME=", 0) == 0;
        if (in) block.push_back(line);
        if (line.rfind("@PJL SET JOBATTR=\"@NLPP=", 0) == 0) break;
    }
    return block;
}

// The lines of the block that set one of `names`.
Lines Only(const Lines& lines, const std::vector<std::string>& names)
{
    Lines kept;
    for (const auto& line : lines)
        for (const auto& name : names)
            if (line.rfind("@PJL SET " + name + "=", 0) == 0 ||
                line.rfind("@PJL SET JOBATTR=\"@" + name + "=", 0) == 0) {
                kept.push_back(line);
                break;
            }
    return kept;
}

std::string Attr(const std::string& name, const std::string& value)
{
    return "@PJL SET JOBATTR=\"@" + name + "=" + value + "\"";
}

TEST(JobHeader, ExampleJobMatchesTheReferenceHeader)
{
    const Lines lines = DocumentBlock([](JobTicket& t, PrinterProfile&) {
        t.quality = Quality::Standard;
        t.colour = ColourMode::Colour;
        t.trapping = Trapping::On;
        t.tray = Tray::Auto;
        t.paper = Paper::A4;
        t.mediaType = MediaType::Default;
        t.sides = Sides::OneSided;
    });
    const Lines expected = {
        "@PJL COMMENT DNAME=Report",    "@PJL SET COPIES=1",
        Attr("FSTP", "0"),              Attr("LSTP", "0"),
        "@PJL SET OUTBIN=MAINTRAY",     Attr("LOUT", "NOSCALING"),
        Attr("DIPQ", "STANDARD"),       "@PJL SET RENDERMODE=AUTOCOLOR",
        Attr("TRAP", "ON"),             "@PJL SET AUTOSELECT=ON",
        "@PJL SET PAPER=A4",            "@PJL SET MEDIATYPE=NORMAL",
        "@PJL SET DUPLEX=OFF",          "@PJL SET TIMEOUT=0",
        Attr("NLPP", "1"),
    };
    EXPECT_EQ(lines, expected);
}

struct LineCase {
    const char* name;
    Setup setup;
    std::vector<std::string> names;  // the lines looked at
    Lines expected;
};

class Line : public ::testing::TestWithParam<LineCase> {};

TEST_P(Line, IsWrittenAsThePrinterTakesIt)
{
    EXPECT_EQ(Only(DocumentBlock(GetParam().setup), GetParam().names), GetParam().expected);
}

const std::vector<std::string> kRendering = {"DIPQ", "RENDERMODE", "COLLATE"};
const std::vector<std::string> kHold = {"HOLD", "HOLDTYPE", "HOLDENCRYPTKEY", "USERNAME", "JOBNAME"};
const std::vector<std::string> kSource = {"AUTOSELECT", "MEDIASOURCE", "PAPERDIRECTION"};
const std::vector<std::string> kFinishing = {"FINISH", "PUNCH", "STAPLE"};

INSTANTIATE_TEST_SUITE_P(
    Rows, Line,
    ::testing::Values(
        LineCase{"QualityWithColour",
                 [](JobTicket& t, PrinterProfile&) {
                     t.quality = Quality::High;
                     t.colour = ColourMode::Black;
                     t.collation = Collation::Uncollated;
                 },
                 kRendering,
                 {Attr("DIPQ", "QUALITY2"), "@PJL SET COLLATE=OFF", "@PJL SET RENDERMODE=GRAYSCALE"}},
        // Without a colour mode the quality implies greyscale, before the collation.
        LineCase{"QualityAloneIsGreyscale",
                 [](JobTicket& t, PrinterProfile&) {
                     t.quality = Quality::Speed;
                     t.collation = Collation::Collated;
                 },
                 kRendering,
                 {Attr("DIPQ", "SPEED"), "@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET COLLATE=COLLATENORMAL"}},
        LineCase{"UnknownQualityWithColourSaysOnlyTheColour",
                 [](JobTicket& t, PrinterProfile&) {
                     t.quality = Quality::Other;
                     t.colour = ColourMode::Colour;
                 },
                 kRendering, {"@PJL SET RENDERMODE=AUTOCOLOR"}},
        LineCase{"CollatedCopiesAreAQuantity",
                 [](JobTicket& t, PrinterProfile&) {
                     t.copies = 3;
                     t.collation = Collation::Collated;
                 },
                 {"QTY", "COPIES"}, {"@PJL SET QTY=3"}},
        LineCase{"StoredWithPasscodeUserAndGivenName",
                 [](JobTicket& t, PrinterProfile&) {
                     t.held = {PrintType::Store, "1234", "bob", JobNameSource::Given, "Minutes"};
                 },
                 kHold,
                 {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE", "@PJL SET HOLDENCRYPTKEY=\"1234\"",
                  "@PJL SET USERNAME=\"bob\"", "@PJL SET JOBNAME=\"Minutes\""}},
        // A held job with no names given is listed by its user and title.
        LineCase{"ProofNamedByUserAndTitle",
                 [](JobTicket& t, PrinterProfile&) { t.held.type = PrintType::Proof; }, kHold,
                 {"@PJL SET HOLD=PROOF", "@PJL SET USERNAME=\"alice\"", "@PJL SET JOBNAME=\"Report\""}},
        LineCase{"NormalJobGetsNoNames", nullptr, kHold, {}},
        LineCase{"OtherNameSourceGivesNoJobName",
                 [](JobTicket& t, PrinterProfile&) {
                     t.held.type = PrintType::Proof;
                     t.held.jobNameSource = JobNameSource::Other;
                 },
                 {"JOBNAME"}, {}},
        LineCase{"Tray2", [](JobTicket& t, PrinterProfile&) { t.tray = Tray::Tray2; }, kSource,
                 {"@PJL SET MEDIASOURCE=TRAY2"}},
        LineCase{"UnknownTraySaysNothing", [](JobTicket& t, PrinterProfile&) { t.tray = Tray::Other; },
                 kSource, {}},
        LineCase{"BypassByTheModelsNameAndFeedEdge",
                 [](JobTicket& t, PrinterProfile& p) {
                     t.tray = Tray::Bypass;
                     t.bypassFeedEdge = FeedEdge::ShortTurned;
                     p.bypassTrayName = "SMH";
                 },
                 kSource, {"@PJL SET MEDIASOURCE=SMH", "@PJL SET PAPERDIRECTION=SEF"}},
        LineCase{"FeedEdgeOnlyForTheBypass",
                 [](JobTicket& t, PrinterProfile&) {
                     t.tray = Tray::Tray1;
                     t.bypassFeedEdge = FeedEdge::Long;
                 },
                 kSource, {"@PJL SET MEDIASOURCE=TRAY1"}},
        LineCase{"LedgerAndThick",
                 [](JobTicket& t, PrinterProfile&) {
                     t.paper = Paper::Ledger;
                     t.mediaType = MediaType::Thick;
                 },
                 {"PAPER", "MEDIATYPE"}, {"@PJL SET PAPER=LEDGER", "@PJL SET MEDIATYPE=THICK"}},
        LineCase{"ShortEdgeBinding", [](JobTicket& t, PrinterProfile&) { t.sides = Sides::TwoSidedShortEdge; },
                 {"DUPLEX", "BINDING"}, {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"}},
        // Nothing said about the sides leaves duplex on, with no binding.
        LineCase{"SidesUnsetIsDuplexWithoutBinding", nullptr, {"DUPLEX", "BINDING"}, {"@PJL SET DUPLEX=ON"}},
        LineCase{"StapleTopLeftInReverseLandscape",
                 [](JobTicket& t, PrinterProfile&) {
                     t.finishing = {Staple::TopLeft, Punch::None, FinishingOrientation::ReverseLandscape};
                 },
                 kFinishing, {"@PJL SET FINISH=ON", "@PJL SET STAPLE=TOPRIGHT"}},
        LineCase{"PunchAloneInLandscape",
                 [](JobTicket& t, PrinterProfile&) {
                     t.finishing = {Staple::None, Punch::On, FinishingOrientation::Landscape};
                 },
                 kFinishing, {"@PJL SET FINISH=ON", "@PJL SET PUNCH=BOTTON"}},
        // A punch with no staple setting at all is not asked for.
        LineCase{"PunchNeedsAStapleSetting",
                 [](JobTicket& t, PrinterProfile&) { t.finishing.punch = Punch::On; }, kFinishing, {}},
        LineCase{"DualTopStapleAndPunch",
                 [](JobTicket& t, PrinterProfile&) { t.finishing = {Staple::DualTop, Punch::On}; },
                 kFinishing, {"@PJL SET PUNCH=LEFT", "@PJL SET FINISH=ON", "@PJL SET STAPLE=TOPDUAL"}},
        LineCase{"NumberUpAsGiven", [](JobTicket& t, PrinterProfile&) { t.layout.numberUp = "2"; },
                 {"NLPP"}, {Attr("NLPP", "N2")}},
        LineCase{"DialogRowsAndColumns",
                 [](JobTicket& t, PrinterProfile&) { t.layout.dialogPagesPerSheet = 6; }, {"NLPP"},
                 {Attr("NLPP", "N6")}},
        LineCase{"FaceUpBin", [](JobTicket& t, PrinterProfile&) { t.outputBin = OutputBin::FaceUp; },
                 {"OUTBIN"}, {"@PJL SET OUTBIN=FACEUPTRAY"}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

// Names typed as a PPD option's custom value are text: a Shift-JIS printer
// gets them in its code set, while the dialog's names arrive in its bytes.
TEST(JobHeader, TypedNamesReachAShiftJisPrinterConverted)
{
    const Lines lines = DocumentBlock([](JobTicket& t, PrinterProfile& p) {
        p.codeSet = CodeSet::ShiftJis;
        t.held = {PrintType::Proof, "", "\u5c71\u7530", JobNameSource::Given, "\u5c71\u7530", true, false};
    });
    EXPECT_EQ(Only(lines, {"USERNAME", "JOBNAME"}),
              (Lines{"@PJL SET USERNAME=\"\x8e\x52\x93\x63\"", "@PJL SET JOBNAME=\"\u5c71\u7530\""}));
}

// The texts are cut to the printer's fields, whatever its code set.
TEST(JobHeader, NamesAreCutAfterConversion)
{
    for (CodeSet codeSet : {CodeSet::ShiftJis, CodeSet::Utf8}) {
        const Lines lines = DocumentBlock([&](JobTicket& t, PrinterProfile& p) {
            p.codeSet = codeSet;
            t.held = {PrintType::Proof, "", std::string(100, 'u'), JobNameSource::Given, std::string(300, 'j')};
        });
        EXPECT_EQ(Only(lines, {"USERNAME"}), Lines{"@PJL SET USERNAME=\"" + std::string(72, 'u') + "\""});
        const Lines jobName = Only(lines, {"JOBNAME"});
        ASSERT_EQ(jobName.size(), 1u);
        EXPECT_EQ(jobName[0].size(), std::string("@PJL SET JOBNAME=\"\"").size() + 192u);
    }
}

struct PasscodeCase {
    const char* name;
    std::string passcode;
    PasscodeIssue issue;
    bool usable;
};

class Passcode : public ::testing::TestWithParam<PasscodeCase> {};

TEST_P(Passcode, IsCheckedBeforeTheJobStarts)
{
    JobTicket ticket;
    ticket.held.type = PrintType::Store;
    ticket.held.passcode = GetParam().passcode;
    ticket.passcodeIssue = GetParam().issue;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StoredJobPasscodeUsable(ticket), GetParam().usable);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("ERROR: ", 0) == 0, !GetParam().usable) << err;
    ticket.held.type = PrintType::Normal;
    EXPECT_TRUE(StoredJobPasscodeUsable(ticket));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, Passcode,
    ::testing::Values(PasscodeCase{"FourDigits", "1234", PasscodeIssue::None, true},
                      PasscodeCase{"None", "", PasscodeIssue::None, true},
                      PasscodeCase{"ThreeDigits", "123", PasscodeIssue::None, false},
                      PasscodeCase{"NineDigits", "123456789", PasscodeIssue::None, false},
                      PasscodeCase{"Letters", "12a4", PasscodeIssue::None, false},
                      PasscodeCase{"AskedForButEmpty", "", PasscodeIssue::Empty, false},
                      PasscodeCase{"Encrypted", "", PasscodeIssue::Encrypted, false},
                      PasscodeCase{"QueueDefault", "", PasscodeIssue::QueueDefault, false}),
    [](const ::testing::TestParamInfo<PasscodeCase>& info) { return std::string(info.param.name); });

}  // namespace
