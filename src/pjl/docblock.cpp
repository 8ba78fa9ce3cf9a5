#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/output.hpp"
#include "pjl/blocks.hpp"
#include "pjl/writer.hpp"
#include "settings/docname.hpp"
#include "settings/ppd.hpp"

const char* const KPPDOutputModeKey = "ZROutputMode";
const char* const KPPDColorModeKey = "ZRColorMode";
const char* const KPPDPTrappingKey = "ZRTrapping";
const char* const KPPDInputSlotKey = "ZRInputSlot";
const char* const KPPDMediaTypeKey = "MediaType";
const char* const KPPDStapleKey = "ZRStaple";
const char* const KPPDPunchKey = "ZRPunch";
const char* const KPPDMSILeadingEdgeKey = "ZRMSILeadingEdge";
const char* const KPPDModelNameKey = "ModelName";

namespace {

// Fills an empty setting with a fixed default when the printer offers the
// option at all; the PPD's own default choice is deliberately not consulted.
template <std::size_t N>
void applyPPDDefault(FixedText<N>& field, const char* keyword, const char* value)
{
    if (!field.empty()) return;
    PpdHandle ppd = OpenJobPPD();
    if (ppd && ppdFindOption(ppd.get(), keyword) != nullptr) field.set(value);
}

std::string quoted(std::string_view text)
{
    std::string value;
    value.reserve(text.size() + 2);
    value += '"';
    value += text;
    value += '"';
    return value;
}

void set(const char* name, const char* value) { MakePJLCommand("SET", name, value); }
void attr(const char* name, const char* value) { MakePJLCommand("ATTR", name, value); }

// Bypass-tray names by model code, first matching row wins.
struct ModelRow {
    const char* codes[8];
    const char* name;
};

const ModelRow kBypassTrayNames[] = {
    {{"R612", "DR530", "R517", "DR144", "DR276", "DM276", "DM144", nullptr}, "SMH"},
    {{"7140", "6185", "7145", "K4410", "K7145", "K7390", nullptr}, "TRAY5"},
    {{"820T", "9620K", "9675K", "9730K", nullptr}, "SMH"},
    {{"8310K", nullptr}, "TRAY5"},
    {{"9410", "9580", nullptr}, "SMH"},
};

const char* bypassTrayNameForModel(std::string_view model)
{
    for (const ModelRow& row : kBypassTrayNames)
        for (const char* const* code = row.codes; *code != nullptr; ++code)
            if (model.find(*code) != std::string_view::npos) return row.name;
    return "TRAY5";
}

// The bypass tray's name for this printer; also gives the leading edge its
// default while the PPD is open.
void bypassTrayName(FeaturesOption& features, FixedText<16>& name)
{
    name.clear();
    PpdHandle ppd = OpenJobPPD();
    if (!ppd) return;
    if (ppd_attr_t* model = ppdFindAttr_ALT(ppd.get(), KPPDModelNameKey, nullptr))
        name.set(bypassTrayNameForModel(model->value != nullptr ? model->value : ""));
    if (features.msiLeadingEdge.empty() &&
        ppdFindOption(ppd.get(), KPPDMSILeadingEdgeKey) != nullptr)
        features.msiLeadingEdge.set("ShortEdge");
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

const char* outputModeQuality(const FixedText<64>& mode)
{
    if (mode == "HighSpeed") return "SPEED";
    if (mode == "Standard") return "STANDARD";
    if (mode == "HighQuality") return "QUALITY2";
    return nullptr;
}

void writeDocumentSettings(char* argv[], PrintOptions* options)
{
    PrintTypeOption& printType = options->printType;
    FeaturesOption& features = options->features;

    std::string dname = std::string("DNAME=") + PTStdDocumentName;
    PutPJLComment(dname.c_str());

    if (printType.printType == 3) {
        set("HOLD", "PROOF");
    } else if (printType.printType == 2) {
        set("HOLD", "STORE");
        if (!printType.password.empty()) {
            set("HOLDTYPE", "PRIVATE");
            set("HOLDENCRYPTKEY", quoted(printType.password.view()).c_str());
        }
    }

    if (!printType.userName.empty()) set("USERNAME", quoted(printType.userName.view()).c_str());

    if (printType.documentNameType == 1) {
        set("JOBNAME", quoted(PTStdDocumentName).c_str());
    } else if (printType.documentNameType == 2 && !printType.documentName.empty()) {
        set("JOBNAME", quoted(printType.documentName.view()).c_str());
    }

    set(features.collate == "true" ? "QTY" : "COPIES", argv[4]);

    attr("FSTP", "0");
    attr("LSTP", "0");
    set("OUTBIN", "MAINTRAY");
    attr("LOUT", "NOSCALING");

    applyPPDDefault(features.outputMode, KPPDOutputModeKey, "Standard");
    applyPPDDefault(features.colorMode, KPPDColorModeKey, "Color");

    const char* quality = outputModeQuality(features.outputMode);
    const char* collation = features.collate == "false"  ? "OFF"
                            : features.collate == "true" ? "COLLATENORMAL"
                                                         : nullptr;
    if (!features.outputMode.empty() && !features.colorMode.empty()) {
        if (quality != nullptr) attr("DIPQ", quality);
        if (collation != nullptr) set("COLLATE", collation);
        if (features.colorMode == "Color")
            set("RENDERMODE", "AUTOCOLOR");
        else if (features.colorMode == "Black")
            set("RENDERMODE", "GRAYSCALE");
    } else {
        // Without a colour mode the quality implies greyscale.
        if (quality != nullptr) {
            attr("DIPQ", quality);
            set("RENDERMODE", "GRAYSCALE");
        }
        if (collation != nullptr) set("COLLATE", collation);
    }

    applyPPDDefault(features.trapping, KPPDPTrappingKey, "true");
    if (features.trapping == "true")
        attr("TRAP", "ON");
    else if (features.trapping == "false")
        attr("TRAP", "OFF");
}

void writeMediaSettings(PrintOptions* options)
{
    FeaturesOption& features = options->features;

    applyPPDDefault(features.inputSlot, KPPDInputSlotKey, "AutoSelect");
    bool bypass = false;
    if (features.inputSlot == "AutoSelect") {
        set("AUTOSELECT", "ON");
    } else if (features.inputSlot == "BypassTray") {
        FixedText<16> name;
        bypassTrayName(features, name);
        set("MEDIASOURCE", name.c_str());
        bypass = true;
    } else {
        for (const SlotRow& tray : kTrays)
            if (features.inputSlot == tray.slot) set("MEDIASOURCE", tray.source);
    }

    for (const PaperRow& paper : kPapers)
        if (features.media == paper.media) set("PAPER", paper.paper);

    applyPPDDefault(features.mediaType, KPPDMediaTypeKey, "Default");
    if (features.mediaType == "Default") set("MEDIATYPE", "NORMAL");

    if (bypass && !features.msiLeadingEdge.empty()) {
        const FixedText<64>& edge = features.msiLeadingEdge;
        if (edge == "LongEdge" || edge == "LongEdgeR")
            set("PAPERDIRECTION", "LEF");
        else if (edge == "ShortEdge" || edge == "ShortEdgeR")
            set("PAPERDIRECTION", "SEF");
    }

    if (features.duplexing == 1) {
        set("DUPLEX", "OFF");
    } else {
        set("DUPLEX", "ON");
        if (features.duplexing == 3)
            set("BINDING", "SHORTEDGE");
        else if (features.duplexing == 2)
            set("BINDING", "LONGEDGE");
    }

    applyPPDDefault(features.staple, KPPDStapleKey, "None");
    applyPPDDefault(features.punch, KPPDPunchKey, "None");
    if (!features.staple.empty() && !(features.staple == "None" && features.punch == "None")) {
        const Orientation orientation = orientationCase(features);
        if (features.punch == "True" || features.punch == "true") {
            if (features.staple == "None") set("FINISH", "ON");
            set("PUNCH", kPunchPositions[orientation]);
        }
        for (const FinishRow& staple : kStaplePositions) {
            if (features.staple == staple.setting) {
                set("FINISH", "ON");
                set("STAPLE", staple.positions[orientation]);
            }
        }
    }

    set("TIMEOUT", "0");

    if (features.numberUp.empty() || features.numberUp == "1")
        attr("NLPP", "1");
    else
        attr("NLPP", features.numberUp.c_str());
}

}  // namespace

void OutputJobDocCommand(char* argv[], PrintOptions* options)
{
    writeDocumentSettings(argv, options);
    writeMediaSettings(options);
}

int CheckHoldPasscode(const PrintOptions* options)
{
    const PrintTypeOption& printType = options->printType;
    if (printType.printType != 2 || printType.password.empty()) return 1;

    static const size_t kLimit = kPJLLineMax - std::strlen("@PJL SET HOLDENCRYPTKEY=\"\"\n");
    const std::string_view passcode = printType.password.view();
    char line[160];
    if (passcode.size() > kLimit) {
        snprintf(line, sizeof line,
                 "The passcode of the stored job is too long for the printer (%zu bytes, at most "
                 "%zu)\n",
                 passcode.size(), kLimit);
        Utlfputs(line, stderr);
        return 0;
    }
    for (unsigned char c : passcode) {
        if (PJLDropsByte(c, /*quoted=*/true)) {
            Utlfputs("The passcode of the stored job holds characters the printer cannot take\n",
                     stderr);
            return 0;
        }
    }
    return 1;
}
