// SPDX-License-Identifier: Apache-2.0
// The CUPS adapter: the filter's options and the PPD into the typed ticket
// and the printer's profile.  One row per rule users meet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cups/adapter.hpp"
#include "cups/ticket_keys.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

template <typename Enum, std::size_t N>
void Add(std::string& out, const char* name, Enum value, const char* const (&names)[N])
{
    const auto index = static_cast<std::size_t>(value);
    if (index != 0 && index < N) out += std::string(out.empty() ? "" : " ") + name + "=" + names[index];
}

void Add(std::string& out, const char* name, const std::string& value)
{
    if (!value.empty()) out += std::string(out.empty() ? "" : " ") + name + "=" + value;
}

// The ticket's settings that differ from an empty ticket, in a fixed order.
std::string Describe(const JobTicket& t)
{
    std::string out;
    Add(out, "hold", t.held.type, {"", "store", "proof"});
    Add(out, "passcode", t.held.passcode);
    Add(out, "issue", t.passcodeIssue, {"", "queue-default", "encrypted", "empty"});
    Add(out, "username", t.held.userName);
    Add(out, "jobname", t.held.jobNameSource, {"", "title", "given", "other"});
    Add(out, "name", t.held.jobName);
    Add(out, "account", t.accounting.accountId);
    Add(out, "tray", t.tray, {"", "auto", "1", "2", "3", "4", "bypass", "other"});
    Add(out, "paper", t.paper, {"", "A3", "B4", "A4", "B5", "A5", "letter", "legal", "ledger", "other"});
    Add(out, "type", t.mediaType, {"", "default", "plain", "recycled", "thick", "other"});
    Add(out, "edge", t.bypassFeedEdge, {"", "long", "long-turned", "short", "short-turned", "other"});
    Add(out, "sides", t.sides, {"", "one", "long", "short"});
    Add(out, "colour", t.colour, {"", "colour", "black", "other"});
    Add(out, "quality", t.quality, {"", "speed", "standard", "high", "other"});
    Add(out, "collate", t.collation, {"", "yes", "no"});
    Add(out, "trap", t.trapping, {"", "on", "off"});
    Add(out, "bin", t.outputBin, {"", "face-up", "stacker-1", "stacker-2"});
    Add(out, "staple", t.finishing.staple, {"", "none", "top-left", "dual-left", "dual-top", "other"});
    Add(out, "punch", t.finishing.punch, {"", "none", "on", "other"});
    if (t.halfTurn) Add(out, "half-turn", "yes");
    if (t.raster) Add(out, "raster", "yes");
    return out;
}

struct AdaptCase {
    const char* name;
    std::vector<PpdOption> ppd;  // the options the queue's PPD offers, default first
    std::string options;
    std::string expected;
    std::vector<std::string> lines = {};  // raw PPD lines, for custom defaults
};

class Adapter : public ::testing::TestWithParam<AdaptCase> {};

TEST_P(Adapter, FillsTheTicket)
{
    TempDir tmp;
    WriteFile(tmp.file("p.ppd"), MakePpd(GetParam().lines, GetParam().ppd));
    ::testing::internal::CaptureStderr();
    const CupsJob job = testjob::Adapt(GetParam().options, tmp.file("p.ppd"));
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Describe(job.ticket), GetParam().expected);
}

const std::string kDuplexTicket = std::string(kDuplexingTicketKey) + "=";
const std::string kUserNameTicket = std::string(kPrintTypeUserNameTicketKey) + "=";
// A queue default that is a custom value, as lpadmin writes it.
std::vector<std::string> CustomDefault(const std::string& option, const std::string& value)
{
    return {"*OpenUI *" + option + ": PickOne", "*Default" + option + ": Custom." + value,
            "*" + option + " None/None: \"\"", "*CloseUI: *" + option};
}

const PpdOption kDuplexNone{"Duplex", {"None", "DuplexNoTumble", "DuplexTumble"}};
const PpdOption kQueueDefaults[] = {
    {"ZRInputSlot", {"2ndTray", "AutoSelect", "1stTray", "BypassTray"}},
    {"ZRColorMode", {"Color", "Black"}},
    {"ZROutputMode", {"Standard", "HighSpeed", "HighQuality"}},
    {"ZRStaple", {"None", "UpperLeftSinglePort"}},
    {"PageSize", {"A4", "Letter"}},
};

INSTANTIATE_TEST_SUITE_P(
    Rows, Adapter,
    ::testing::Values(
        AdaptCase{"NothingGiven", {}, "", ""},
        AdaptCase{"QueueDefaults", {std::begin(kQueueDefaults), std::end(kQueueDefaults)}, "",
                  "tray=2 paper=A4 colour=colour quality=standard staple=none"},
        AdaptCase{"JobOverQueue", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZRInputSlot=1stTray PageSize=Letter print-color-mode=monochrome print-quality=3",
                  "tray=1 paper=letter colour=black quality=speed staple=none"},
        AdaptCase{"StandardNames", {},
                  "media-source=by-pass-tray media=iso_a5_148x210mm,stationery-recycled output-bin=face-up "
                  "cupsPrintQuality=High finishings=4,5 multiple-document-handling=separate-documents-collated-copies",
                  "tray=bypass paper=A5 type=recycled quality=high collate=yes bin=face-up staple=top-left punch=on"},
        // A legacy (ZR) choice at its queue default yields to the standard
        // option the job sends; one the user changed still wins.
        AdaptCase{"LegacyTrayAtDefaultYields", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZRInputSlot=2ndTray InputSlot=Tray1",
                  "tray=1 paper=A4 colour=colour quality=standard staple=none"},
        AdaptCase{"LegacyTrayChosenWins", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZRInputSlot=BypassTray media-source=tray-1",
                  "tray=bypass paper=A4 colour=colour quality=standard staple=none"},
        AdaptCase{"LegacyQualityAtDefaultYields", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZROutputMode=Standard print-quality=5",
                  "tray=2 paper=A4 colour=colour quality=high staple=none"},
        AdaptCase{"LegacyQualityChosenWins", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZROutputMode=HighSpeed cupsPrintQuality=High",
                  "tray=2 paper=A4 colour=colour quality=speed staple=none"},
        AdaptCase{"LegacyColourAtDefaultYields", {std::begin(kQueueDefaults), std::end(kQueueDefaults)},
                  "ZRColorMode=Color print-color-mode=monochrome",
                  "tray=2 paper=A4 colour=black quality=standard staple=none"},
        // Without the option in the PPD there is no default to compare with.
        AdaptCase{"LegacyWithoutQueueDefaultWins", {}, "ZRColorMode=Color print-color-mode=monochrome",
                  "colour=colour"},
        // lp sends the queue's own colour mode with every job: only monochrome asks.
        AdaptCase{"ColourModeAsksNothing", {}, "print-color-mode=color finishings=3", ""},
        // As CUPS reads them: PPD Booleans in either spelling, PPD size names in lower case.
        AdaptCase{"PpdSpellings", {}, "Collate=True media=tabloid", "paper=ledger collate=yes"},
        AdaptCase{"UnknownChoiceIsStillGiven", {}, "ZRInputSlot=9thTray media=Plain", "tray=other paper=other type=plain"},
        AdaptCase{"DialogDuplexWins", {kDuplexNone}, kDuplexTicket + "3 sides=one-sided Duplex=None", "sides=short"},
        AdaptCase{"SidesThenDuplexThenQueue", {kDuplexNone}, "sides=both Duplex=DuplexNoTumble", "sides=long"},
        AdaptCase{"QueueDuplex", {kDuplexNone}, "", "sides=one"},
        AdaptCase{"StoredWithPasscode", {}, "ZRPrintType=Stored ZRPasscode=Custom.1234", "hold=store passcode=1234"},
        // A passcode without a print type makes a stored job.
        AdaptCase{"JobPasswordStores", {}, "job-password=5678", "hold=store passcode=5678"},
        AdaptCase{"EncryptedPassword", {}, "job-password=abc job-password-encryption=md5",
                  "hold=store issue=encrypted"},
        AdaptCase{"QueuePasscodeIsNotUsed", {{"ZRPrintType", {"Stored", "Normal"}}}, "",
                  "hold=store issue=queue-default", CustomDefault("ZRPasscode", "4321")},
        AdaptCase{"NamesFromPpdOptions", {}, "ZRPrintType=Proof ZRUserName=Custom.bob ZRJobName={Name=Minutes}",
                  "hold=proof username=bob jobname=given name=Minutes"},
        AdaptCase{"DialogTicketNumericEscape", {}, kUserNameTicket + "/98/111/98", "username=bob"},
        AdaptCase{"AccountFromTheJob", {}, "job-account-id=sales", "account=sales",
                  CustomDefault("ZRAccountId", "queue")},
        AdaptCase{"AccountFromTheQueue", {}, "job-accounting-user-id=bob", "account=queue",
                  CustomDefault("ZRAccountId", "queue")},
        AdaptCase{"BypassFeedEdgeDefaultOnlyForTheBypass",
                  {{"ZRMSILeadingEdge", {"ShortEdgeR", "LongEdge"}}, {"ZRInputSlot", {"BypassTray", "1stTray"}}},
                  "", "tray=bypass edge=short-turned"},
        AdaptCase{"TurnAndPaint", {{"ZRTurnPage", {"true", "false"}}}, "ZRPDFRasterizedMode=true",
                  "half-turn=yes raster=yes"}),
    [](const ::testing::TestParamInfo<AdaptCase>& info) { return std::string(info.param.name); });

// What the PPD says about the printer.
TEST(AdapterProfile, FromThePpd)
{
    TempDir tmp;
    struct Row {
        std::vector<std::string> keywords;
        CodeSet codeSet;
        std::string bypass;
        LandscapeDirection landscape;
    };
    const Row rows[] = {
        {{}, CodeSet::ShiftJis, "", LandscapeDirection::Unknown},
        {{"*ZRPrinterLanguageEncoding: \"UTF-8\""}, CodeSet::Utf8, "", LandscapeDirection::Unknown},
        {{"*ZRPrinterLanguageEncoding: \"utf-8\""}, CodeSet::ShiftJis, "", LandscapeDirection::Unknown},
        {{"*ZRPrinterLanguageEncoding: \"ISOLatin1\""}, CodeSet::IsoLatin1, "", LandscapeDirection::Unknown},
        {{"*ModelName: \"Zarelle R612 PDF\"", "*LandscapeOrientation: Minus90"}, CodeSet::ShiftJis, "SMH",
         LandscapeDirection::Minus90},
        {{"*ModelName: \"Zarelle 8310K\"", "*LandscapeOrientation: Plus90"}, CodeSet::ShiftJis, "TRAY5",
         LandscapeDirection::Plus90},
    };
    for (const Row& row : rows) {
        WriteFile(tmp.file("p.ppd"), MakePpd(row.keywords));
        const PrinterProfile printer = testjob::Adapt("", tmp.file("p.ppd")).printer;
        SCOPED_TRACE(row.keywords.empty() ? "" : row.keywords[0]);
        EXPECT_TRUE(printer.described);
        EXPECT_EQ(printer.codeSet, row.codeSet);
        EXPECT_EQ(printer.bypassTrayName, row.bypass);
        EXPECT_EQ(printer.landscape, row.landscape);
    }
    EXPECT_FALSE(testjob::Adapt("", "").printer.described);
}

}  // namespace
