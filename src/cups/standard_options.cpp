// SPDX-License-Identifier: Apache-2.0
#include "cups/standard_options.hpp"

#include <cups/cups.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "job/log.hpp"
#include "job/text.hpp"
#include "pjl/field_widths.hpp"
#include "ticket/passcode.hpp"

namespace pdftopjl {

namespace {

struct Alias {
    const char* from;  // a standard name (IPP keyword or standard PPD choice)
    const char* to;    // the printer's own choice
};

template <std::size_t N>
const char* lookup(const Alias (&table)[N], std::string_view name)
{
    for (const Alias& a : table)
        if (name == a.from) return a.to;
    return nullptr;
}

// media-source keywords and the standard InputSlot choices.
const Alias kTrays[] = {
    {"auto", "AutoSelect"},        {"AutoSelect", "AutoSelect"}, {"tray-1", "1stTray"},
    {"Tray1", "1stTray"},          {"tray-2", "2ndTray"},        {"Tray2", "2ndTray"},
    {"tray-3", "3rdTray"},         {"Tray3", "3rdTray"},         {"tray-4", "4thTray"},
    {"Tray4", "4thTray"},          {"by-pass-tray", "BypassTray"}, {"manual", "BypassTray"},
    {"MPTray", "BypassTray"},      {"main", "1stTray"},
};

// media-type keywords; the MediaType choices themselves pass as they are.
const Alias kMediaTypes[] = {
    {"auto", "Default"},          {"stationery", "Plain"},       {"stationery-recycled", "Recycled"},
    {"stationery-heavyweight", "Thick"}, {"cardstock", "Thick"}, {"thick", "Thick"},
    {"Default", "Default"},       {"Plain", "Plain"},            {"Recycled", "Recycled"},
    {"Thick", "Thick"},
};

// print-quality values and the cupsPrintQuality choices.
const Alias kQualities[] = {
    {"3", "HighSpeed"}, {"4", "Standard"}, {"5", "HighQuality"},
    {"Draft", "HighSpeed"}, {"Normal", "Standard"}, {"High", "HighQuality"},
};

// The standard ColorModel choices.
const Alias kColourModels[] = {{"RGB", "Color"}, {"CMYK", "Color"}, {"Gray", "Black"}};

// output-bin keywords and the OutputBin choices.
const Alias kOutputBins[] = {
    {"face-down", "FaceDown"}, {"face-up", "FaceUp"},     {"stacker-1", "Stacker1"},
    {"stacker-2", "Stacker2"}, {"FaceDown", "FaceDown"}, {"FaceUp", "FaceUp"},
    {"Stacker1", "Stacker1"},  {"Stacker2", "Stacker2"},
};

// finishings enums: staple positions and punch.
const Alias kStaples[] = {
    {"4", "UpperLeftSinglePort"}, {"20", "UpperLeftSinglePort"},
    {"28", "LeftDoublePort"},     {"29", "TopDoublePort"},
};

std::vector<std::string_view> listItems(const char* value)
{
    std::vector<std::string_view> items;
    if (value == nullptr) return items;
    std::string_view rest = value;
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        items.push_back(rest.substr(0, comma));
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return items;
}

void fill(std::string& field, const char* value)
{
    if (field.empty() && value != nullptr && *value != '\0') field = value;
}

template <std::size_t N>
const char* mapped(const Alias (&table)[N], const char* value)
{
    return value != nullptr ? lookup(table, value) : nullptr;
}

// A tray, paper or media type named among the items of a media list.
template <std::size_t N>
const char* fromMediaList(const Alias (&table)[N], const char* media)
{
    for (std::string_view item : listItems(media))
        if (const char* to = lookup(table, item)) return to;
    return nullptr;
}

void fillFromDefault(std::string& field, const ppd_file_t* ppd, const char* option)
{
    fill(field, PpdDefaultChoice(ppd, option));
}

}  // namespace

std::string PaperName(std::string_view media)
{
    // The PPD's own names first: "B5" is JIS B5 there, ISO B5 among the
    // legacy names.
    const std::string name(media);
    pwg_media_t* pwg = pwgMediaForPPD(name.c_str());
    if (pwg == nullptr) pwg = pwgMediaForPWG(name.c_str());
    if (pwg == nullptr) pwg = pwgMediaForLegacy(name.c_str());
    if (pwg == nullptr && !name.empty()) {
        // PPD names typed in lower case ("a4", "letter"), as cupsd itself
        // takes them for a PPD queue.
        std::string capitalised;
        for (char c : name) capitalised += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        capitalised[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capitalised[0])));
        pwg = pwgMediaForPPD(capitalised.c_str());
    }
    return pwg != nullptr && pwg->ppd != nullptr ? std::string(pwg->ppd) : std::string();
}

namespace {

// The tray the standard options ask for: InputSlot, media-source, a source
// in the media list.  The InputSlot default is the queue's, read with the
// other defaults.
const char* standardTray(const JobOptions& options)
{
    if (const char* slot = mapped(kTrays, options.get("InputSlot"))) return slot;
    if (const char* source = mapped(kTrays, options.get("media-source"))) return source;
    return fromMediaList(kTrays, options.get("media"));
}

const char* standardQuality(const JobOptions& options)
{
    if (const char* quality = mapped(kQualities, options.get("cupsPrintQuality"))) return quality;
    return mapped(kQualities, options.get("print-quality"));
}

// The standard option, else print-color-mode, where only monochrome is a
// request: lp sends the queue's own print-color-mode with every job, which
// must not undo the queue's default colour mode.
const char* standardColour(const JobOptions& options)
{
    if (const char* model = mapped(kColourModels, options.get("ColorModel"))) return model;
    const char* mode = options.get("print-color-mode");
    return mode != nullptr && std::strcmp(mode, "monochrome") == 0 ? "Black" : nullptr;
}

struct LegacyPair {
    const char* legacy;  // the printer's own option
    std::string Choices::*choice;
    const char* (*standard)(const JobOptions&);
};

const LegacyPair kLegacyPairs[] = {
    {"ZRInputSlot", &Choices::inputSlot, standardTray},
    {"ZROutputMode", &Choices::outputMode, standardQuality},
    {"ZRColorMode", &Choices::colorMode, standardColour},
};

}  // namespace

void YieldLegacyDefaults(const JobOptions& options, const ppd_file_t* ppd, Choices& choices)
{
    for (const LegacyPair& pair : kLegacyPairs) {
        const char* legacy = options.get(pair.legacy);
        const char* queueDefault = PpdDefaultChoice(ppd, pair.legacy);
        if (legacy == nullptr || queueDefault == nullptr || std::strcmp(legacy, queueDefault) != 0) continue;
        if (const char* standard = pair.standard(options)) choices.*pair.choice = standard;
    }
}

void ApplyStandardOptions(const JobOptions& options, Choices& f)
{
    const char* media = options.get("media");

    fill(f.inputSlot, standardTray(options));

    // Paper: PageSize, then the size in the media list, as the PPD names it.
    // The media ticket, as sent, yields to its PPD name.
    std::string paper;
    if (const char* pageSize = options.get("PageSize")) paper = PaperName(pageSize);
    for (std::string_view item : listItems(media)) {
        if (!paper.empty()) break;
        paper = PaperName(item);
    }
    if (!paper.empty()) f.media = paper;

    fill(f.mediaType, mapped(kMediaTypes, options.get("media-type")));
    fill(f.mediaType, fromMediaList(kMediaTypes, media));

    fill(f.colorMode, standardColour(options));
    fill(f.outputMode, standardQuality(options));

    fill(f.outputBin, mapped(kOutputBins, options.get("OutputBin")));
    fill(f.outputBin, mapped(kOutputBins, options.get("output-bin")));

    // IPP's own way to ask for collated copies; Collate, read with the
    // tickets, comes first.
    if (const char* handling = options.get("multiple-document-handling")) {
        if (std::strcmp(handling, "separate-documents-collated-copies") == 0) fill(f.collate, "true");
        if (std::strcmp(handling, "separate-documents-uncollated-copies") == 0) fill(f.collate, "false");
    }

    // finishings=3 (none) comes with every lp job: it asks for nothing.
    for (std::string_view item : listItems(options.get("finishings"))) {
        if (const char* staple = lookup(kStaples, item)) fill(f.staple, staple);
        if (item == "5") fill(f.punch, "true");
    }
}

void ApplyQueueDefaults(const ppd_file_t* ppd, Choices& f)
{
    if (ppd == nullptr) return;
    // The standard tray's default counts only when it names a tray; its
    // AutoSelect leaves the choice to the printer's own option.
    if (const char* slot = mapped(kTrays, PpdDefaultChoice(ppd, "InputSlot"));
        slot != nullptr && std::strcmp(slot, "AutoSelect") != 0)
        fill(f.inputSlot, slot);
    fillFromDefault(f.inputSlot, ppd, "ZRInputSlot");
    // A PPD without that option leaves it to the standard default, AutoSelect too.
    fill(f.inputSlot, mapped(kTrays, PpdDefaultChoice(ppd, "InputSlot")));
    fillFromDefault(f.outputMode, ppd, "ZROutputMode");
    fillFromDefault(f.colorMode, ppd, "ZRColorMode");
    // The standard quality and colour options of the PPDs that no longer
    // carry the printer's own.
    fill(f.outputMode, mapped(kQualities, PpdDefaultChoice(ppd, "cupsPrintQuality")));
    fill(f.colorMode, mapped(kColourModels, PpdDefaultChoice(ppd, "ColorModel")));
    fillFromDefault(f.trapping, ppd, "ZRTrapping");
    fillFromDefault(f.mediaType, ppd, "MediaType");
    fillFromDefault(f.staple, ppd, "ZRStaple");
    fillFromDefault(f.punch, ppd, "ZRPunch");
    fillFromDefault(f.outputBin, ppd, "OutputBin");
    fillFromDefault(f.turnPage, ppd, "ZRTurnPage");
    fillFromDefault(f.pdfRasterizedMode, ppd, "ZRPDFRasterizedMode");
    if (f.media.empty()) f.media = PaperName(PpdDefaultChoice(ppd, "PageSize") ?: "");
    if (f.inputSlot == "BypassTray") fillFromDefault(f.msiLeadingEdge, ppd, "ZRMSILeadingEdge");
}

std::optional<std::string> CustomValue(const char* choice)
{
    if (choice == nullptr) return std::nullopt;
    std::string_view value = choice;
    if (value.rfind("Custom.", 0) == 0) return std::string(value.substr(7));
    // {Name=value}: one named parameter, as dialogs send it.
    if (value.size() > 2 && value.front() == '{' && value.back() == '}') {
        const size_t equals = value.find('=');
        if (equals != std::string_view::npos)
            return std::string(value.substr(equals + 1, value.size() - equals - 2));
    }
    return std::nullopt;
}

void ApplyOfficeOptions(const JobOptions& options, const ppd_file_t* ppd,
                        JobTicket& ticket, Choices& choices)
{
    // The job's own choice of a PPD option, else the queue's.
    auto choice = [&](const char* option) {
        const char* value = options.get(option);
        return value != nullptr ? value : PpdDefaultChoice(ppd, option);
    };
    HeldJob& held = ticket.held;

    // job-password arrives plain from lp and IPP clients; a hashed one (or
    // one cupsd wrote as <hex>, which CUPS 2.4 garbles) cannot be sent.
    std::optional<std::string> jobPassword;
    bool jobPasswordEncrypted = false;
    if (const char* password = options.get("job-password")) {
        const char* encryption = options.get("job-password-encryption");
        jobPasswordEncrypted =
            (encryption != nullptr && std::strcmp(encryption, "none") != 0) || password[0] == '<';
        if (!jobPasswordEncrypted) jobPassword = password;
    }
    const char* jobPasscode = options.get("ZRPasscode");
    const std::optional<std::string> jobCustomPasscode = CustomValue(jobPasscode);

    // A passcode the job gives (the dialog's, the PPD option's or
    // job-password) without a print type makes a stored job.
    if (choices.printType == -1) {
        const char* type = options.get("ZRPrintType");
        const bool passcodeGiven =
            !held.passcode.empty() || jobCustomPasscode || jobPassword || jobPasswordEncrypted;
        if (type == nullptr && passcodeGiven) type = "Stored";
        if (type == nullptr) type = PpdDefaultChoice(ppd, "ZRPrintType");
        if (type != nullptr && std::strcmp(type, "Stored") == 0) choices.printType = 2;
        if (type != nullptr && std::strcmp(type, "Proof") == 0) choices.printType = 3;
    }
    // The dialog's passcode, else the PPD option's, else job-password.
    if (held.passcode.empty()) {
        const std::optional<std::string>& given = jobCustomPasscode ? jobCustomPasscode : jobPassword;
        if (given) {
            held.passcode = given->substr(0, header_width::kPassword);
            // Asked for, but nothing given: not a stored job for anyone.
            if (given->empty()) ticket.passcodeIssue = PasscodeIssue::Empty;
        } else if (jobPasswordEncrypted) {
            ticket.passcodeIssue = PasscodeIssue::Encrypted;
        } else if (jobPasscode == nullptr) {
            // The queue's default is in the PPD that cupsd hands every user
            // (/printers/NAME.ppd): no secret, so it never holds a job.
            if (CustomValue(PpdDefaultChoice(ppd, "ZRPasscode")))
                ticket.passcodeIssue = PasscodeIssue::QueueDefault;
        }
    }
    if (choices.printType != 2) {
        if (ticket.passcodeIssue == PasscodeIssue::QueueDefault)
            job::Log(job::Severity::Warning, kQueuePasscodeUnused);
        else if (!held.passcode.empty() || ticket.passcodeIssue != PasscodeIssue::None)
            job::Log(job::Severity::Warning,
                     "The passcode is used only by stored jobs (ZRPrintType=Stored); this job is "
                     "not held at the printer");
    }
    if (held.userName.empty())
        if (std::optional<std::string> name = CustomValue(choice("ZRUserName"))) {
            held.userName = *name;
            held.userNameIsText = true;
        }
    if (choices.documentNameType == -1) {
        if (std::optional<std::string> name = CustomValue(choice("ZRJobName"))) {
            choices.documentNameType = 2;
            held.jobName = *name;
            held.jobNameIsText = true;
        }
    }

    // The accounting identity: the owner block's user, unless the dialog's
    // accounting tickets chose one.
    Accounting& accounting = ticket.accounting;
    if (accounting.manageType == -1) {
        std::optional<std::string> account = CustomValue(options.get("ZRAccountId"));
        if (!account) {
            if (const char* id = options.get("job-account-id")) account = id;
        }
        if (!account) account = CustomValue(PpdDefaultChoice(ppd, "ZRAccountId"));
        if (!account) {
            if (const char* user = options.get("job-accounting-user-id")) account = user;
        }
        if (account) accounting.accountId = *account;
    }
}

}  // namespace pdftopjl
