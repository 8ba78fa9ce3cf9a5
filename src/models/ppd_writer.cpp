// SPDX-License-Identifier: Apache-2.0
#include "models/ppd_writer.hpp"

#include <cups/cups.h>

#include <cctype>
#include <cmath>
#include <initializer_list>
#include <string_view>

namespace pdftopjl {

namespace {

struct PpdSize {
    std::string name, text;
    long width = 0, length = 0;  // points
};

// The PPD's name for a PWG size, as CUPS maps them ("jis_b4_257x364mm" is B4).
PpdSize ppdSize(const char* pwgName)
{
    PpdSize size;
    const pwg_media_t* pwg = pwgMediaForPWG(pwgName);
    if (pwg == nullptr || pwg->ppd == nullptr) return size;
    size.name = pwg->ppd;
    size.text = std::string_view(pwgName).starts_with("jis_") ? "JIS " + size.name : size.name;
    size.width = std::lround(pwg->width * 72.0 / 2540.0);
    size.length = std::lround(pwg->length * 72.0 / 2540.0);
    return size;
}

class Ppd {
public:
    // A line from its parts, appended in turn.
    template <typename... Parts>
    void line(const Parts&... parts)
    {
        ((out_ += std::string_view(parts)), ...);
        out_ += '\n';
    }
    void blank() { out_ += '\n'; }
    void keyword(std::string_view name, std::string_view value)
    {
        out_ += '*';
        out_ += name;
        out_ += ": ";
        out_ += value;
        out_ += '\n';
    }
    void quoted(std::string_view name, std::string_view value) { line("*", name, ": \"", value, "\""); }
    void openUi(std::string_view option, std::string_view text, std::string_view type, std::string_view defaultChoice,
                bool installable = false)
    {
        const std::string name(option);
        line("*OpenUI *" + name + "/" + std::string(text) + ": " + std::string(type));
        if (!installable) line("*OrderDependency: " + std::string(order(option)) + " AnySetup *" + name);
        line("*Default" + name + ": " + std::string(defaultChoice));
    }
    void choice(std::string_view option, std::string_view name, std::string_view text, std::string_view code = "")
    {
        line("*", option, " ", name, "/", text, ": \"", code, "\"");
    }
    void closeUi(std::string_view option)
    {
        line("*CloseUI: *" + std::string(option));
        blank();
    }
    // Both ways round, as dialogs check either.
    void constraint(std::string_view a, std::string_view b)
    {
        line("*UIConstraints: " + std::string(a) + " " + std::string(b));
        line("*UIConstraints: " + std::string(b) + " " + std::string(a));
    }
    std::string take() { return std::move(out_); }

private:
    static std::string_view order(std::string_view option)
    {
        return option == "PageSize" || option == "PageRegion" ? "10" : "20";
    }
    std::string out_;
};

struct Choice {
    std::string_view name, text;
};

// An option whose choices are always the same.
void pickOne(Ppd& ppd, std::string_view option, std::string_view text, std::string_view defaultChoice,
             std::initializer_list<Choice> choices)
{
    ppd.openUi(option, text, "PickOne", defaultChoice);
    for (const Choice& c : choices) ppd.choice(option, c.name, c.text);
    ppd.closeUi(option);
}

void boolean(Ppd& ppd, std::string_view option, std::string_view text, bool on)
{
    ppd.openUi(option, text, "Boolean", on ? "true" : "false");
    ppd.choice(option, "true", "On");
    ppd.choice(option, "false", "Off");
    ppd.closeUi(option);
}

void installable(Ppd& ppd, const std::string& option, std::string_view text)
{
    ppd.openUi(option, text, "Boolean", "True", true);
    ppd.choice(option, "True", "Installed");
    ppd.choice(option, "False", "Not Installed");
    ppd.closeUi(option);
}

// A text the user types, with "None" for not set.
void customText(Ppd& ppd, std::string_view option, std::string_view text, std::string_view noneText,
                std::string_view customLabel, std::string_view parameter, std::string_view parameterText,
                std::string_view range)
{
    const std::string name(option);
    ppd.openUi(option, text, "PickOne", "None");
    ppd.choice(option, "None", noneText);
    ppd.line("*CloseUI: *" + name);
    ppd.line("*Custom" + name + " True/" + std::string(customLabel) + ": \"\"");
    ppd.line("*ParamCustom" + name + " " + std::string(parameter) + "/" + std::string(parameterText) + ": 1 " +
             std::string(range));
    ppd.blank();
}

void writeHead(Ppd& ppd, const PrinterModel& m)
{
    ppd.quoted("PPD-Adobe", "4.3");
    ppd.line("*% PPD for the " + std::string(m.makeAndModel) + ", written by pdftopjl's build from its model");
    ppd.line("*% table: change the table, not this file. The printer takes PDF behind a PJL job header.");
    ppd.quoted("FormatVersion", "4.3");
    ppd.quoted("FileVersion", "2.0");
    ppd.keyword("LanguageVersion", "English");
    ppd.keyword("LanguageEncoding", "ISOLatin1");
    ppd.quoted("PCFileName", m.pcFileName);
    ppd.quoted("Manufacturer", m.manufacturer);
    ppd.line("*Product: \"(", m.makeAndModel, ")\"");
    ppd.quoted("ModelName", m.modelName);
    ppd.quoted("ShortNickName", m.modelName);
    ppd.quoted("NickName", std::string(m.modelName) + ", pdftopjl");
    ppd.quoted("1284DeviceID", m.deviceId);
    ppd.quoted("PSVersion", "(3010.000) 0");
    ppd.quoted("LanguageLevel", "3");
    ppd.keyword("ColorDevice", m.colour ? "True" : "False");
    ppd.keyword("DefaultColorSpace", m.colour ? "RGB" : "Gray");
    ppd.keyword("FileSystem", "False");
    ppd.quoted("Throughput", std::to_string(m.pagesPerMinute));
    ppd.keyword("TTRasterizer", "Type42");
    if (m.landscape != LandscapeDirection::Unknown)
        ppd.keyword("LandscapeOrientation", m.landscape == LandscapeDirection::Minus90 ? "Minus90" : "Plus90");
    ppd.keyword("cupsVersion", "2.4");
    ppd.quoted("cupsLanguages", "en");
    ppd.line("*% The network backends read supply levels and the printer's state over SNMP.");
    ppd.keyword("cupsSNMPSupplies", "True");
    ppd.line("*% PDF goes to the filter directly; images and text arrive as PDF from imagetopdf and");
    ppd.line("*% texttopdf. The filter runs the layout filter itself for the layout options a job");
    ppd.line("*% asks for, so that nothing is laid out twice; its first line names the type it takes.");
    ppd.quoted("cupsFilter2", std::string(kPrinterInputType) + " application/vnd.zarelle-pjl 0 pdftopjl");
    ppd.quoted("cupsFilter2", "application/vnd.cups-pdf application/vnd.zarelle-pjl 0 pdftopjl");
    if (m.codeSet == CodeSet::Utf8) ppd.quoted("ZRPrinterLanguageEncoding", "UTF-8");
    ppd.quoted("ZRBypassTray", m.bypassTray);
    ppd.blank();
}

void writeInstallable(Ppd& ppd, const PrinterModel& m)
{
    ppd.line("*OpenGroup: InstallableOptions/Installable Options");
    for (const TrayEntry& tray : m.trays)
        if (tray.optional) installable(ppd, std::string("Option") + tray.ppdChoice, tray.text);
    if (Staples(m)) installable(ppd, "OptionFinisher", "Finisher");
    if (Punches(m)) installable(ppd, "OptionPunch", "Punch Unit");
    ppd.line("*CloseGroup: InstallableOptions");
    ppd.blank();
}

void writeSizes(Ppd& ppd, const PrinterModel& m)
{
    const PpdSize fallback = ppdSize(m.defaultSize);
    for (const char* option : {"PageSize", "PageRegion"}) {
        ppd.openUi(option, option == std::string_view("PageSize") ? "Page Size" : "Page Region", "PickOne",
                   fallback.name);
        for (const char* name : m.sizes) {
            const PpdSize s = ppdSize(name);
            ppd.choice(option, s.name, s.text,
                       "<</PageSize[" + std::to_string(s.width) + " " + std::to_string(s.length) +
                           "]>>setpagedevice");
        }
        ppd.closeUi(option);
    }
    const long edge = m.marginPoints;
    ppd.keyword("DefaultImageableArea", fallback.name);
    for (const char* name : m.sizes) {
        const PpdSize s = ppdSize(name);
        ppd.line("*ImageableArea " + s.name + "/" + s.text + ": \"" + std::to_string(edge) + " " +
                 std::to_string(edge) + " " + std::to_string(s.width - edge) + " " + std::to_string(s.length - edge) +
                 "\"");
    }
    ppd.blank();
    ppd.keyword("DefaultPaperDimension", fallback.name);
    for (const char* name : m.sizes) {
        const PpdSize s = ppdSize(name);
        ppd.line("*PaperDimension " + s.name + "/" + s.text + ": \"" + std::to_string(s.width) + " " +
                 std::to_string(s.length) + "\"");
    }
    ppd.blank();
}

void writeMedia(Ppd& ppd, const PrinterModel& m)
{
    if (m.duplex)
        pickOne(ppd, "Duplex", "Two-Sided", "None",
                {{"None", "Off"}, {"DuplexNoTumble", "Long-Edge Binding"}, {"DuplexTumble", "Short-Edge Binding"}});

    ppd.line("*% cupsd lists the choices as media-source-supported (Tray1 -> tray-1, MPTray -> by-pass-tray).");
    ppd.openUi("InputSlot", "Paper Source", "PickOne", "AutoSelect");
    ppd.choice("InputSlot", "AutoSelect", "Auto Select");
    for (const TrayEntry& tray : m.trays) ppd.choice("InputSlot", tray.ppdChoice, tray.text);
    ppd.closeUi("InputSlot");

    pickOne(ppd, "ZRMSILeadingEdge", "Bypass Tray Feed Edge", "ShortEdge",
            {{"ShortEdge", "Short Edge"},
             {"LongEdge", "Long Edge"},
             {"ShortEdgeR", "Short Edge, Rotated"},
             {"LongEdgeR", "Long Edge, Rotated"}});

    ppd.openUi("MediaType", "Paper Type", "PickOne", m.mediaTypes.front().ppdChoice);
    for (const MediaTypeEntry& type : m.mediaTypes) ppd.choice("MediaType", type.ppdChoice, type.text);
    ppd.closeUi("MediaType");

    ppd.line("*% cupsd lists the choices as output-bin-supported (FaceDown -> face-down).");
    ppd.openUi("OutputBin", "Output Tray", "PickOne", m.bins.front().ppdChoice);
    for (const OutputBinEntry& bin : m.bins) ppd.choice("OutputBin", bin.ppdChoice, bin.text);
    ppd.closeUi("OutputBin");
}

void writeColourAndQuality(Ppd& ppd, const PrinterModel& m)
{
    ppd.openUi("ColorModel", "Color Mode", "PickOne", m.colour ? "RGB" : "Gray");
    if (m.colour) ppd.choice("ColorModel", "RGB", "Color");
    ppd.choice("ColorModel", "Gray", "Grayscale");
    ppd.closeUi("ColorModel");

    pickOne(ppd, "cupsPrintQuality", "Print Quality", "Normal",
            {{"Draft", "High Speed"}, {"Normal", "Standard"}, {"High", "High Quality"}});

    // print-color-mode and print-quality reach the options through presets.
    // None for the printer's own colour at normal quality, so that an
    // ordinary job keeps the queue's ColorModel and cupsPrintQuality defaults.
    ppd.line("*% print-color-mode and print-quality map onto ColorModel and cupsPrintQuality through presets;");
    ppd.line("*% none for the ordinary job, which keeps the queue's own defaults.");
    const std::string gray = m.colour ? "*ColorModel Gray " : "";
    const std::string mono = " com.apple.print.preset.output-mode monochrome com.apple.print.preset.quality ";
    const std::string colour = " com.apple.print.preset.output-mode color com.apple.print.preset.quality ";
    ppd.line("*APPrinterPreset Gray_Draft/Grayscale, Draft: \"" + gray + "*cupsPrintQuality Draft" + mono + "low\"");
    if (m.colour) ppd.line("*APPrinterPreset Gray_Normal/Grayscale: \"*ColorModel Gray" + mono + "mid\"");
    ppd.line("*APPrinterPreset Gray_High/Grayscale, High Quality: \"" + gray + "*cupsPrintQuality High" + mono +
             "high\"");
    if (m.colour) {
        ppd.line("*APPrinterPreset Color_Draft/Color, Draft: \"*cupsPrintQuality Draft" + colour + "low\"");
        ppd.line("*APPrinterPreset Color_High/Color, High Quality: \"*cupsPrintQuality High" + colour + "high\"");
    }
    ppd.blank();

    boolean(ppd, "ZRTrapping", "Trapping", true);
}

void writeFinishing(Ppd& ppd, const PrinterModel& m)
{
    static constexpr std::string_view kStaples[][2] = {{"UpperLeftSinglePort", "One Staple, Upper Left"},
                                                       {"LeftDoublePort", "Two Staples, Left"},
                                                       {"TopDoublePort", "Two Staples, Top"}};
    if (Staples(m)) {
        ppd.openUi("ZRStaple", "Staple", "PickOne", "None");
        ppd.choice("ZRStaple", "None", "Off");
        for (const auto& staple : kStaples) ppd.choice("ZRStaple", staple[0], staple[1]);
        ppd.closeUi("ZRStaple");
    }
    if (Punches(m)) pickOne(ppd, "ZRPunch", "Punch", "None", {{"None", "Off"}, {"true", "On"}});
    if (Staples(m) || Punches(m)) {
        ppd.line("*% IPP finishings onto the stapler and punch options (finishings-supported).");
        if (Staples(m)) ppd.line("*cupsIPPFinishings 4/staple: \"*ZRStaple UpperLeftSinglePort\"");
        if (Punches(m)) ppd.line("*cupsIPPFinishings 5/punch: \"*ZRPunch true\"");
        if (Staples(m)) {
            ppd.line("*cupsIPPFinishings 20/staple-top-left: \"*ZRStaple UpperLeftSinglePort\"");
            ppd.line("*cupsIPPFinishings 28/staple-dual-left: \"*ZRStaple LeftDoublePort\"");
            ppd.line("*cupsIPPFinishings 29/staple-dual-top: \"*ZRStaple TopDoublePort\"");
        }
        ppd.blank();
    }

    ppd.line("*% What the administrator has not fitted cannot be chosen.");
    for (const TrayEntry& tray : m.trays)
        if (tray.optional)
            ppd.constraint(std::string("*Option") + tray.ppdChoice + " False", std::string("*InputSlot ") + tray.ppdChoice);
    if (Staples(m)) {
        for (const auto& staple : kStaples) ppd.constraint("*OptionFinisher False", "*ZRStaple " + std::string(staple[0]));
        for (const OutputBinEntry& bin : m.bins)
            if (bin.onFinisher) ppd.constraint("*OptionFinisher False", std::string("*OutputBin ") + bin.ppdChoice);
    }
    if (Punches(m)) ppd.constraint("*OptionPunch False", "*ZRPunch true");
    ppd.blank();
}

void writeOffice(Ppd& ppd)
{
    ppd.line("*% Office features. cupsd publishes the job-password (4 to 8 digits, sent plain: the");
    ppd.line("*% length of this example gives the most digits), job-account-id and");
    ppd.line("*% job-accounting-user-id attributes that IPP clients ask for; the filter reads them.");
    ppd.quoted("cupsJobPassword", "11111111");
    ppd.keyword("cupsJobAccountId", "True");
    ppd.keyword("cupsJobAccountingUserId", "True");
    ppd.blank();

    pickOne(ppd, "ZRPrintType", "Print Type", "Normal",
            {{"Normal", "Print Now"},
             {"Stored", "Stored Print (Held at the Printer)"},
             {"Proof", "Proof Print (One Copy First)"}});

    customText(ppd, "ZRPasscode", "Stored Print Passcode", "None", "Passcode", "Passcode",
               "Passcode (4 to 8 digits)", "passcode 4 8");
    customText(ppd, "ZRUserName", "User Name at the Printer", "Not Set", "User Name", "Name", "User Name",
               "string 1 72");
    customText(ppd, "ZRJobName", "Job Name at the Printer", "The Document's Title", "Job Name", "Name", "Job Name",
               "string 1 192");
    customText(ppd, "ZRAccountId", "Account", "None", "Account", "Account", "Account", "string 1 96");

    ppd.line("*% A passcode belongs to a stored print only.");
    ppd.constraint("*ZRPrintType Normal", "*ZRPasscode");
    ppd.constraint("*ZRPrintType Proof", "*ZRPasscode");
    ppd.blank();

    boolean(ppd, "ZRTurnPage", "Rotate 180 Degrees", false);
    boolean(ppd, "ZRPDFRasterizedMode", "Print as Image", false);

    ppd.keyword("DefaultFont", "Courier");
    ppd.line("*Font Courier: Standard \"(001.004S)\" Standard ROM");
    ppd.line("*Font Helvetica: Standard \"(001.006S)\" Standard ROM");
    ppd.line("*Font Times-Roman: Standard \"(001.007S)\" Standard ROM");
}

}  // namespace

std::string WritePpd(const PrinterModel& model)
{
    Ppd ppd;
    writeHead(ppd, model);
    writeInstallable(ppd, model);
    writeSizes(ppd, model);
    writeMedia(ppd, model);
    writeColourAndQuality(ppd, model);
    writeFinishing(ppd, model);
    writeOffice(ppd);
    ppd.line("*% End of the " + std::string(model.makeAndModel) + " PPD");
    return ppd.take();
}

std::string PpdFileName(const PrinterModel& model)
{
    std::string name = model.pcFileName;
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

}  // namespace pdftopjl
