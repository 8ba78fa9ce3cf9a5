// The document block of the job header, from a filled record and a PPD.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "pjl/docblock.hpp"
#include "settings/gather.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

using Lines = std::vector<std::string>;
using RecordSetup = std::function<void(PrintOptions&)>;

// The options the example printer offers.
const std::vector<PpdOption> kFullPrinter = {
    {"ZROutputMode", {"Standard", "HighSpeed", "HighQuality"}},
    {"ZRColorMode", {"Color", "Black"}},
    {"ZRTrapping", {"true", "false"}},
    {"ZRInputSlot", {"AutoSelect", "1stTray", "BypassTray"}},
    {"MediaType", {"Default", "Plain"}},
    {"ZRStaple", {"None", "UpperLeftSinglePort"}},
    {"ZRPunch", {"None", "true"}},
};

enum class PpdKind { Written, Unset, Unreadable };

struct Printer {
    std::vector<std::string> keywords = {};
    std::vector<PpdOption> options = {};
    PpdKind kind = PpdKind::Written;
};

// A record as the ticket reader leaves it when no ticket is present.
PrintOptions EmptyRecord()
{
    PrintOptions o{};
    o.printType.printType = -1;
    o.printType.documentNameType = -1;
    o.kvr.manageType = -1;
    o.features.numberUp.set("1");
    o.features.duplexing = -1;
    return o;
}

class DocBlock : public ::testing::Test {
protected:
    // Runs the block for the printer and the record as gathering leaves it:
    // the job's settings, then the printer's defaults.  Returns its lines.
    Lines Block(const Printer& printer, const RecordSetup& setup, const char* copies = "1",
                const char* documentName = "")
    {
        std::string path;
        if (printer.kind == PpdKind::Unreadable) {
            path = tmp.file("missing.ppd");
        } else if (printer.kind == PpdKind::Written) {
            path = tmp.file("printer.ppd");
            WriteFile(path, MakePpd(printer.keywords, printer.options));
        }
        PpdHandle ppd = OpenPpd(path.empty() ? nullptr : path.c_str());
        record = EmptyRecord();
        record.documentName.set(documentName);
        if (setup) setup(record);
        ApplyPrinterDefaults(ppd.get(), record);

        std::string text =
            testjob::Captured([&](PjlWriter& out) { WriteDocumentBlock(record, copies, out); });
        EXPECT_TRUE(text.empty() || text.back() == '\n');
        return testjob::Lines(text);
    }

    TempDir tmp;
    PrintOptions record;
};

// Lines whose text starts with one of the given PJL names.
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

TEST_F(DocBlock, ExampleJobMatchesTheReferenceHeader)
{
    Lines lines = Block({{}, kFullPrinter},
                        [](PrintOptions& o) {
                            o.features.duplexing = 1;
                            o.features.media.set("A4");
                        },
                        "1", "Report");
    Lines expected = {
        "@PJL COMMENT DNAME=Report",
        "@PJL SET COPIES=1",
        "@PJL SET JOBATTR=\"@FSTP=0\"",
        "@PJL SET JOBATTR=\"@LSTP=0\"",
        "@PJL SET OUTBIN=MAINTRAY",
        "@PJL SET JOBATTR=\"@LOUT=NOSCALING\"",
        "@PJL SET JOBATTR=\"@DIPQ=STANDARD\"",
        "@PJL SET RENDERMODE=AUTOCOLOR",
        "@PJL SET JOBATTR=\"@TRAP=ON\"",
        "@PJL SET AUTOSELECT=ON",
        "@PJL SET PAPER=A4",
        "@PJL SET MEDIATYPE=NORMAL",
        "@PJL SET DUPLEX=OFF",
        "@PJL SET TIMEOUT=0",
        "@PJL SET JOBATTR=\"@NLPP=1\"",
    };
    EXPECT_EQ(lines, expected);
}

// Without the options in the PPD (or without a PPD) nothing is defaulted and
// the lines that depend on the settings are left out.
TEST_F(DocBlock, DefaultsComeOnlyFromOptionsThePPDDefines)
{
    const Lines bare = {
        "@PJL COMMENT DNAME=",
        "@PJL SET COPIES=1",
        "@PJL SET JOBATTR=\"@FSTP=0\"",
        "@PJL SET JOBATTR=\"@LSTP=0\"",
        "@PJL SET OUTBIN=MAINTRAY",
        "@PJL SET JOBATTR=\"@LOUT=NOSCALING\"",
        "@PJL SET DUPLEX=ON",
        "@PJL SET TIMEOUT=0",
        "@PJL SET JOBATTR=\"@NLPP=1\"",
    };
    // Main keywords named like the options do not count: only options do.
    Printer keywordsOnly{{"*ZROutputMode: \"Standard\"", "*ZRColorMode: \"Color\"",
                          "*ZRInputSlot: \"AutoSelect\"", "*MediaType: \"Default\"",
                          "*ZRStaple: \"None\"", "*ZRTrapping: \"true\""}};
    for (const Printer& printer : {Printer{}, Printer{{}, {}, PpdKind::Unset},
                                   Printer{{}, {}, PpdKind::Unreadable}, keywordsOnly}) {
        EXPECT_EQ(Block(printer, nullptr), bare);
    }
}

TEST_F(DocBlock, SettingsGivenByTheJobAreNotReplacedByDefaults)
{
    Lines lines = Block({{}, kFullPrinter}, [](PrintOptions& o) {
        o.features.outputMode.set("HighSpeed");
        o.features.colorMode.set("Black");
        o.features.trapping.set("false");
        o.features.inputSlot.set("2ndTray");
        o.features.mediaType.set("Plain");
    });
    EXPECT_EQ(Only(lines, {"DIPQ", "RENDERMODE", "TRAP", "AUTOSELECT", "MEDIASOURCE", "MEDIATYPE"}),
              (Lines{"@PJL SET JOBATTR=\"@DIPQ=SPEED\"", "@PJL SET RENDERMODE=GRAYSCALE",
                     "@PJL SET JOBATTR=\"@TRAP=OFF\"", "@PJL SET MEDIASOURCE=TRAY2",
                     "@PJL SET MEDIATYPE=PLAIN"}));
}

struct QualityCase {
    const char* name;
    bool ppdHasColor;
    const char* outputMode;
    const char* colorMode;
    const char* collate;
    Lines expected;  // DIPQ, COLLATE and RENDERMODE lines in order
};

class Quality : public DocBlock, public ::testing::WithParamInterface<QualityCase> {};

TEST_P(Quality, LinesComeInTheOrderOfTheirBranch)
{
    const QualityCase& c = GetParam();
    std::vector<PpdOption> options = {{"ZROutputMode", {"Standard", "HighSpeed"}}};
    if (c.ppdHasColor) options.push_back({"ZRColorMode", {"Color", "Black"}});
    Lines lines = Block({{}, options}, [&](PrintOptions& o) {
        o.features.outputMode.set(c.outputMode);
        o.features.colorMode.set(c.colorMode);
        o.features.collate.set(c.collate);
    });
    EXPECT_EQ(Only(lines, {"DIPQ", "COLLATE", "RENDERMODE"}), c.expected);
}

const std::string kDipq = "@PJL SET JOBATTR=\"@DIPQ=";

INSTANTIATE_TEST_SUITE_P(
    Branches, Quality,
    ::testing::Values(
        // Both settings present: DIPQ, COLLATE, RENDERMODE.
        QualityCase{"PlainColourJob", true, "", "", "", {kDipq + "STANDARD\"", "@PJL SET RENDERMODE=AUTOCOLOR"}},
        QualityCase{"CollatedColourJob", true, "", "", "true",
                    {kDipq + "STANDARD\"", "@PJL SET COLLATE=COLLATENORMAL", "@PJL SET RENDERMODE=AUTOCOLOR"}},
        QualityCase{"HighQualityBlackUncollated", true, "HighQuality", "Black", "false",
                    {kDipq + "QUALITY2\"", "@PJL SET COLLATE=OFF", "@PJL SET RENDERMODE=GRAYSCALE"}},
        QualityCase{"UnknownModesWriteNothing", true, "Draft", "Auto", "maybe", {}},
        QualityCase{"UnknownOutputModeKeepsCollateAndColour", true, "Draft", "Color", "true",
                    {"@PJL SET COLLATE=COLLATENORMAL", "@PJL SET RENDERMODE=AUTOCOLOR"}},
        QualityCase{"CaseMatters", true, "standard", "color", "True", {}},
        // No colour mode: DIPQ then GRAYSCALE, then COLLATE.
        QualityCase{"NoColourOptionHighQualityUncollated", false, "HighQuality", "", "false",
                    {kDipq + "QUALITY2\"", "@PJL SET RENDERMODE=GRAYSCALE", "@PJL SET COLLATE=OFF"}},
        QualityCase{"NoColourOptionDefaultQualityCollated", false, "", "", "true",
                    {kDipq + "STANDARD\"", "@PJL SET RENDERMODE=GRAYSCALE",
                     "@PJL SET COLLATE=COLLATENORMAL"}},
        QualityCase{"NoColourOptionUnknownQuality", false, "Draft", "", "true",
                    {"@PJL SET COLLATE=COLLATENORMAL"}}),
    [](const ::testing::TestParamInfo<QualityCase>& info) { return std::string(info.param.name); });

TEST_F(DocBlock, NoOutputModeAnywhereMeansNoQualityAndNoRendering)
{
    Lines lines = Block({}, [](PrintOptions& o) { o.features.colorMode.set("Black"); });
    EXPECT_EQ(Only(lines, {"DIPQ", "RENDERMODE"}), Lines{});
}

struct HoldCase {
    const char* name;
    int printType;
    const char* password;
    const char* userName;
    int nameType;
    const char* documentName;
    const char* fittedName;
    Lines expected;  // lines between DNAME and COPIES/QTY
};

class Hold : public DocBlock, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(Hold, HoldUserAndJobNameLines)
{
    const HoldCase& c = GetParam();
    Lines lines = Block({},
                        [&](PrintOptions& o) {
                            o.printType.printType = c.printType;
                            o.printType.password.set(c.password);
                            o.printType.userName.set(c.userName);
                            o.printType.documentNameType = c.nameType;
                            o.printType.documentName.set(c.documentName);
                        },
                        "1", c.fittedName);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], std::string("@PJL COMMENT DNAME=") + c.fittedName);
    Lines between(lines.begin() + 1, lines.end());
    while (!between.empty() && between.back() != "@PJL SET COPIES=1") between.pop_back();
    ASSERT_FALSE(between.empty());
    between.pop_back();
    EXPECT_EQ(between, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Hold,
    ::testing::Values(
        HoldCase{"NormalPrint", -1, "secret", "", -1, "", "Doc", {}},
        HoldCase{"ProofIgnoresPasscode", 3, "secret", "", -1, "", "", {"@PJL SET HOLD=PROOF"}},
        HoldCase{"StoredWithoutPasscode", 2, "", "", -1, "", "", {"@PJL SET HOLD=STORE"}},
        HoldCase{"StoredPrivate", 2, "1234", "", -1, "", "",
                 {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE",
                  "@PJL SET HOLDENCRYPTKEY=\"1234\""}},
        HoldCase{"OtherPrintType", 4, "1234", "", -1, "", "", {}},
        HoldCase{"UserName", -1, "", "taro", -1, "", "", {"@PJL SET USERNAME=\"taro\""}},
        HoldCase{"JobNameFromFittedName", -1, "", "", 1, "Entered", "Fitted",
                 {"@PJL SET JOBNAME=\"Fitted\""}},
        HoldCase{"JobNameFromEmptyFittedName", -1, "", "", 1, "Entered", "",
                 {"@PJL SET JOBNAME=\"\""}},
        HoldCase{"JobNameEntered", -1, "", "", 2, "Entered", "Fitted",
                 {"@PJL SET JOBNAME=\"Entered\""}},
        HoldCase{"JobNameEnteredButEmpty", -1, "", "", 2, "", "Fitted", {}},
        HoldCase{"JobNameTypeOther", -1, "", "", 3, "Entered", "Fitted", {}},
        HoldCase{"AllTogether", 2, "9", "hanako", 2, "Plan", "",
                 {"@PJL SET HOLD=STORE", "@PJL SET HOLDTYPE=PRIVATE",
                  "@PJL SET HOLDENCRYPTKEY=\"9\"", "@PJL SET USERNAME=\"hanako\"",
                  "@PJL SET JOBNAME=\"Plan\""}}),
    [](const ::testing::TestParamInfo<HoldCase>& info) { return std::string(info.param.name); });

TEST_F(DocBlock, CopiesOrQuantityFromTheCopiesArgument)
{
    struct Case {
        const char* collate;
        const char* copies;
        const char* line;
    };
    for (const Case& c : {Case{"true", "3", "@PJL SET QTY=3"}, Case{"false", "3", "@PJL SET COPIES=3"},
                          Case{"", "3", "@PJL SET COPIES=3"}, Case{"TRUE", "2", "@PJL SET COPIES=2"},
                          Case{"", "", "@PJL SET COPIES="}}) {
        Lines lines = Block({}, [&](PrintOptions& o) { o.features.collate.set(c.collate); }, c.copies);
        ASSERT_GE(lines.size(), 6u);
        EXPECT_EQ(lines[1], c.line);
        // The fixed lines follow right after, in this order.
        EXPECT_EQ(Lines(lines.begin() + 2, lines.begin() + 6),
                  (Lines{"@PJL SET JOBATTR=\"@FSTP=0\"", "@PJL SET JOBATTR=\"@LSTP=0\"",
                         "@PJL SET OUTBIN=MAINTRAY", "@PJL SET JOBATTR=\"@LOUT=NOSCALING\""}));
    }
}

struct TrayCase {
    const char* name;
    const char* slot;
    const char* model;  // nullptr: no ModelName
    const char* line;   // nullptr: no tray line
};

class Tray : public DocBlock, public ::testing::WithParamInterface<TrayCase> {};

TEST_P(Tray, SourceLine)
{
    const TrayCase& c = GetParam();
    Printer printer;
    if (c.model != nullptr) printer.keywords.push_back(std::string("*ModelName: \"") + c.model + "\"");
    Lines lines = Block(printer, [&](PrintOptions& o) { o.features.inputSlot.set(c.slot); });
    Lines expected;
    if (c.line != nullptr) expected.push_back(c.line);
    EXPECT_EQ(Only(lines, {"AUTOSELECT", "MEDIASOURCE"}), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, Tray,
    ::testing::Values(TrayCase{"Auto", "AutoSelect", nullptr, "@PJL SET AUTOSELECT=ON"},
                      TrayCase{"Tray1", "1stTray", nullptr, "@PJL SET MEDIASOURCE=TRAY1"},
                      TrayCase{"Tray2", "2ndTray", nullptr, "@PJL SET MEDIASOURCE=TRAY2"},
                      TrayCase{"Tray3", "3rdTray", nullptr, "@PJL SET MEDIASOURCE=TRAY3"},
                      TrayCase{"Tray4", "4thTray", nullptr, "@PJL SET MEDIASOURCE=TRAY4"},
                      TrayCase{"Tray5Unknown", "5thTray", nullptr, nullptr},
                      TrayCase{"Empty", "", nullptr, nullptr},
                      TrayCase{"CaseMatters", "bypasstray", "X DR144", nullptr},
                      TrayCase{"BypassWithoutModelName", "BypassTray", nullptr,
                               "@PJL SET MEDIASOURCE="},
                      TrayCase{"BypassUnknownModel", "BypassTray", "Zarelle ZX-4200",
                               "@PJL SET MEDIASOURCE=TRAY5"},
                      // The first matching row decides, even when a later row's
                      // code appears earlier in the name.
                      TrayCase{"RowOrder1Before2", "BypassTray", "K7145 DR144",
                               "@PJL SET MEDIASOURCE=SMH"},
                      TrayCase{"RowOrder2Before3", "BypassTray", "9620K 7140",
                               "@PJL SET MEDIASOURCE=TRAY5"},
                      TrayCase{"RowOrder3Before4", "BypassTray", "8310K 820T",
                               "@PJL SET MEDIASOURCE=SMH"},
                      TrayCase{"RowOrder4Before5", "BypassTray", "9580 8310K",
                               "@PJL SET MEDIASOURCE=TRAY5"},
                      TrayCase{"CodesAreCaseSensitive", "BypassTray", "dr144",
                               "@PJL SET MEDIASOURCE=TRAY5"}),
    [](const ::testing::TestParamInfo<TrayCase>& info) { return std::string(info.param.name); });

TEST_F(DocBlock, EveryModelCodeGivesItsRowsName)
{
    struct Row {
        std::vector<const char*> codes;
        const char* name;
    };
    const Row rows[] = {
        {{"R612", "DR530", "R517", "DR144", "DR276", "DM276", "DM144"}, "SMH"},
        {{"7140", "6185", "7145", "K4410", "K7145", "K7390"}, "TRAY5"},
        {{"820T", "9620K", "9675K", "9730K"}, "SMH"},
        {{"8310K"}, "TRAY5"},
        {{"9410", "9580"}, "SMH"},
    };
    for (const Row& row : rows) {
        for (const char* code : row.codes) {
            Printer printer{{std::string("*ModelName: \"Maker Q") + code + " PDF\""}};
            Lines lines = Block(printer, [](PrintOptions& o) { o.features.inputSlot.set("BypassTray"); });
            EXPECT_EQ(Only(lines, {"MEDIASOURCE"}),
                      Lines{std::string("@PJL SET MEDIASOURCE=") + row.name})
                << code;
        }
    }
}

TEST_F(DocBlock, BypassWithUnreadablePPDHasAnEmptyName)
{
    Lines lines = Block({{}, {}, PpdKind::Unreadable},
                        [](PrintOptions& o) { o.features.inputSlot.set("BypassTray"); });
    EXPECT_EQ(Only(lines, {"MEDIASOURCE", "PAPERDIRECTION"}), Lines{"@PJL SET MEDIASOURCE="});
}

struct DirectionCase {
    const char* name;
    const char* slot;
    const char* edge;
    bool ppdHasEdge;
    bool ppdHasModel;
    const char* line;  // nullptr: none
};

class Direction : public DocBlock, public ::testing::WithParamInterface<DirectionCase> {};

TEST_P(Direction, FeedDirectionOnTheBypassTrayOnly)
{
    const DirectionCase& c = GetParam();
    Printer printer;
    if (c.ppdHasModel) printer.keywords.push_back("*ModelName: \"Maker DR144\"");
    if (c.ppdHasEdge) printer.options.push_back({"ZRMSILeadingEdge", {"LongEdge", "ShortEdge"}});
    Lines lines = Block(printer, [&](PrintOptions& o) {
        o.features.inputSlot.set(c.slot);
        o.features.msiLeadingEdge.set(c.edge);
        o.features.media.set("A4");
        o.features.mediaType.set("Default");
    });
    Lines direction = Only(lines, {"PAPERDIRECTION"});
    if (c.line == nullptr) {
        EXPECT_EQ(direction, Lines{});
        return;
    }
    EXPECT_EQ(direction, Lines{c.line});
    // After paper and media type, before duplex.
    Lines order = Only(lines, {"PAPER", "MEDIATYPE", "PAPERDIRECTION", "DUPLEX"});
    EXPECT_EQ(order, (Lines{"@PJL SET PAPER=A4", "@PJL SET MEDIATYPE=NORMAL", c.line,
                            "@PJL SET DUPLEX=ON"}));
}

INSTANTIATE_TEST_SUITE_P(
    Edges, Direction,
    ::testing::Values(
        // The queue's default feed edge (the fixture PPD's first choice).
        DirectionCase{"DefaultFromPPD", "BypassTray", "", true, true, "@PJL SET PAPERDIRECTION=LEF"},
        DirectionCase{"DefaultWithoutModelName", "BypassTray", "", true, false,
                      "@PJL SET PAPERDIRECTION=LEF"},
        DirectionCase{"NoDefaultWithoutTheOption", "BypassTray", "", false, true, nullptr},
        DirectionCase{"LongEdge", "BypassTray", "LongEdge", false, true, "@PJL SET PAPERDIRECTION=LEF"},
        DirectionCase{"LongEdgeR", "BypassTray", "LongEdgeR", true, true, "@PJL SET PAPERDIRECTION=LEF"},
        DirectionCase{"ShortEdge", "BypassTray", "ShortEdge", false, true, "@PJL SET PAPERDIRECTION=SEF"},
        DirectionCase{"ShortEdgeR", "BypassTray", "ShortEdgeR", true, true,
                      "@PJL SET PAPERDIRECTION=SEF"},
        DirectionCase{"UnknownEdge", "BypassTray", "Diagonal", true, true, nullptr},
        DirectionCase{"NotOnTray1", "1stTray", "ShortEdge", true, true, nullptr},
        DirectionCase{"NotOnAutoSelect", "AutoSelect", "LongEdge", true, true, nullptr}),
    [](const ::testing::TestParamInfo<DirectionCase>& info) { return std::string(info.param.name); });

TEST_F(DocBlock, PaperAndMediaType)
{
    struct Case {
        const char* media;
        const char* line;
    };
    for (const Case& c : {Case{"A3", "@PJL SET PAPER=A3"}, Case{"B4", "@PJL SET PAPER=JISB4"},
                          Case{"A4", "@PJL SET PAPER=A4"}, Case{"B5", "@PJL SET PAPER=JISB5"},
                          Case{"A5", "@PJL SET PAPER=A5"}, Case{"Letter", "@PJL SET PAPER=LETTER"},
                          Case{"Legal", "@PJL SET PAPER=LEGAL"},
                          Case{"Tabloid", "@PJL SET PAPER=LEDGER"}, Case{"A6", nullptr},
                          Case{"a4", nullptr}, Case{"", nullptr}}) {
        Lines lines = Block({}, [&](PrintOptions& o) { o.features.media.set(c.media); });
        EXPECT_EQ(Only(lines, {"PAPER"}), c.line ? Lines{c.line} : Lines{}) << c.media;
    }
    for (const auto& [type, line] : {std::pair<const char*, const char*>{"Default", "NORMAL"},
                                     {"Plain", "PLAIN"}, {"Recycled", "RECYCLED"},
                                     {"Thick", "THICK"}, {"default", nullptr}}) {
        Lines lines = Block({}, [&](PrintOptions& o) { o.features.mediaType.set(type); });
        EXPECT_EQ(Only(lines, {"MEDIATYPE"}),
                  line ? Lines{std::string("@PJL SET MEDIATYPE=") + line} : Lines{})
            << type;
    }
}

TEST_F(DocBlock, DuplexAndBinding)
{
    struct Case {
        int duplexing;
        Lines lines;
    };
    for (const Case& c : {Case{1, {"@PJL SET DUPLEX=OFF"}},
                          Case{2, {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=LONGEDGE"}},
                          Case{3, {"@PJL SET DUPLEX=ON", "@PJL SET BINDING=SHORTEDGE"}},
                          Case{-1, {"@PJL SET DUPLEX=ON"}}, Case{0, {"@PJL SET DUPLEX=ON"}},
                          Case{7, {"@PJL SET DUPLEX=ON"}}}) {
        Lines lines = Block({}, [&](PrintOptions& o) { o.features.duplexing = c.duplexing; });
        EXPECT_EQ(Only(lines, {"DUPLEX", "BINDING"}), c.lines) << c.duplexing;
    }
}

// Orientation fields for each case, several ways of reaching it.
struct OrientationWay {
    const char* pageFormat;
    const char* printSettings;
    const char* requested;
    int expectedCase;  // 0 landscape, 1 reverse landscape, 2 other
};

const OrientationWay kOrientations[] = {
    {"2", "2", "", 0},  {"", "", "4", 0},  {"4", "4", "4", 0},  // landscape wins
    {"4", "4", "", 1},  {"", "", "5", 1},  {"2", "2", "5", 0},  // landscape still wins
    {"4", "", "3", 2},  {"2", "4", "", 2}, {"", "", "", 2},   {"", "", "6", 2},
};

// Positions by orientation case: landscape, reverse landscape, other.
struct StapleRow {
    const char* staple;
    const char* positions[3];
};

const StapleRow kStaples[] = {
    {"UpperLeftSinglePort", {"BOTTOMLEFT", "TOPRIGHT", "TOPLEFT"}},
    {"LeftDoublePort", {"BOTTOMDUAL", "TOPDUAL", "LEFTDUAL"}},
    {"TopDoublePort", {"LEFTDUAL", "RIGHTDUAL", "TOPDUAL"}},
};
const char* const kPunch[3] = {"BOTTON", "TOP", "LEFT"};

TEST_F(DocBlock, EveryFinishingCombinationInEveryOrientation)
{
    const char* punches[] = {"None", "true", "True", "TRUE", "", "false"};
    const char* staples[] = {"None", "UpperLeftSinglePort", "LeftDoublePort", "TopDoublePort",
                             "", "Other"};
    for (const OrientationWay& way : kOrientations) {
        for (const char* punch : punches) {
            for (const char* staple : staples) {
                const bool punchOn = std::string(punch) == "true" || std::string(punch) == "True";
                const StapleRow* row = nullptr;
                for (const StapleRow& r : kStaples)
                    if (std::string(staple) == r.staple) row = &r;
                Lines expected;
                if (*staple != '\0') {
                    if (punchOn && std::string(staple) == "None") expected.push_back("@PJL SET FINISH=ON");
                    if (punchOn)
                        expected.push_back(std::string("@PJL SET PUNCH=") + kPunch[way.expectedCase]);
                    if (row != nullptr) {
                        expected.push_back("@PJL SET FINISH=ON");
                        expected.push_back(std::string("@PJL SET STAPLE=") +
                                           row->positions[way.expectedCase]);
                    }
                }
                Lines lines = Block({}, [&](PrintOptions& o) {
                    o.features.punch.set(punch);
                    o.features.staple.set(staple);
                    o.features.pageFormatOrientation.set(way.pageFormat);
                    o.features.printSettingsOrientation.set(way.printSettings);
                    o.features.orientationRequested.set(way.requested);
                });
                EXPECT_EQ(Only(lines, {"FINISH", "PUNCH", "STAPLE"}), expected)
                    << "punch=" << punch << " staple=" << staple << " orientation="
                    << way.pageFormat << "/" << way.printSettings << "/" << way.requested;
            }
        }
    }
}

TEST_F(DocBlock, FinishingExamples)
{
    struct Case {
        const char* punch;
        const char* staple;
        const char* requested;
        Lines lines;
    };
    for (const Case& c :
         {Case{"true", "None", "4", {"@PJL SET FINISH=ON", "@PJL SET PUNCH=BOTTON"}},
          Case{"True", "UpperLeftSinglePort", "", {"@PJL SET PUNCH=LEFT", "@PJL SET FINISH=ON", "@PJL SET STAPLE=TOPLEFT"}},
          Case{"None", "None", "", {}},
          Case{"true", "Other", "", {"@PJL SET PUNCH=LEFT"}}}) {
        Lines lines = Block({}, [&](PrintOptions& o) {
            o.features.punch.set(c.punch);
            o.features.staple.set(c.staple);
            o.features.orientationRequested.set(c.requested);
        });
        EXPECT_EQ(Only(lines, {"FINISH", "PUNCH", "STAPLE"}), c.lines);
    }
}

// Staple and punch defaults come from the PPD; an empty staple (no ticket and
// no staple option) suppresses a requested punch too.
TEST_F(DocBlock, FinishingDefaults)
{
    Printer stapler{{}, {{"ZRStaple", {"None", "TopDoublePort"}}}};
    EXPECT_EQ(Only(Block(stapler, [](PrintOptions& o) { o.features.punch.set("true"); }),
                   {"FINISH", "PUNCH", "STAPLE"}),
              (Lines{"@PJL SET FINISH=ON", "@PJL SET PUNCH=LEFT"}));
    Printer puncher{{}, {{"ZRPunch", {"None", "true"}}}};
    EXPECT_EQ(Only(Block(puncher, [](PrintOptions& o) { o.features.punch.set("true"); }),
                   {"FINISH", "PUNCH", "STAPLE"}),
              Lines{});
}

TEST_F(DocBlock, PagesPerSheetCloseTheBlock)
{
    struct Case {
        const char* numberUp;
        const char* value;
    };
    for (const Case& c : {Case{"1", "1"}, Case{"", "1"}, Case{"N1", "N1"}, Case{"N4", "N4"},
                          Case{"N16", "N16"}}) {
        Lines lines = Block({}, [&](PrintOptions& o) { o.features.numberUp.set(c.numberUp); });
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines[lines.size() - 2], "@PJL SET TIMEOUT=0");
        EXPECT_EQ(lines.back(), std::string("@PJL SET JOBATTR=\"@NLPP=") + c.value + "\"");
    }
}

struct PasscodeCase {
    const char* name;
    int printType;
    std::string password;
    PasscodeIssue issue;
    const char* message;  // the whole error, nullptr: the job goes on
};

class Passcode : public ::testing::TestWithParam<PasscodeCase> {};

TEST_P(Passcode, IsCheckedBeforeTheHeader)
{
    const PasscodeCase& c = GetParam();
    PrintOptions o = EmptyRecord();
    o.printType.printType = c.printType;
    o.printType.password.set(c.password);
    o.passcodeIssue = c.issue;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(StoredJobPasscodeUsable(o), c.message == nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              c.message == nullptr ? "" : std::string("ERROR: ") + c.message + "; nothing was sent to the printer\n");
}

constexpr const char* kRule = "The stored job's passcode must be 4 to 8 digits";
constexpr PasscodeIssue kNone = PasscodeIssue::None;

INSTANTIATE_TEST_SUITE_P(
    Cases, Passcode,
    ::testing::Values(
        PasscodeCase{"FourDigits", 2, "0123", kNone, nullptr},
        PasscodeCase{"EightDigits", 2, "98765432", kNone, nullptr},
        PasscodeCase{"ThreeDigits", 2, "123", kNone, kRule},
        PasscodeCase{"NineDigits", 2, "123456789", kNone, kRule},
        PasscodeCase{"Letters", 2, "abcd", kNone, kRule},
        PasscodeCase{"NonAsciiDigits", 2, "\xD9\xA1\xD9\xA2\xD9\xA3\xD9\xA4", kNone, kRule},
        PasscodeCase{"LineFeed", 2, "12\n34", kNone, kRule},
        // A stored job without a passcode is held for anyone at the panel.
        PasscodeCase{"EmptyStored", 2, "", kNone, nullptr},
        PasscodeCase{"EmptyGiven", 2, "", PasscodeIssue::Empty, kRule},
        PasscodeCase{"QueueDefaultStored", 2, "", PasscodeIssue::QueueDefault,
                     "The queue's default passcode is not used, since every user can read it from "
                     "the printer's PPD; give a stored job its own passcode with job-password or "
                     "the print dialog's passcode field"},
        PasscodeCase{"EncryptedStored", 2, "", PasscodeIssue::Encrypted,
                     "The job's passcode was sent encrypted; the printer takes it only as sent, 4 "
                     "to 8 digits"},
        // Only a stored print sends its passcode.
        PasscodeCase{"ProofIgnoresIt", 3, "12", kNone, nullptr},
        PasscodeCase{"NormalIgnoresTheQueueDefault", -1, "", PasscodeIssue::QueueDefault, nullptr}),
    [](const ::testing::TestParamInfo<PasscodeCase>& info) { return std::string(info.param.name); });

}  // namespace
