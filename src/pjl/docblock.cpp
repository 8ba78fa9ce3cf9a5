#include "pjl/docblock.hpp"

#include <cstdio>
#include <cstring>
#include <string>

#include "job/channel.hpp"
#include "settings/standard_options.hpp"

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

enum Orientation { kLandscape = 0, kReverseLandscape = 1, kOther = 2 };

Orientation orientationCase(const FeaturesOption& f)
{
    if ((f.pageFormatOrientation == "2" && f.printSettingsOrientation == "2") ||
        f.orientationRequested == "4")
        return kLandscape;
    if ((f.pageFormatOrientation == "4" && f.printSettingsOrientation == "4") ||
        f.orientationRequested == "5")
        return kReverseLandscape;
    return kOther;
}

// Finishing positions by orientation case: landscape, reverse landscape, other.
struct FinishRow {
    const char* setting;
    const char* positions[3];
};

// "BOTTON" is what the printers expect.
const char* const kPunchPositions[3] = {"BOTTON", "TOP", "LEFT"};

const FinishRow kStaplePositions[] = {
    {"UpperLeftSinglePort", {"BOTTOMLEFT", "TOPRIGHT", "TOPLEFT"}},
    {"LeftDoublePort", {"BOTTOMDUAL", "TOPDUAL", "LEFTDUAL"}},
    {"TopDoublePort", {"LEFTDUAL", "RIGHTDUAL", "TOPDUAL"}},
};

struct PaperRow {
    const char* media;
    const char* paper;
};

const PaperRow kPapers[] = {
    {"A3", "A3"},         {"B4", "JISB4"},  {"A4", "A4"},         {"B5", "JISB5"},
    {"A5", "A5"},         {"Letter", "LETTER"}, {"Legal", "LEGAL"}, {"Tabloid", "LEDGER"},
};

struct SlotRow {
    const char* slot;
    const char* source;
};

const SlotRow kTrays[] = {
    {"1stTray", "TRAY1"}, {"2ndTray", "TRAY2"}, {"3rdTray", "TRAY3"}, {"4thTray", "TRAY4"}};

struct NameRow {
    const char* setting;
    const char* pjl;
};

const NameRow kMediaTypes[] = {
    {"Default", "NORMAL"}, {"Plain", "PLAIN"}, {"Recycled", "RECYCLED"}, {"Thick", "THICK"}};

// The main tray unless the job or the queue chose another bin.
const char* outputBinName(const FixedText<64>& bin)
{
    static const NameRow kBins[] = {{"FaceUp", "FACEUPTRAY"},
                                    {"Stacker1", "STACKER1"},
                                    {"Stacker2", "STACKER2"}};
    for (const NameRow& row : kBins)
        if (bin == row.setting) return row.pjl;
    return "MAINTRAY";
}

const char* outputModeQuality(const FixedText<64>& mode)
{
    if (mode == "HighSpeed") return "SPEED";
    if (mode == "Standard") return "STANDARD";
    if (mode == "HighQuality") return "QUALITY2";
    return nullptr;
}

void writeDocumentSettings(const PrintOptions& settings, std::string_view copies, PjlWriter& out)
{
    const PrintTypeOption& printType = settings.printType;
    const FeaturesOption& features = settings.features;

    out.comment("DNAME=" + std::string(settings.documentName.view()));

    if (printType.printType == 3) {
        out.set("HOLD", "PROOF");
    } else if (printType.printType == 2) {
        out.set("HOLD", "STORE");
        if (!printType.password.empty()) {
            out.set("HOLDTYPE", "PRIVATE");
            out.set("HOLDENCRYPTKEY", quoted(printType.password.view()));
        }
    }

    if (!printType.userName.empty()) out.set("USERNAME", quoted(printType.userName.view()));

    if (printType.documentNameType == 1) {
        out.set("JOBNAME", quoted(settings.documentName.view()));
    } else if (printType.documentNameType == 2 && !printType.documentName.empty()) {
        out.set("JOBNAME", quoted(printType.documentName.view()));
    }

    out.set(features.collate == "true" ? "QTY" : "COPIES", copies);

    out.attr("FSTP", "0");
    out.attr("LSTP", "0");
    out.set("OUTBIN", outputBinName(features.outputBin));
    out.attr("LOUT", "NOSCALING");

    const char* quality = outputModeQuality(features.outputMode);
    const char* collation = features.collate == "false"  ? "OFF"
                            : features.collate == "true" ? "COLLATENORMAL"
                                                         : nullptr;
    if (!features.outputMode.empty() && !features.colorMode.empty()) {
        if (quality != nullptr) out.attr("DIPQ", quality);
        if (collation != nullptr) out.set("COLLATE", collation);
        if (features.colorMode == "Color")
            out.set("RENDERMODE", "AUTOCOLOR");
        else if (features.colorMode == "Black")
            out.set("RENDERMODE", "GRAYSCALE");
    } else {
        // Without a colour mode the quality implies greyscale.
        if (quality != nullptr) {
            out.attr("DIPQ", quality);
            out.set("RENDERMODE", "GRAYSCALE");
        }
        if (collation != nullptr) out.set("COLLATE", collation);
    }

    if (features.trapping == "true")
        out.attr("TRAP", "ON");
    else if (features.trapping == "false")
        out.attr("TRAP", "OFF");
}

void writeMediaSettings(const PrintOptions& settings, PjlWriter& out)
{
    const FeaturesOption& features = settings.features;

    bool bypass = false;
    if (features.inputSlot == "AutoSelect") {
        out.set("AUTOSELECT", "ON");
    } else if (features.inputSlot == "BypassTray") {
        out.set("MEDIASOURCE", settings.ppd.bypassTrayName.view());
        bypass = true;
    } else {
        for (const SlotRow& tray : kTrays)
            if (features.inputSlot == tray.slot) out.set("MEDIASOURCE", tray.source);
    }

    for (const PaperRow& paper : kPapers)
        if (features.media == paper.media) out.set("PAPER", paper.paper);

    for (const NameRow& type : kMediaTypes)
        if (features.mediaType == type.setting) out.set("MEDIATYPE", type.pjl);

    if (bypass && !features.msiLeadingEdge.empty()) {
        const FixedText<64>& edge = features.msiLeadingEdge;
        if (edge == "LongEdge" || edge == "LongEdgeR")
            out.set("PAPERDIRECTION", "LEF");
        else if (edge == "ShortEdge" || edge == "ShortEdgeR")
            out.set("PAPERDIRECTION", "SEF");
    }

    if (features.duplexing == 1) {
        out.set("DUPLEX", "OFF");
    } else {
        out.set("DUPLEX", "ON");
        if (features.duplexing == 3)
            out.set("BINDING", "SHORTEDGE");
        else if (features.duplexing == 2)
            out.set("BINDING", "LONGEDGE");
    }

    if (!features.staple.empty() && !(features.staple == "None" && features.punch == "None")) {
        const Orientation orientation = orientationCase(features);
        if (features.punch == "True" || features.punch == "true") {
            if (features.staple == "None") out.set("FINISH", "ON");
            out.set("PUNCH", kPunchPositions[orientation]);
        }
        for (const FinishRow& staple : kStaplePositions) {
            if (features.staple == staple.setting) {
                out.set("FINISH", "ON");
                out.set("STAPLE", staple.positions[orientation]);
            }
        }
    }

    out.set("TIMEOUT", "0");

    if (features.numberUp.empty() || features.numberUp == "1")
        out.attr("NLPP", "1");
    else
        out.attr("NLPP", features.numberUp.view());
}

}  // namespace

void WriteDocumentBlock(const PrintOptions& settings, std::string_view copies, PjlWriter& out)
{
    writeDocumentSettings(settings, copies, out);
    writeMediaSettings(settings, out);
}

bool StoredJobPasscodeUsable(const PrintOptions& settings)
{
    const PrintTypeOption& printType = settings.printType;
    if (printType.printType != 2) return true;
    constexpr const char* kNothingSent = "; nothing was sent to the printer";
    switch (settings.passcodeIssue) {
    case PasscodeIssue::QueueDefault:
        job::Logf(job::Severity::Error, "%s%s", kQueuePasscodeUnused, kNothingSent);
        return false;
    case PasscodeIssue::Encrypted:
        job::Logf(job::Severity::Error,
                  "The job's passcode was sent encrypted; the printer takes it only as sent, %zu "
                  "to %zu digits%s",
                  kPasscodeMinDigits, kPasscodeMaxDigits, kNothingSent);
        return false;
    case PasscodeIssue::Empty:
    case PasscodeIssue::None:
        break;
    }
    if (settings.passcodeIssue == PasscodeIssue::None &&
        (printType.password.empty() || PasscodeFollowsTheRule(printType.password.view())))
        return true;
    job::Logf(job::Severity::Error, "The stored job's passcode must be %zu to %zu digits%s",
              kPasscodeMinDigits, kPasscodeMaxDigits, kNothingSent);
    return false;
}

}  // namespace pdftopjl
