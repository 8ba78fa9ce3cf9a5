#include "settings/tickets.hpp"

#include <climits>
#include <cstring>

#include "encoding/convert.hpp"
#include "job/channel.hpp"
#include "job/text.hpp"
#include "settings/ticket_keys.hpp"

namespace pdftopjl {

namespace {

// Ticket texts are read through a buffer of this size, so longer values are
// cut before they are decoded or converted.
constexpr size_t kTicketTextLimit = 1023;

// Where a row's value goes in the record.
struct Field {
    char* text = nullptr;
    size_t width = 0;
    int32_t* integer = nullptr;
};

template <std::size_t Width>
Field field(FixedText<Width>& text)
{
    return Field{text.data, Width, nullptr};
}
Field field(int32_t& integer) { return Field{nullptr, 0, &integer}; }

enum class Kind { Integer, AbsentFlag, Text, NumberUp };

struct TicketRow {
    const char* key;
    Field (*place)(PrintOptions&);
    Kind kind;
    TicketText text = TicketText::AsGiven;
    bool utf8Only = false;
};

#define PLACE(member) [](PrintOptions& o) { return field(o.member); }

constexpr TicketRow Int(const char* key, Field (*place)(PrintOptions&))
{
    return {key, place, Kind::Integer};
}
constexpr TicketRow Text(const char* key, Field (*place)(PrintOptions&),
                         TicketText text = TicketText::AsGiven, bool utf8Only = false)
{
    return {key, place, Kind::Text, text, utf8Only};
}

constexpr TicketText kName = TicketText::Name;
constexpr TicketText kCoded = TicketText::PrinterCodeSet;
constexpr bool kUTF8Only = true;

// Every ticket in the order the print dialog's tables list them.  The
// accounting identity has four fields that only UTF-8 printers are sent.
const TicketRow kTickets[] = {
    Int(kPrintTypeTicketKey, PLACE(printType.printType)),
    Text(kPrintTypeUserNameTicketKey, PLACE(printType.userName), kName),
    Text(kPrintTypePasswordTicketKey, PLACE(printType.password)),
    Int(kDocumentNameTypeTicketKey, PLACE(printType.documentNameType)),
    Text(kDocumentNameTicketKey, PLACE(printType.documentName), kName),
    Text(kDelayPrintTicketKey, PLACE(printType.delayPrint)),

    Text(kKVRMacHostNameStringTicket, PLACE(kvr.macHostName)),
    Text(kKVRIPAddressStringTicket, PLACE(kvr.ipAddress)),
    Int(kKVRManageTypeListTicketKey, PLACE(kvr.manageType)),
    Int(kKVRUserIDListCtrlTicket, PLACE(kvr.userIdListCtrl)),
    {kKVRUserIDTextEditTicket, PLACE(kvr.userIdAbsent), Kind::AbsentFlag},
    Text(kKVRUserIDTextEditTicket, PLACE(kvr.userId), kName),
    Text(kKVRUserPasswordTextEditTicket, PLACE(kvr.password), kCoded),
    Text(kKVRDomainNameTextEditTicket, PLACE(kvr.domainName), TicketText::AsGiven, kUTF8Only),
    Text(kKVRAccountIDTextEditTicket, PLACE(kvr.accountId), TicketText::AsGiven, kUTF8Only),
    Text(kKVRStorageIDTextEditTicket, PLACE(kvr.storageId), kName, kUTF8Only),
    Text(kKVRStoragePasswordTextEditTicket, PLACE(kvr.storagePassword), kCoded, kUTF8Only),
    Int(kKVRUserInputRadioBtnTicket, PLACE(kvr.userInputRadio)),
    Int(kKVRInputAuthRadioBtnTicketKey, PLACE(kvr.inputAuthRadio)),
    Int(kKVRInputStrgRadioBtnTicketKey, PLACE(kvr.inputStorageRadio)),
    Text(kKVRInputStorageIDTextEditTicket, PLACE(kvr.inputStorageId), kName),
    Text(kKVRInputStoragePasswordTextEditTicket, PLACE(kvr.inputStoragePassword), kCoded),
    Text(kKVRInputUserIDTextEditTicket, PLACE(kvr.inputUserId), kName),
    Text(kKVRInputUserPasswordTextEditTicket, PLACE(kvr.inputUserPassword), kCoded),
    Text(kKVRInputAccountIDTextEditTicket, PLACE(kvr.inputAccountId)),
    Text(kKVRInputDomainNameTextEditTicket, PLACE(kvr.inputDomainName)),
    Text(kKVRLoginTextEditTicket, PLACE(kvr.loginName)),
    Text(kKVRHkgnPrintDateTicketKey, PLACE(kvr.printDate)),
    Text(kKVRHkgnPrintTimeTicketKey, PLACE(kvr.printTime)),
    Text(kKVRHostNameStringTicket, PLACE(kvr.hostNameString)),

    Int(kKVRUserIDListCtrlTicket, PLACE(kvr.adminUserIdListCtrl)),
    Text(kKVRAdminUserIDTextEditTicket, PLACE(kvr.adminUserId), kName),
    Text(kKVRAdminDomainNameTextEditTicket, PLACE(kvr.adminDomainName)),
    Text(kKVRAdminUserPasswordTextEditTicket, PLACE(kvr.adminPassword), kCoded),
    Text(kKVRAdminAccountIDTextEditTicket, PLACE(kvr.adminAccountId)),
    Text(kKVRAdminStorageIDTextEditTicket, PLACE(kvr.adminStorageId), kName),
    Text(kKVRAdminStoragePasswordTextEditTicket, PLACE(kvr.adminStoragePassword), kCoded),
    Int(kKVRAdminUserInputRadioBtnTicket, PLACE(kvr.adminUserInputRadio)),

    {kNumberUpTicketKey, PLACE(features.numberUp), Kind::NumberUp},
    Int(kDuplexingTicketKey, PLACE(features.duplexing)),
    Text(kCollateTicketKey, PLACE(features.collate)),
    Text(kEmitPageSizeCommandTicketKey, PLACE(features.emitPageSizeCommand)),
    Text(kMediaTicketKey, PLACE(features.media)),
    Text(kInputSlotTicketKey, PLACE(features.inputSlot)),
    Text(kMediaTypeTicketKey, PLACE(features.mediaType)),
    Text(kColorModeTicketKey, PLACE(features.colorMode)),
    Text(kOutputModeTicketKey, PLACE(features.outputMode)),
    Text(kStapleTicketKey, PLACE(features.staple)),
    Text(kPunchTicketKey, PLACE(features.punch)),
    Text(kNumPunchHolesTicketKey, PLACE(features.numPunchHoles)),
    Text(kPDFRasterizedModeTicketKey, PLACE(features.pdfRasterizedMode)),
    Text(kJogTicketKey, PLACE(features.jog)),
    Text(kIntCoverSheetTicketKey, PLACE(features.intCoverSheet)),
    Text(kIntBackCoverSheetTicketKey, PLACE(features.intBackCoverSheet)),
    Text(kSignatureTicketKey, PLACE(features.signature)),
    Text(kSigVolTicketKey, PLACE(features.sigVol)),
    Text(kBookletMarginSwitchTicket, PLACE(features.bookletMarginSwitch)),
    Text(kBookletMarginMMShiftTicket, PLACE(features.bookletMarginShift)),
    Text(KPPDPrinterLanguageEncodingKey, PLACE(features.languageEncoding)),
    Text(kScalingTicketKey, PLACE(features.scaling)),
    Text(kPageBorderTicketKey, PLACE(features.pageBorder)),
    Text(kOutputOrderTicketKey, PLACE(features.outputOrder)),
    Text(kPageToPaperMappingTicketKey, PLACE(features.pageToPaperMapping)),
    Text(kPageSetTicketKey, PLACE(features.pageSet)),
    Text(kMirrorTicketKey, PLACE(features.mirror)),
    Text(kMSILeadingEdgeTicketKey, PLACE(features.msiLeadingEdge)),
    Text(kTrappingTicketKey, PLACE(features.trapping)),
    Text(kPageFormatOrientationTicketKey, PLACE(features.pageFormatOrientation)),
    Text(kPrintSettingsOrientationTicketKey, PLACE(features.printSettingsOrientation)),
    Text(kOrientationRequestedTicketKey, PLACE(features.orientationRequested)),
    Text(kTurnPageTicketKey, PLACE(features.turnPage)),
};

#undef PLACE

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

// "N<number-up>" as given, "N<rows x columns>" from the dialog's layout, or
// "1"; the "N" keeps the numeric escape from applying.
std::string numberUpText(const JobOptions& options)
{
    if (const char* numberUp = options.get(kNumberUpTicketKey))
        return "N" + std::string(limited(numberUp).substr(0, kTicketTextLimit - 1));
    const long long count =
        layoutCount(options.get(kLayoutRowCountTicketKey), options.get(kLayoutColumnCountTicketKey));
    return count > 1 ? "N" + std::to_string(count) : "1";
}

// The text in its field's form, cut to the field; a cut is reported, since
// the printer then gets less than the dialog sent.
void storeText(const char* key, const Field& to, const std::string& text, TicketText kind,
               bool utf8Mode)
{
    std::string converted = text;
    if (kind == TicketText::PrinterCodeSet || (kind == TicketText::Name && utf8Mode)) {
        // Room for the whole result: a unit never takes more bytes than it had.
        std::string buffer(text.size() + 4, '\0');
        const int length = kind == TicketText::PrinterCodeSet
                               ? ConvertToPrinterCodeSet(text.c_str(), buffer.data(),
                                                         static_cast<int>(buffer.size()))
                               : RebuildAsUTF8(text.c_str(), buffer.data(),
                                               static_cast<int>(buffer.size()));
        converted.assign(buffer.data(), static_cast<size_t>(length));
    }
    const size_t kept = CopyBounded(to.text, to.width, converted);
    if (kept < converted.size())
        job::Logf(job::Severity::Warning, "The setting %s was cut to %zu bytes", key, kept);
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

std::string ReadTicketText(const JobOptions& options, const char* key, TicketText kind,
                           bool utf8Mode, size_t width)
{
    std::string out(width, '\0');
    const char* value = options.get(key);
    if (value != nullptr && width > 0) {
        const Field to{out.data(), width, nullptr};
        storeText(key, to, DecodeNumericEscape(limited(value)), kind, utf8Mode);
    }
    out.resize(strnlen(out.data(), width));
    return out;
}

void ReadTickets(const JobOptions& options, bool utf8Mode, PrintOptions& record)
{
    for (const TicketRow& row : kTickets) {
        if (row.utf8Only && !utf8Mode) continue;
        const Field to = row.place(record);
        const char* value = options.get(row.key);
        switch (row.kind) {
        case Kind::Integer:
            *to.integer = value == nullptr ? -1 : ParseDecimalInt32(value);
            break;
        case Kind::AbsentFlag:
            *to.integer = value == nullptr ? 1 : 0;
            break;
        case Kind::NumberUp:
            ConvertToPrinterCodeSet(numberUpText(options).c_str(), to.text,
                                    static_cast<int>(to.width));
            break;
        case Kind::Text:
            std::memset(to.text, 0, to.width);
            if (value != nullptr)
                storeText(row.key, to, DecodeNumericEscape(limited(value)), row.text, utf8Mode);
            break;
        }
    }
}

}  // namespace pdftopjl
