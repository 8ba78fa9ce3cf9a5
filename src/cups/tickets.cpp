// SPDX-License-Identifier: Apache-2.0
#include "cups/tickets.hpp"

#include <climits>
#include <cstring>

#include "cups/ticket_keys.hpp"
#include "encoding/unicode.hpp"
#include "job/log.hpp"
#include "job/text.hpp"
#include "pjl/field_widths.hpp"

namespace pdftopjl {

namespace {

// Ticket texts are read through a buffer of this size, so longer values are
// cut before they are decoded or converted.
constexpr size_t kTicketTextLimit = 1023;

// How the header treats a text, which decides whether its field can hold it.
enum class Kind { AsGiven, Name, Coded };

struct TextRow {
    const char* key;
    std::string& (*place)(JobTicket&, Choices&);
    size_t width;  // bytes the header keeps
    Kind kind = Kind::AsGiven;
};

struct IntegerRow {
    const char* key;
    int32_t& (*place)(JobTicket&, Choices&);
};

#define T(member) [](JobTicket& t, Choices&) -> std::string& { return t.member; }
#define C(member) [](JobTicket&, Choices& c) -> std::string& { return c.member; }
#define TI(member) [](JobTicket& t, Choices&) -> int32_t& { return t.member; }
#define CI(member) [](JobTicket&, Choices& c) -> int32_t& { return c.member; }

const IntegerRow kIntegers[] = {
    {kPrintTypeTicketKey, CI(printType)},
    {kDocumentNameTypeTicketKey, CI(documentNameType)},
    {kKVRManageTypeListTicketKey, TI(accounting.manageType)},
    {kKVRUserIDListCtrlTicket, TI(accounting.adminUserIdListCtrl)},
    {kKVRAdminUserInputRadioBtnTicket, TI(accounting.adminUserInputRadio)},
    {kDuplexingTicketKey, CI(duplexing)},
};

using namespace header_width;

const TextRow kTexts[] = {
    {kPrintTypeUserNameTicketKey, T(held.userName), kUserName, Kind::Name},
    {kPrintTypePasswordTicketKey, T(held.passcode), kPassword},
    {kDocumentNameTicketKey, T(held.jobName), kJobName, Kind::Name},

    {kKVRMacHostNameStringTicket, T(accounting.clientName), kClientName},
    {kKVRIPAddressStringTicket, T(accounting.clientAddress), kClientAddress},
    {kKVRUserIDTextEditTicket, T(accounting.userId), kUserId, Kind::Name},
    {kKVRUserPasswordTextEditTicket, T(accounting.password), kPassword, Kind::Coded},
    {kKVRInputUserIDTextEditTicket, T(accounting.inputUserId), kUserId, Kind::Name},
    {kKVRInputUserPasswordTextEditTicket, T(accounting.inputUserPassword), kPassword, Kind::Coded},
    {kKVRLoginTextEditTicket, T(accounting.loginName), kShortText},
    {kKVRHkgnPrintDateTicketKey, T(accounting.printDate), kShortText},
    {kKVRHkgnPrintTimeTicketKey, T(accounting.printTime), kShortText},
    {kKVRHostNameStringTicket, T(accounting.clientHostName), kShortText},
    {kKVRAdminUserIDTextEditTicket, T(accounting.adminUserId), kUserId, Kind::Name},
    {kKVRAdminUserPasswordTextEditTicket, T(accounting.adminPassword), kPassword, Kind::Coded},

    {kCollateTicketKey, C(collate), kShortText},
    {kMediaTicketKey, C(media), kShortText},
    {kInputSlotTicketKey, C(inputSlot), kShortText},
    {kMediaTypeTicketKey, C(mediaType), kShortText},
    {kColorModeTicketKey, C(colorMode), kShortText},
    {kOutputModeTicketKey, C(outputMode), kShortText},
    {kStapleTicketKey, C(staple), kShortText},
    {kPunchTicketKey, C(punch), kShortText},
    {kPDFRasterizedModeTicketKey, C(pdfRasterizedMode), kShortText},
    {kScalingTicketKey, T(layout.dialogScaling), kShortText},
    {kPageBorderTicketKey, T(layout.pageBorder), kShortText},
    {kOutputOrderTicketKey, T(layout.outputOrder), kShortText},
    {kPageToPaperMappingTicketKey, T(layout.dialogPageToPaperMapping), kShortText},
    {kPageSetTicketKey, T(layout.pageSet), kShortText},
    {kMirrorTicketKey, T(layout.mirror), kShortText},
    {kMSILeadingEdgeTicketKey, C(msiLeadingEdge), kShortText},
    {kTrappingTicketKey, C(trapping), kShortText},
    {kPageFormatOrientationTicketKey, C(pageFormatOrientation), kShortText},
    {kPrintSettingsOrientationTicketKey, C(printSettingsOrientation), kShortText},
    {kTurnPageTicketKey, C(turnPage), kShortText},
};

#undef T
#undef C
#undef TI
#undef CI

std::string_view limited(const char* value)
{
    return std::string_view(value, strnlen(value, kTicketTextLimit));
}

// Pages per sheet from the layout counts; a count that is present alone
// stands for the whole.  0 when they give no usable count: both absent, a
// count that is not positive, or a product beyond the 32-bit range.
long long layoutCount(const char* rows, const char* columns)
{
    if (rows == nullptr && columns == nullptr) return 0;
    long long count = 1;
    for (const char* value : {rows, columns}) {
        if (value == nullptr) continue;
        const int32_t factor = ParseDecimalInt32(value);
        if (factor <= 0) return 0;
        count *= factor;
    }
    return count > INT_MAX ? 0 : count;
}

// A text the header will cut is reported now, since the printer then gets
// less than the dialog sent.  A name a UTF-8 printer gets rebuilt keeps its
// length; one that is not UTF-8 is dropped whole, and said so, later.
void reportCut(const char* key, const std::string& text, size_t width, Kind kind, bool utf8Mode)
{
    if (text.size() <= width) return;
    if (kind == Kind::Coded) return;  // never longer than what was read
    std::u16string units;
    if (kind == Kind::Name && utf8Mode && !DecodeUTF8(text, &units)) return;
    job::Logf(job::Severity::Warning, "The setting %s was cut to %zu bytes", key, width);
}

}  // namespace

std::string DecodeNumericEscape(std::string_view text)
{
    if (text.size() < 2 || text[0] != '/') return std::string(text);
    std::string decoded;
    for (size_t at = 1; at < text.size();) {
        size_t end = text.find('/', at);
        if (end == std::string_view::npos) end = text.size();
        const int32_t value = ParseDecimalInt32(text.substr(at));
        // A zero byte ends the text, as do values beyond a byte.
        if (value >= 256 || (value & 0xFF) == 0) break;
        decoded += static_cast<char>(value & 0xFF);
        at = end + 1;
    }
    return decoded;
}

std::optional<int32_t> ReadTicketInteger(const JobOptions& options, const char* key)
{
    const char* value = options.get(key);
    if (value == nullptr) return std::nullopt;
    return ParseDecimalInt32(value);
}

void ReadTickets(const JobOptions& options, bool utf8Mode, JobTicket& ticket, Choices& choices)
{
    for (const IntegerRow& row : kIntegers)
        row.place(ticket, choices) = ReadTicketInteger(options, row.key).value_or(-1);
    for (const TextRow& row : kTexts) {
        std::string& to = row.place(ticket, choices);
        to.clear();
        if (const char* value = options.get(row.key)) {
            to = DecodeNumericEscape(limited(value));
            reportCut(row.key, to, row.width, row.kind, utf8Mode);
        }
    }
    // Pages per sheet: number-up as given (limited as a ticket is), else the
    // dialog's rows x columns.
    if (const char* numberUp = options.get(kNumberUpTicketKey))
        ticket.layout.numberUp = std::string(limited(numberUp).substr(0, kTicketTextLimit - 1));
    const long long count =
        layoutCount(options.get(kLayoutRowCountTicketKey), options.get(kLayoutColumnCountTicketKey));
    ticket.layout.dialogPagesPerSheet = count > 1 ? static_cast<int32_t>(count) : 1;
}

}  // namespace pdftopjl
