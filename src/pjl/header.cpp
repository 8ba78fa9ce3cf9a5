// SPDX-License-Identifier: Apache-2.0
#include "pjl/header.hpp"

#include <string>

#include "encoding/convert.hpp"
#include "job/log.hpp"
#include "pjl/docblock.hpp"
#include "pjl/docname.hpp"
#include "pjl/field_widths.hpp"
#include "pjl/owner.hpp"
#include "ticket/passcode.hpp"

namespace pdftopjl {

namespace {

constexpr char kUEL[] = "\x1b%-12345X";

const char* stringCodeSet(CodeSet codeSet)
{
    switch (codeSet) {
    case CodeSet::Utf8: return "\"UTF8\"";
    case CodeSet::IsoLatin1: return "\"HPROMAN8\"";
    case CodeSet::ShiftJis: break;
    }
    return "\"SJISX0208\"";
}

enum class Coding { AsGiven, PrinterCodeSet, UTF8 };

// The text in its coding, cut to `keep` bytes (possibly inside a character,
// as the printer's fields are).
std::string encoded(const std::string& text, Coding coding, size_t keep)
{
    if (coding == Coding::AsGiven) return text.substr(0, keep);
    // Room for the whole result: a unit never takes more bytes than it had.
    std::string buffer(text.size() + 4, '\0');
    const int length = coding == Coding::PrinterCodeSet
                           ? ConvertToPrinterCodeSet(text.c_str(), buffer.data(), static_cast<int>(buffer.size()))
                           : RebuildAsUTF8(text.c_str(), buffer.data(), static_cast<int>(buffer.size()));
    buffer.resize(static_cast<size_t>(length));
    return buffer.substr(0, keep);
}

}  // namespace

HeaderTexts EncodeHeaderTexts(const JobTicket& ticket, const PrinterProfile& printer)
{
    using namespace header_width;
    const bool utf8Mode = printer.codeSet == CodeSet::Utf8;
    // Names go as given to a Shift-JIS printer, rebuilt for a UTF-8 one;
    // passwords always in the printer's code set.
    const Coding name = utf8Mode ? Coding::UTF8 : Coding::AsGiven;
    const Coding coded = Coding::PrinterCodeSet;
    const HeldJob& held = ticket.held;
    const Accounting& given = ticket.accounting;

    HeaderTexts texts;
    texts.documentName = FitDocumentName(ticket.title, utf8Mode, ticket.productType);
    const Coding text = utf8Mode ? Coding::UTF8 : coded;
    texts.userName = encoded(held.userName, held.userNameIsText ? text : name, kUserName);
    texts.jobName = encoded(held.jobName, held.jobNameIsText ? text : name, kJobName);
    if (held.jobNameSource != JobNameSource::Given) texts.jobName.clear();

    Accounting& a = texts.accounting;
    a.manageType = given.manageType;
    a.adminUserIdListCtrl = given.adminUserIdListCtrl;
    a.adminUserInputRadio = given.adminUserInputRadio;
    a.clientName = encoded(given.clientName, Coding::AsGiven, kClientName);
    a.clientAddress = encoded(given.clientAddress, Coding::AsGiven, kClientAddress);
    a.userId = encoded(given.userId, name, kUserId);
    a.password = encoded(given.password, coded, kPassword);
    a.inputUserId = encoded(given.inputUserId, name, kUserId);
    a.inputUserPassword = encoded(given.inputUserPassword, coded, kPassword);
    a.loginName = encoded(given.loginName, Coding::AsGiven, kShortText);
    a.printDate = encoded(given.printDate, Coding::AsGiven, kShortText);
    a.printTime = encoded(given.printTime, Coding::AsGiven, kShortText);
    a.clientHostName = encoded(given.clientHostName, Coding::AsGiven, kShortText);
    a.adminUserId = encoded(given.adminUserId, name, kUserId);
    a.adminPassword = encoded(given.adminPassword, coded, kPassword);
    // The account the job is charged to is the owner's user, unless the
    // dialog's accounting chose one.
    if (a.manageType == -1 && !given.accountId.empty()) {
        a.manageType = 2;
        a.adminUserIdListCtrl = 2;
        a.userId = encoded(given.accountId, Coding::AsGiven, kUserId);
    }

    // "N" keeps what the job gave apart from the plain one page per sheet.
    const Layout& layout = ticket.layout;
    std::string numberUp = "1";
    if (layout.numberUp) numberUp = "N" + *layout.numberUp;
    else if (layout.dialogPagesPerSheet > 1) numberUp.assign("N").append(std::to_string(layout.dialogPagesPerSheet));
    texts.numberUp = encoded(numberUp, coded, kShortText);

    // A held job is listed on the printer's panel by user and job name:
    // where the job gave none, its user and its title, as the print dialog's
    // own defaults are.
    if (held.type != PrintType::Normal) {
        if (texts.userName.empty() && !ticket.user.empty())
            texts.userName = encoded(ticket.user, utf8Mode ? Coding::UTF8 : coded, kUserName);
        if (held.jobNameSource == JobNameSource::Unset && !texts.documentName.empty())
            texts.jobNameIsTitle = true;
    }
    if (held.jobNameSource == JobNameSource::Title) texts.jobNameIsTitle = true;
    return texts;
}

bool StoredJobPasscodeUsable(const JobTicket& ticket)
{
    if (ticket.held.type != PrintType::Store) return true;
    constexpr const char* kNothingSent = "; nothing was sent to the printer";
    switch (ticket.passcodeIssue) {
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
    const std::string& passcode = ticket.held.passcode;
    if (ticket.passcodeIssue == PasscodeIssue::None && (passcode.empty() || PasscodeFollowsTheRule(passcode)))
        return true;
    job::Logf(job::Severity::Error, "The stored job's passcode must be %zu to %zu digits%s",
              kPasscodeMinDigits, kPasscodeMaxDigits, kNothingSent);
    return false;
}

void WriteJobHeader(const HeaderInputs& in, PjlWriter& out)
{
    out.raw(std::string(kUEL) + "@PJL JOB MODE=PRINTER\n");
    // Changes only come unasked, so the state as it stands is asked too:
    // it replaces what an earlier job reported.
    if (in.askStatus) out.raw("@PJL USTATUS DEVICE = ON\n@PJL INFO STATUS\n");
    out.set("STRINGCODESET", stringCodeSet(in.printer.codeSet));
    out.comment("begin");
    out.comment("Version:4.00");
    WriteOwnerBlocks(OwnerInputs{in.texts.accounting, in.printer.codeSet == CodeSet::Utf8,
                                 in.ticket.user, in.host, in.now},
                     out);
    WriteDocumentBlock(in.ticket, in.printer, in.texts, out);
    out.attr("FSIZ", std::to_string(in.fileSize));
    out.raw("@PJL ENTER LANGUAGE=PDF\n");
}

void WriteJobTrailer(PjlWriter& out, bool statusAsked)
{
    out.raw(kUEL);
    // The PDF ends at the universal exit: the request is PJL again after it.
    if (statusAsked) out.raw("@PJL USTATUSOFF\n");
    out.raw("@PJL EOJ\n");
}

}  // namespace pdftopjl
