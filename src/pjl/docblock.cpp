// SPDX-License-Identifier: Apache-2.0
#include "pjl/docblock.hpp"

#include <string>

namespace pdftopjl {

namespace {

std::string quoted(std::string_view text)
{
    std::string value;
    value.reserve(text.size() + 2);
    value += '"';
    value += text;
    value += '"';
    return value;
}

// Finishing positions by how the sheet lies: landscape, reverse landscape,
// other.
int orientationCase(FinishingOrientation orientation)
{
    switch (orientation) {
    case FinishingOrientation::Landscape: return 0;
    case FinishingOrientation::ReverseLandscape: return 1;
    case FinishingOrientation::Other: break;
    }
    return 2;
}

// "BOTTON" is what the printers expect.
const char* const kPunchPositions[3] = {"BOTTON", "TOP", "LEFT"};

const char* const* staplePositions(Staple staple)
{
    static const char* const kTopLeft[3] = {"BOTTOMLEFT", "TOPRIGHT", "TOPLEFT"};
    static const char* const kDualLeft[3] = {"BOTTOMDUAL", "TOPDUAL", "LEFTDUAL"};
    static const char* const kDualTop[3] = {"LEFTDUAL", "RIGHTDUAL", "TOPDUAL"};
    switch (staple) {
    case Staple::TopLeft: return kTopLeft;
    case Staple::DualLeft: return kDualLeft;
    case Staple::DualTop: return kDualTop;
    default: return nullptr;
    }
}

const char* paperName(Paper paper)
{
    switch (paper) {
    case Paper::A3: return "A3";
    case Paper::JisB4: return "JISB4";
    case Paper::A4: return "A4";
    case Paper::JisB5: return "JISB5";
    case Paper::A5: return "A5";
    case Paper::Letter: return "LETTER";
    case Paper::Legal: return "LEGAL";
    case Paper::Ledger: return "LEDGER";
    default: return nullptr;
    }
}

const char* trayName(Tray tray)
{
    switch (tray) {
    case Tray::Tray1: return "TRAY1";
    case Tray::Tray2: return "TRAY2";
    case Tray::Tray3: return "TRAY3";
    case Tray::Tray4: return "TRAY4";
    default: return nullptr;
    }
}

const char* mediaTypeName(MediaType type)
{
    switch (type) {
    case MediaType::Default: return "NORMAL";
    case MediaType::Plain: return "PLAIN";
    case MediaType::Recycled: return "RECYCLED";
    case MediaType::Thick: return "THICK";
    default: return nullptr;
    }
}

// The main tray unless the job or the queue chose another bin.
const char* outputBinName(OutputBin bin)
{
    switch (bin) {
    case OutputBin::FaceUp: return "FACEUPTRAY";
    case OutputBin::Stacker1: return "STACKER1";
    case OutputBin::Stacker2: return "STACKER2";
    case OutputBin::Main: break;
    }
    return "MAINTRAY";
}

const char* qualityName(Quality quality)
{
    switch (quality) {
    case Quality::Speed: return "SPEED";
    case Quality::Standard: return "STANDARD";
    case Quality::High: return "QUALITY2";
    default: return nullptr;
    }
}

void writeDocumentSettings(const JobTicket& ticket, const HeaderTexts& texts, PjlWriter& out)
{
    const HeldJob& held = ticket.held;
    out.comment("DNAME=" + texts.documentName);

    if (held.type == PrintType::Proof) {
        out.set("HOLD", "PROOF");
    } else if (held.type == PrintType::Store) {
        out.set("HOLD", "STORE");
        if (!held.passcode.empty()) {
            out.set("HOLDTYPE", "PRIVATE");
            out.set("HOLDENCRYPTKEY", quoted(held.passcode));
        }
    }

    if (!texts.userName.empty()) out.set("USERNAME", quoted(texts.userName));

    if (texts.jobNameIsTitle)
        out.set("JOBNAME", quoted(texts.documentName));
    else if (!texts.jobName.empty())
        out.set("JOBNAME", quoted(texts.jobName));

    out.set(ticket.collation == Collation::Collated ? "QTY" : "COPIES", std::to_string(ticket.copies));

    out.attr("FSTP", "0");
    out.attr("LSTP", "0");
    out.set("OUTBIN", outputBinName(ticket.outputBin));
    out.attr("LOUT", "NOSCALING");

    const char* quality = qualityName(ticket.quality);
    const char* collation = ticket.collation == Collation::Uncollated ? "OFF"
                            : ticket.collation == Collation::Collated ? "COLLATENORMAL"
                                                                      : nullptr;
    if (ticket.quality != Quality::Unset && ticket.colour != ColourMode::Unset) {
        if (quality != nullptr) out.attr("DIPQ", quality);
        if (collation != nullptr) out.set("COLLATE", collation);
        if (ticket.colour == ColourMode::Colour)
            out.set("RENDERMODE", "AUTOCOLOR");
        else if (ticket.colour == ColourMode::Black)
            out.set("RENDERMODE", "GRAYSCALE");
    } else {
        // Without a colour mode the quality implies greyscale.
        if (quality != nullptr) {
            out.attr("DIPQ", quality);
            out.set("RENDERMODE", "GRAYSCALE");
        }
        if (collation != nullptr) out.set("COLLATE", collation);
    }

    if (ticket.trapping == Trapping::On)
        out.attr("TRAP", "ON");
    else if (ticket.trapping == Trapping::Off)
        out.attr("TRAP", "OFF");
}

void writeMediaSettings(const JobTicket& ticket, const PrinterProfile& printer,
                        const HeaderTexts& texts, PjlWriter& out)
{
    if (ticket.tray == Tray::Auto)
        out.set("AUTOSELECT", "ON");
    else if (ticket.tray == Tray::Bypass)
        out.set("MEDIASOURCE", printer.bypassTrayName);
    else if (const char* tray = trayName(ticket.tray))
        out.set("MEDIASOURCE", tray);

    if (const char* paper = paperName(ticket.paper)) out.set("PAPER", paper);
    if (const char* type = mediaTypeName(ticket.mediaType)) out.set("MEDIATYPE", type);

    if (ticket.tray == Tray::Bypass) {
        const FeedEdge edge = ticket.bypassFeedEdge;
        if (edge == FeedEdge::Long || edge == FeedEdge::LongTurned)
            out.set("PAPERDIRECTION", "LEF");
        else if (edge == FeedEdge::Short || edge == FeedEdge::ShortTurned)
            out.set("PAPERDIRECTION", "SEF");
    }

    if (ticket.sides == Sides::OneSided) {
        out.set("DUPLEX", "OFF");
    } else {
        out.set("DUPLEX", "ON");
        if (ticket.sides == Sides::TwoSidedShortEdge)
            out.set("BINDING", "SHORTEDGE");
        else if (ticket.sides == Sides::TwoSidedLongEdge)
            out.set("BINDING", "LONGEDGE");
    }

    const Finishing& finishing = ticket.finishing;
    if (finishing.staple != Staple::Unset &&
        !(finishing.staple == Staple::None && finishing.punch == Punch::None)) {
        const int orientation = orientationCase(finishing.orientation);
        if (finishing.punch == Punch::On) {
            if (finishing.staple == Staple::None) out.set("FINISH", "ON");
            out.set("PUNCH", kPunchPositions[orientation]);
        }
        if (const char* const* positions = staplePositions(finishing.staple)) {
            out.set("FINISH", "ON");
            out.set("STAPLE", positions[orientation]);
        }
    }

    out.set("TIMEOUT", "0");

    out.attr("NLPP", texts.numberUp.empty() ? "1" : texts.numberUp);
}

}  // namespace

void WriteDocumentBlock(const JobTicket& ticket, const PrinterProfile& printer,
                        const HeaderTexts& texts, PjlWriter& out)
{
    writeDocumentSettings(ticket, texts, out);
    writeMediaSettings(ticket, printer, texts, out);
}

}  // namespace pdftopjl
