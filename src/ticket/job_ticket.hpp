// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What one job asks for, in the printer's terms but before any encoding:
// filled once by a front door's adapter (CUPS options, PPD and dialog
// tickets; or IPP attributes) and only read below it.  Texts are UTF-8 as
// the job gave them; the printer's code set and the PJL tokens are applied
// when the header is written.  No CUPS or PAPPL type appears here.
namespace pdftopjl {

// Each enum's Unset means the job and the queue left it open; Other means a
// value was given that names nothing the printer knows (it still counts as
// "given" where the header's rules ask whether a setting is present).
enum class Tray : uint8_t { Unset, Auto, Tray1, Tray2, Tray3, Tray4, Bypass, Other };
enum class Paper : uint8_t { Unset, A3, JisB4, A4, JisB5, A5, Letter, Legal, Ledger, Other };
enum class MediaType : uint8_t { Unset, Default, Plain, Recycled, Thick, Other };
enum class Sides : uint8_t { Unset, OneSided, TwoSidedLongEdge, TwoSidedShortEdge };
enum class ColourMode : uint8_t { Unset, Colour, Black, Other };
enum class Quality : uint8_t { Unset, Speed, Standard, High, Other };
enum class Collation : uint8_t { Unset, Collated, Uncollated };
enum class Trapping : uint8_t { Unset, On, Off };
enum class OutputBin : uint8_t { Main, FaceUp, Stacker1, Stacker2 };
enum class Staple : uint8_t { Unset, None, TopLeft, DualLeft, DualTop, Other };
enum class Punch : uint8_t { Unset, None, On, Other };
// Which edge of the sheet leads into the bypass tray; the R forms are fed
// turned half way round.
enum class FeedEdge : uint8_t { Unset, Long, LongTurned, Short, ShortTurned, Other };
enum class PrintType : uint8_t { Normal, Store, Proof };
// IPP orientation-requested values.
enum class Orientation : uint8_t { Unset, Portrait, Landscape, ReverseLandscape, ReversePortrait };
// How the sheet lies for finishing positions (staple and punch).
enum class FinishingOrientation : uint8_t { Other, Landscape, ReverseLandscape };
// Other: a source was given that names neither (no job name, and the title
// is not put in its place).
enum class JobNameSource : uint8_t { Unset, Title, Given, Other };

struct Finishing {
    Staple staple = Staple::Unset;
    Punch punch = Punch::Unset;
    FinishingOrientation orientation = FinishingOrientation::Other;
};

// Stored and proof prints, listed on the printer's panel.
struct HeldJob {
    PrintType type = PrintType::Normal;
    std::string passcode;      // digits, empty for none
    std::string userName;      // empty: the job's user where the job is held
    JobNameSource jobNameSource = JobNameSource::Unset;
    std::string jobName;       // with JobNameSource::Given
    // The names came as text (a PPD option's custom value), not in the
    // printer's own bytes as the print dialog sends them: a Shift-JIS
    // printer gets them converted.
    bool userNameIsText = false;
    bool jobNameIsText = false;
};

// Why a stored job's passcode the job asked for could not be taken.
enum class PasscodeIssue : uint8_t {
    None,
    QueueDefault,  // only the queue's default, which every user can read
    Encrypted,     // sent hashed or garbled
    Empty,         // asked for, with nothing given
};

// Who the job is accounted to (the owner blocks).  The numbers are the
// print dialog's own list positions; -1 where it gave none.
struct Accounting {
    int32_t manageType = -1;
    int32_t adminUserIdListCtrl = -1;
    int32_t adminUserInputRadio = -1;
    std::string userId, password;
    std::string adminUserId, adminPassword;
    std::string inputUserId, inputUserPassword;
    std::string loginName;
    // The account the job is charged to (a queue's or the job's account
    // setting): with no manage type chosen, the owner block's user, as given.
    std::string accountId;
    // Given by the dialog in place of what this host would say.
    std::string clientName, clientHostName, clientAddress;
    std::string printDate, printTime;
};

// What decides whether the system's layout filter runs, and what it is told.
// Texts are the values the job gave (empty or unset: not given); the layout
// filter reads them under its own option names.
struct Layout {
    // Pages per sheet as the job gave it (the header's NLPP carries it as
    // "N" + the value); unset when it gave none.
    std::optional<std::string> numberUp;
    // The print dialog's rows x columns, when it gave no number-up.
    int32_t dialogPagesPerSheet = 1;
    std::string numberUpLayout;  // "lrtb" and the like
    std::optional<std::string> pageRanges;  // "1-3,7"
    Orientation orientation = Orientation::Unset;
    std::string landscape;       // the older "landscape" request, as given
    std::string fitToPage;       // fit-to-page, as given
    std::string fitPlot;         // its older name, fitplot
    std::string scaling;         // print-scaling: auto, auto-fit, fit, fill, none
    std::string scalingPercent;  // scaling, as given
    std::string naturalScalingPercent;
    std::string position;        // "center", "top-left" and the like
    std::optional<std::string> pageLeft, pageRight, pageTop, pageBottom;
    std::string pageSet;         // "odd", "even"
    std::string mirror;          // as given; any value asks for the layout filter
    std::string pageBorder;      // empty for none
    std::string outputOrder;     // "Normal", "Reverse"
    // The print dialog's own layout requests: its scaling (1 is none) and
    // page-to-paper mapping (1 is none).
    std::string dialogScaling;
    std::string dialogPageToPaperMapping;
    // Settings the layout filter also reads, as the job named them.
    std::string pageSize;        // PageSize / media, as given
    std::string media;
    std::string sides;           // sides / Duplex, as given
    std::string duplex;
    std::string collate;         // Collate / multiple-document-handling, as given
    std::string documentHandling;
};

struct JobTicket {
    // Who and what.
    std::string jobId;  // the queue's job number, for the layout filter
    std::string user;   // the requesting user
    std::string title;  // the job's title, the document's name on the panel
    std::optional<int32_t> productType;  // the dialog's product type, for name limits
    int32_t copies = 1;
    Collation collation = Collation::Unset;

    HeldJob held;
    PasscodeIssue passcodeIssue = PasscodeIssue::None;
    Accounting accounting;

    // Media and finishing.
    Tray tray = Tray::Unset;
    Paper paper = Paper::Unset;
    MediaType mediaType = MediaType::Unset;
    FeedEdge bypassFeedEdge = FeedEdge::Unset;
    Sides sides = Sides::Unset;
    ColourMode colour = ColourMode::Unset;
    Quality quality = Quality::Unset;
    Trapping trapping = Trapping::Unset;
    OutputBin outputBin = OutputBin::Main;
    Finishing finishing;

    Layout layout;

    // Page rewrites the job asks for by itself.
    bool halfTurn = false;     // turn every page half way round
    bool raster = false;       // paint every page at 300 dpi

    // What the dialog says one copy is, when the document holds every copy.
    std::optional<int32_t> dialogCopies;
    std::optional<int32_t> dialogTotalSides;
};

}  // namespace pdftopjl
