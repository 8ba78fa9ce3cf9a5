// SPDX-License-Identifier: Apache-2.0
// A job's IPP attributes and the printer's defaults, as the core's ticket.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "job_ticket_ipp.hpp"
#include "models.hpp"

using namespace pdftopjl;
using namespace pdftopjl::app;

namespace {

// A request as the job's printer sees it: its attributes, PAPPL's reading of
// them (the printer's defaults unless a row changes them) and the printer's
// vendor defaults.
struct Request {
    std::unique_ptr<ipp_t, decltype(&ippDelete)> attrs{ippNew(), ippDelete};
    std::unique_ptr<ipp_t, decltype(&ippDelete)> printer{nullptr, ippDelete};
    pappl_pr_options_t options{};
    std::optional<JobPassword> password;

    Request()
    {
        pappl_pr_driver_data_t data{};
        ipp_t* extra = nullptr;
        FillDriverData(app::Models().front(), &data, &extra);
        printer.reset(extra);
        options.copies = 1;
        options.media = data.media_default;
        options.orientation_requested = data.orient_default;
        options.print_color_mode = data.color_default;
        options.print_quality = data.quality_default;
        options.print_scaling = data.scaling_default;
        options.sides = data.sides_default;
        snprintf(options.output_bin, sizeof options.output_bin, "%s", data.bin[data.bin_default]);
    }
    void keyword(const char* name, const char* value)
    {
        ippAddString(attrs.get(), IPP_TAG_JOB, IPP_TAG_KEYWORD, name, nullptr, value);
    }
    void name(const char* attr, const char* value)
    {
        ippAddString(attrs.get(), IPP_TAG_JOB, IPP_TAG_NAME, attr, nullptr, value);
    }
    void integer(const char* name, int value) { ippAddInteger(attrs.get(), IPP_TAG_JOB, IPP_TAG_INTEGER, name, value); }
    void enums(const char* name, std::vector<int> values)
    {
        ippAddIntegers(attrs.get(), IPP_TAG_JOB, IPP_TAG_ENUM, name, static_cast<int>(values.size()), values.data());
    }
    // media-col with the given keyword members.
    void mediaCol(std::initializer_list<std::pair<const char*, const char*>> members)
    {
        ipp_t* col = ippNew();
        for (const auto& [member, value] : members)
            ippAddString(col, IPP_TAG_ZERO, IPP_TAG_KEYWORD, member, nullptr, value);
        ippAddCollection(attrs.get(), IPP_TAG_JOB, "media-col", col);
        ippDelete(col);
    }
    void finishingsCol(std::initializer_list<const char*> templates)
    {
        std::vector<ipp_t*> cols;
        for (const char* name : templates) {
            cols.push_back(ippNew());
            ippAddString(cols.back(), IPP_TAG_ZERO, IPP_TAG_KEYWORD, "finishing-template", nullptr, name);
        }
        ippAddCollections(attrs.get(), IPP_TAG_JOB, "finishings-col", static_cast<int>(cols.size()),
                          const_cast<const ipp_t**>(cols.data()));
        for (ipp_t* col : cols) ippDelete(col);
    }
    // The printer's default of a vendor attribute, as the web interface sets it.
    void printerDefault(const char* name, const char* value)
    {
        ippDeleteAttribute(printer.get(), ippFindAttribute(printer.get(), name, IPP_TAG_ZERO));
        ippAddString(printer.get(), IPP_TAG_PRINTER, IPP_TAG_KEYWORD, name, nullptr, value);
    }

    JobTicket ticket()
    {
        IppJob job;
        job.attribute = [this](const char* name) { return ippFindAttribute(attrs.get(), name, IPP_TAG_ZERO); };
        job.printerAttributes = printer.get();
        job.options = &options;
        job.user = "alice";
        job.title = "Report";
        return TicketFromIpp(job, password);
    }
};

struct Case {
    const char* name;
    std::function<void(Request&)> ask;
    std::function<void(const JobTicket&)> expect;
};

class IppTicket : public ::testing::TestWithParam<Case> {};

TEST_P(IppTicket, HasTheJobsSettings)
{
    Request request;
    GetParam().ask(request);
    GetParam().expect(request.ticket());
}

// Who the job is accounted to, in the owner block.
std::string account(const JobTicket& t) { return t.accounting.accountId; }

INSTANTIATE_TEST_SUITE_P(
    Rows, IppTicket,
    ::testing::Values(
        Case{"PrinterDefaults", [](Request&) {},
             [](const JobTicket& t) {
                 EXPECT_EQ(t.user, "alice");
                 EXPECT_EQ(t.title, "Report");
                 EXPECT_EQ(t.paper, Paper::A4);
                 EXPECT_EQ(t.tray, Tray::Auto);
                 EXPECT_EQ(t.mediaType, MediaType::Default);
                 EXPECT_EQ(t.sides, Sides::OneSided);
                 EXPECT_EQ(t.colour, ColourMode::Colour);
                 EXPECT_EQ(t.quality, Quality::Standard);
                 EXPECT_EQ(t.trapping, Trapping::On);
                 EXPECT_EQ(t.outputBin, OutputBin::Main);
                 EXPECT_EQ(t.finishing.staple, Staple::None);
                 EXPECT_EQ(t.finishing.punch, Punch::None);
                 EXPECT_EQ(t.copies, 1);
                 EXPECT_EQ(t.collation, Collation::Unset);
                 EXPECT_EQ(t.held.type, PrintType::Normal);
                 EXPECT_EQ(account(t), "");
                 EXPECT_EQ(t.layout.numberUp, "1");
                 EXPECT_EQ(t.layout.media, "iso_a4_210x297mm");
                 EXPECT_EQ(t.layout.sides, "one-sided");
                 EXPECT_EQ(t.layout.collate, "");
                 EXPECT_FALSE(t.layout.pageRanges.has_value());
                 EXPECT_EQ(t.layout.orientation, Orientation::Unset);
                 EXPECT_FALSE(t.halfTurn || t.raster);
             }},
        Case{"Tray", [](Request& r) { r.mediaCol({{"media-source", "tray-1"}}); },
             [](const JobTicket& t) { EXPECT_EQ(t.tray, Tray::Tray1); EXPECT_EQ(t.paper, Paper::A4); }},
        Case{"TrayOnItsOwn", [](Request& r) { r.keyword("media-source", "tray-4"); },
             [](const JobTicket& t) { EXPECT_EQ(t.tray, Tray::Tray4); }},
        // A size alone leaves the tray to the printer, whatever the default's tray.
        Case{"SizeLeavesTheTray",
             [](Request& r) {
                 snprintf(r.options.media.source, sizeof r.options.media.source, "tray-2");
                 r.mediaCol({{"media-size-name", "iso_a3_297x420mm"}});
             },
             [](const JobTicket& t) { EXPECT_EQ(t.paper, Paper::A3); EXPECT_EQ(t.tray, Tray::Auto); }},
        Case{"DefaultMediaTray",
             [](Request& r) { snprintf(r.options.media.source, sizeof r.options.media.source, "tray-2"); },
             [](const JobTicket& t) { EXPECT_EQ(t.tray, Tray::Tray2); }},
        Case{"SizeByDimensions",
             [](Request& r) {
                 ipp_t* dims = ippNew();
                 ippAddInteger(dims, IPP_TAG_ZERO, IPP_TAG_INTEGER, "x-dimension", 21590);
                 ippAddInteger(dims, IPP_TAG_ZERO, IPP_TAG_INTEGER, "y-dimension", 27940);
                 ipp_t* col = ippNew();
                 ippAddCollection(col, IPP_TAG_ZERO, "media-size", dims);
                 ippAddCollection(r.attrs.get(), IPP_TAG_JOB, "media-col", col);
                 ippDelete(dims);
                 ippDelete(col);
             },
             [](const JobTicket& t) { EXPECT_EQ(t.paper, Paper::Letter); }},
        Case{"MediaType", [](Request& r) { r.mediaCol({{"media-type", "stationery-recycled"}}); },
             [](const JobTicket& t) { EXPECT_EQ(t.mediaType, MediaType::Recycled); EXPECT_EQ(t.tray, Tray::Auto); }},
        Case{"BypassFeedEdge",
             [](Request& r) {
                 r.mediaCol({{"media-source", "by-pass-tray"}});
                 r.keyword("bypass-feed-edge", "long-edge-rotated");
             },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.tray, Tray::Bypass);
                 EXPECT_EQ(t.bypassFeedEdge, FeedEdge::LongTurned);
             }},
        Case{"BypassDefaultEdge", [](Request& r) { r.mediaCol({{"media-source", "by-pass-tray"}}); },
             [](const JobTicket& t) { EXPECT_EQ(t.bypassFeedEdge, FeedEdge::Short); }},
        Case{"Sides", [](Request& r) { r.options.sides = PAPPL_SIDES_TWO_SIDED_SHORT_EDGE; },
             [](const JobTicket& t) { EXPECT_EQ(t.sides, Sides::TwoSidedShortEdge); }},
        Case{"Monochrome", [](Request& r) { r.options.print_color_mode = PAPPL_COLOR_MODE_MONOCHROME; },
             [](const JobTicket& t) { EXPECT_EQ(t.colour, ColourMode::Black); }},
        Case{"QualityDraft", [](Request& r) { r.options.print_quality = IPP_QUALITY_DRAFT; },
             [](const JobTicket& t) { EXPECT_EQ(t.quality, Quality::Speed); }},
        Case{"QualityHigh", [](Request& r) { r.options.print_quality = IPP_QUALITY_HIGH; },
             [](const JobTicket& t) { EXPECT_EQ(t.quality, Quality::High); }},
        Case{"OutputBin", [](Request& r) { snprintf(r.options.output_bin, sizeof r.options.output_bin, "face-up"); },
             [](const JobTicket& t) { EXPECT_EQ(t.outputBin, OutputBin::FaceUp); }},
        // The first staple asked for is made.
        Case{"StapleAndPunch", [](Request& r) { r.enums("finishings", {3, 4, 28, 5}); },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.finishing.staple, Staple::TopLeft);
                 EXPECT_EQ(t.finishing.punch, Punch::On);
             }},
        Case{"FinishingTemplate", [](Request& r) { r.finishingsCol({"staple-dual-left"}); },
             [](const JobTicket& t) { EXPECT_EQ(t.finishing.staple, Staple::DualLeft); }},
        Case{"CupsTemplateName", [](Request& r) { r.finishingsCol({"StapleDualTop"}); },
             [](const JobTicket& t) { EXPECT_EQ(t.finishing.staple, Staple::DualTop); }},
        Case{"FinishingPreset", [](Request& r) { r.printerDefault("finishing-preset-default", "punch"); },
             [](const JobTicket& t) { EXPECT_EQ(t.finishing.punch, Punch::On); }},
        Case{"NoFinishingOverPreset",
             [](Request& r) {
                 r.printerDefault("finishing-preset-default", "punch");
                 r.finishingsCol({"none"});
             },
             [](const JobTicket& t) { EXPECT_EQ(t.finishing.punch, Punch::None); }},
        // IPP collates copies unless told not to.
        Case{"Copies", [](Request& r) { r.options.copies = 3; },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.copies, 3);
                 EXPECT_EQ(t.collation, Collation::Collated);
                 EXPECT_EQ(t.layout.collate, "true");
             }},
        Case{"UncollatedCopies",
             [](Request& r) {
                 r.options.copies = 2;
                 r.keyword("multiple-document-handling", "separate-documents-uncollated-copies");
             },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.collation, Collation::Uncollated);
                 EXPECT_EQ(t.layout.collate, "false");
             }},
        Case{"PageRanges",
             [](Request& r) {
                 const int lower[] = {2, 5}, upper[] = {3, 6};
                 ippAddRanges(r.attrs.get(), IPP_TAG_JOB, "page-ranges", 2, lower, upper);
             },
             [](const JobTicket& t) { EXPECT_EQ(t.layout.pageRanges, "2-3,5-6"); }},
        Case{"NumberUp", [](Request& r) { r.integer("number-up", 4); },
             [](const JobTicket& t) { EXPECT_EQ(t.layout.numberUp, "4"); }},
        Case{"Landscape", [](Request& r) { r.options.orientation_requested = IPP_ORIENT_LANDSCAPE; },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.layout.orientation, Orientation::Landscape);
                 EXPECT_EQ(t.finishing.orientation, FinishingOrientation::Landscape);
             }},
        Case{"Scaling", [](Request& r) { r.options.print_scaling = PAPPL_SCALING_FIT; },
             [](const JobTicket& t) { EXPECT_EQ(t.layout.scaling, "fit"); }},
        // A passcode without a print type makes a stored job.
        Case{"Passcode", [](Request& r) { r.password = JobPassword{"1234", "none"}; },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.held.type, PrintType::Store);
                 EXPECT_EQ(t.held.passcode, "1234");
             }},
        Case{"ProofWithPasscode",
             [](Request& r) {
                 r.password = JobPassword{"98765", ""};
                 r.keyword("print-type", "proof");
             },
             [](const JobTicket& t) {
                 EXPECT_EQ(t.held.type, PrintType::Proof);
                 EXPECT_EQ(t.held.passcode, "98765");
             }},
        Case{"StoredByDefault", [](Request& r) { r.printerDefault("print-type-default", "stored"); },
             [](const JobTicket& t) { EXPECT_EQ(t.held.type, PrintType::Store); EXPECT_EQ(t.held.passcode, ""); }},
        Case{"Account", [](Request& r) { r.name("job-account-id", "dept7"); },
             [](const JobTicket& t) { EXPECT_EQ(account(t), "dept7"); }},
        Case{"AccountDefault", [](Request& r) { r.printerDefault("account-id-default", "lab"); },
             [](const JobTicket& t) { EXPECT_EQ(account(t), "lab"); }},
        Case{"AccountingUser", [](Request& r) { r.name("job-accounting-user-id", "carol"); },
             [](const JobTicket& t) { EXPECT_EQ(account(t), "carol"); }},
        Case{"EmptyAccountIsNone",
             [](Request& r) {
                 r.printerDefault("account-id-default", "lab");
                 r.name("job-account-id", "");
             },
             [](const JobTicket& t) { EXPECT_EQ(account(t), ""); }},
        Case{"TurnAndRasterise",
             [](Request& r) {
                 ippAddBoolean(r.attrs.get(), IPP_TAG_JOB, "turn-page", 1);
                 ippAddBoolean(r.attrs.get(), IPP_TAG_JOB, "print-as-image", 1);
             },
             [](const JobTicket& t) { EXPECT_TRUE(t.halfTurn && t.raster); }}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(IppPasscode, TakesOnlyPlainDigits)
{
    EXPECT_EQ(PasscodeError({"1234", ""}), "");
    EXPECT_EQ(PasscodeError({"12345678", "none"}), "");
    EXPECT_EQ(PasscodeError({"123", "none"}), "The stored job's passcode must be 4 to 8 digits");
    EXPECT_EQ(PasscodeError({"12a4", "none"}), "The stored job's passcode must be 4 to 8 digits");
    EXPECT_EQ(PasscodeError({"1234", "sha2-256"}),
              "The job's passcode was sent encrypted (sha2-256); the printer takes it only as sent, 4 to 8 digits");
}

}  // namespace
