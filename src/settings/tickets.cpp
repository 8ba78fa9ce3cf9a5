#include "settings/tickets.hpp"

#include <climits>
#include <cstring>
#include <optional>

#include "encoding/convert.hpp"
#include "settings/decimal.hpp"
#include "settings/job_options.hpp"
#include "settings/print_options.hpp"
#include "settings/ticket_keys.hpp"

namespace {

// Rows take their width from the field itself, so a row can never name a
// width larger than its destination.
template <std::size_t Width>
constexpr TicketData Row(const char* key, FixedText<Width>& field, TicketReader reader)
{
    return TicketData{key, field.data, static_cast<int32_t>(Width), reader};
}

constexpr TicketData Row(const char* key, int32_t& field, TicketReader reader)
{
    return TicketData{key, &field, static_cast<int32_t>(sizeof field), reader};
}

void storeInteger(void* destination, int width, int32_t value)
{
    if (destination == nullptr || width < static_cast<int>(sizeof value)) return;
    std::memcpy(destination, &value, sizeof value);
}

char* textDestination(void* destination, int width)
{
    if (destination == nullptr || width <= 0) return nullptr;
    char* text = static_cast<char*>(destination);
    std::memset(text, 0, static_cast<size_t>(width));
    return text;
}

// Copies at most size-1 bytes of value and a zero byte; never reads past the
// bytes it keeps, so megabyte values cost no more than short ones.
void copyBounded(char* buffer, size_t size, const char* value)
{
    size_t n = strnlen(value, size - 1);
    std::memcpy(buffer, value, n);
    buffer[n] = '\0';
}

// Steps shared by the text readers: the cleared destination and the decoded
// value in scratch, or null when the ticket is absent.
char* readTicketText(const char* key, int numOptions, cups_option_t* options, void* destination,
                     int width, char (&scratch)[kTicketScratchSize])
{
    char* text = textDestination(destination, width);
    if (text == nullptr) return nullptr;
    const char* value = cupsGetOption(key, numOptions, options);
    if (value == nullptr) return nullptr;
    copyBounded(scratch, sizeof scratch, value);
    numstrtochar(scratch, kTicketScratchSize);
    std::memset(text, 0, static_cast<size_t>(width));
    return text;
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
        int32_t factor = ParseTicketInteger(value);
        if (factor <= 0) return 0;
        count *= factor;
    }
    return count > INT_MAX ? 0 : count;
}

}  // namespace

int32_t ParseTicketInteger(const char* text)
{
    return text == nullptr ? 0 : ParseDecimalInt32(text);
}

void numstrtochar(char* text, int size)
{
    if (text == nullptr || size <= 0) return;
    const size_t length = strnlen(text, static_cast<size_t>(size));
    if (length < 2 || text[0] != '/') return;
    if (length == static_cast<size_t>(size)) text[size - 1] = '\0';  // unterminated: keep it bounded
    const size_t end = length < static_cast<size_t>(size) ? length : static_cast<size_t>(size) - 1;

    size_t read = 1;
    size_t write = 0;
    while (read < end) {
        size_t segmentEnd = read;
        while (segmentEnd < end && text[segmentEnd] != '/') ++segmentEnd;
        // The number stops at the "/" or the end; the write position always
        // trails the read position, so nothing unread is overwritten.
        int32_t value = ParseTicketInteger(text + read);
        text[write] = value >= 256 ? '\0' : static_cast<char>(value & 0xFF);
        text[write + 1] = '\0';
        ++write;
        read = segmentEnd + 1;
    }
}

char* itoa(int value, char* buffer, int size)
{
    if (buffer == nullptr || size <= 0) return buffer;
    char* p = buffer + size - 1;
    *p = '\0';
    long long magnitude = value < 0 ? -static_cast<long long>(value) : value;
    do {
        if (p == buffer) return buffer + size - 1;
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
        if (p == buffer) return buffer + size - 1;
        *--p = '-';
    }
    return p;
}

int CheckTicketKey(const char* key, int numOptions, cups_option_t* options, void* destination,
                   int width)
{
    storeInteger(destination, width, cupsGetOption(key, numOptions, options) == nullptr ? 1 : 0);
    return 1;
}

int GetTicketInteger(const char* key, int numOptions, cups_option_t* options, void* destination,
                     int width)
{
    const char* value = cupsGetOption(key, numOptions, options);
    storeInteger(destination, width, value == nullptr ? -1 : ParseTicketInteger(value));
    return value == nullptr ? 0 : 1;
}

int GetTicketStringConvertedToPrtLang(const char* key, int numOptions, cups_option_t* options,
                                      void* destination, int width)
{
    char scratch[kTicketScratchSize] = {0};
    char* text = readTicketText(key, numOptions, options, destination, width, scratch);
    if (text == nullptr) return 0;
    copyBounded(text, static_cast<size_t>(width), scratch);
    return 1;
}

int GetTicketStringConvertedToPrtLangForUTF8(const char* key, int numOptions,
                                             cups_option_t* options, void* destination,
                                             int width)
{
    char scratch[kTicketScratchSize] = {0};
    char* text = readTicketText(key, numOptions, options, destination, width, scratch);
    if (text == nullptr) return 0;
    ConvertUTF8ToEncodingForUTF8(scratch, text, width);
    return 1;
}

int GetTicketPasswordStringConvertedToEncryption(const char* key, int numOptions,
                                                 cups_option_t* options, void* destination,
                                                 int width)
{
    char scratch[kTicketScratchSize] = {0};
    char* text = readTicketText(key, numOptions, options, destination, width, scratch);
    if (text == nullptr) return 0;
    ConvertUTF8ToEncoding(scratch, text, width);
    return 1;
}

int GetNumberUpTicketString(const char* key, int numOptions, cups_option_t* options,
                            void* destination, int width)
{
    char scratch[kTicketScratchSize] = {0};
    char* text = textDestination(destination, width);
    if (text == nullptr) return 1;

    const char* numberUp = cupsGetOption(key, numOptions, options);
    const char* rows = cupsGetOption(kLayoutRowCountTicketKey, numOptions, options);
    const char* columns = cupsGetOption(kLayoutColumnCountTicketKey, numOptions, options);

    if (numberUp != nullptr) {
        // Taken as given: the "N" keeps the numeric escape from applying.
        scratch[0] = 'N';
        copyBounded(scratch + 1, sizeof scratch - 1, numberUp);
    } else if (long long count = layoutCount(rows, columns); count > 1) {
        char digits[16];
        scratch[0] = 'N';
        copyBounded(scratch + 1, sizeof scratch - 1,
                    itoa(static_cast<int>(count), digits, sizeof digits));
    } else {
        scratch[0] = '1';
    }
    ConvertUTF8ToEncoding(scratch, text, width);
    return 1;
}

int GetTicketFromArray(char* argv[], const TicketData* table, int rows)
{
    std::optional<JobOptions> local;
    const JobOptions& options = JobOptionsFor(argv != nullptr ? argv[5] : nullptr, local);
    for (int i = 0; table != nullptr && i < rows; ++i)
        table[i].reader(table[i].key, options.count(), options.list(), table[i].destination,
                        table[i].width);
    return 1;
}

// Tables ---------------------------------------------------------------------

#define PT stPrintTypeOption
#define KV stKVROption
#define FT stFeaturesOption

const TicketData PrintTypeticketData[PrintTypeTicketDataNum] = {
    Row(kPrintTypeTicketKey, PT.printType, GetTicketInteger),
    Row(kPrintTypeUserNameTicketKey, PT.userName, GetTicketStringConvertedToPrtLang),
    Row(kPrintTypePasswordTicketKey, PT.password, GetTicketStringConvertedToPrtLang),
    Row(kDocumentNameTypeTicketKey, PT.documentNameType, GetTicketInteger),
    Row(kDocumentNameTicketKey, PT.documentName, GetTicketStringConvertedToPrtLang),
    Row(kDelayPrintTicketKey, PT.delayPrint, GetTicketStringConvertedToPrtLang),
};

const TicketData PrintTypeticketDataForUTF8[PrintTypeTicketDataNum] = {
    Row(kPrintTypeTicketKey, PT.printType, GetTicketInteger),
    Row(kPrintTypeUserNameTicketKey, PT.userName, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kPrintTypePasswordTicketKey, PT.password, GetTicketStringConvertedToPrtLang),
    Row(kDocumentNameTypeTicketKey, PT.documentNameType, GetTicketInteger),
    Row(kDocumentNameTicketKey, PT.documentName, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kDelayPrintTicketKey, PT.delayPrint, GetTicketStringConvertedToPrtLang),
};

const TicketData KVRticketDataCommon[KVRTicketDataNumCommon] = {
    Row(kKVRMacHostNameStringTicket, KV.macHostName, GetTicketStringConvertedToPrtLang),
    Row(kKVRIPAddressStringTicket, KV.ipAddress, GetTicketStringConvertedToPrtLang),
    Row(kKVRManageTypeListTicketKey, KV.manageType, GetTicketInteger),
    Row(kKVRUserIDListCtrlTicket, KV.userIdListCtrl, GetTicketInteger),
    Row(kKVRUserIDTextEditTicket, KV.userIdAbsent, CheckTicketKey),
    Row(kKVRUserIDTextEditTicket, KV.userId, GetTicketStringConvertedToPrtLang),
    Row(kKVRUserPasswordTextEditTicket, KV.password, GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRUserInputRadioBtnTicket, KV.userInputRadio, GetTicketInteger),
    Row(kKVRInputAuthRadioBtnTicketKey, KV.inputAuthRadio, GetTicketInteger),
    Row(kKVRInputStrgRadioBtnTicketKey, KV.inputStorageRadio, GetTicketInteger),
    Row(kKVRInputStorageIDTextEditTicket, KV.inputStorageId, GetTicketStringConvertedToPrtLang),
    Row(kKVRInputStoragePasswordTextEditTicket, KV.inputStoragePassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRInputUserIDTextEditTicket, KV.inputUserId, GetTicketStringConvertedToPrtLang),
    Row(kKVRInputUserPasswordTextEditTicket, KV.inputUserPassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRInputAccountIDTextEditTicket, KV.inputAccountId, GetTicketStringConvertedToPrtLang),
    Row(kKVRInputDomainNameTextEditTicket, KV.inputDomainName, GetTicketStringConvertedToPrtLang),
    Row(kKVRLoginTextEditTicket, KV.loginName, GetTicketStringConvertedToPrtLang),
    Row(kKVRHkgnPrintDateTicketKey, KV.printDate, GetTicketStringConvertedToPrtLang),
    Row(kKVRHkgnPrintTimeTicketKey, KV.printTime, GetTicketStringConvertedToPrtLang),
    Row(kKVRHostNameStringTicket, KV.hostNameString, GetTicketStringConvertedToPrtLang),
};

const TicketData KVRticketDataCommonForUTF8[KVRTicketDataNumCommonForUTF8] = {
    Row(kKVRMacHostNameStringTicket, KV.macHostName, GetTicketStringConvertedToPrtLang),
    Row(kKVRIPAddressStringTicket, KV.ipAddress, GetTicketStringConvertedToPrtLang),
    Row(kKVRManageTypeListTicketKey, KV.manageType, GetTicketInteger),
    Row(kKVRUserIDListCtrlTicket, KV.userIdListCtrl, GetTicketInteger),
    Row(kKVRUserIDTextEditTicket, KV.userIdAbsent, CheckTicketKey),
    Row(kKVRUserIDTextEditTicket, KV.userId, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRUserPasswordTextEditTicket, KV.password, GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRDomainNameTextEditTicket, KV.domainName, GetTicketStringConvertedToPrtLang),
    Row(kKVRAccountIDTextEditTicket, KV.accountId, GetTicketStringConvertedToPrtLang),
    Row(kKVRStorageIDTextEditTicket, KV.storageId, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRStoragePasswordTextEditTicket, KV.storagePassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRUserInputRadioBtnTicket, KV.userInputRadio, GetTicketInteger),
    Row(kKVRInputAuthRadioBtnTicketKey, KV.inputAuthRadio, GetTicketInteger),
    Row(kKVRInputStrgRadioBtnTicketKey, KV.inputStorageRadio, GetTicketInteger),
    Row(kKVRInputStorageIDTextEditTicket, KV.inputStorageId,
        GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRInputStoragePasswordTextEditTicket, KV.inputStoragePassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRInputUserIDTextEditTicket, KV.inputUserId, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRInputUserPasswordTextEditTicket, KV.inputUserPassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRInputAccountIDTextEditTicket, KV.inputAccountId, GetTicketStringConvertedToPrtLang),
    Row(kKVRInputDomainNameTextEditTicket, KV.inputDomainName, GetTicketStringConvertedToPrtLang),
    Row(kKVRLoginTextEditTicket, KV.loginName, GetTicketStringConvertedToPrtLang),
    Row(kKVRHkgnPrintDateTicketKey, KV.printDate, GetTicketStringConvertedToPrtLang),
    Row(kKVRHkgnPrintTimeTicketKey, KV.printTime, GetTicketStringConvertedToPrtLang),
    Row(kKVRHostNameStringTicket, KV.hostNameString, GetTicketStringConvertedToPrtLang),
};

const TicketData KVRticketDataAdmin[KVRTicketDataNumAdmin] = {
    Row(kKVRUserIDListCtrlTicket, KV.adminUserIdListCtrl, GetTicketInteger),
    Row(kKVRAdminUserIDTextEditTicket, KV.adminUserId, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminDomainNameTextEditTicket, KV.adminDomainName, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminUserPasswordTextEditTicket, KV.adminPassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRAdminAccountIDTextEditTicket, KV.adminAccountId, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminStorageIDTextEditTicket, KV.adminStorageId, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminStoragePasswordTextEditTicket, KV.adminStoragePassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRAdminUserInputRadioBtnTicket, KV.adminUserInputRadio, GetTicketInteger),
};

const TicketData KVRticketDataAdminForUTF8[KVRTicketDataNumAdmin] = {
    Row(kKVRUserIDListCtrlTicket, KV.adminUserIdListCtrl, GetTicketInteger),
    Row(kKVRAdminUserIDTextEditTicket, KV.adminUserId, GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRAdminDomainNameTextEditTicket, KV.adminDomainName, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminUserPasswordTextEditTicket, KV.adminPassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRAdminAccountIDTextEditTicket, KV.adminAccountId, GetTicketStringConvertedToPrtLang),
    Row(kKVRAdminStorageIDTextEditTicket, KV.adminStorageId,
        GetTicketStringConvertedToPrtLangForUTF8),
    Row(kKVRAdminStoragePasswordTextEditTicket, KV.adminStoragePassword,
        GetTicketPasswordStringConvertedToEncryption),
    Row(kKVRAdminUserInputRadioBtnTicket, KV.adminUserInputRadio, GetTicketInteger),
};

const TicketData FeaturesticketData[FeaturesTicketDataNum] = {
    Row(kNumberUpTicketKey, FT.numberUp, GetNumberUpTicketString),
    Row(kDuplexingTicketKey, FT.duplexing, GetTicketInteger),
    Row(kCollateTicketKey, FT.collate, GetTicketStringConvertedToPrtLang),
    Row(kEmitPageSizeCommandTicketKey, FT.emitPageSizeCommand, GetTicketStringConvertedToPrtLang),
    Row(kMediaTicketKey, FT.media, GetTicketStringConvertedToPrtLang),
    Row(kInputSlotTicketKey, FT.inputSlot, GetTicketStringConvertedToPrtLang),
    Row(kMediaTypeTicketKey, FT.mediaType, GetTicketStringConvertedToPrtLang),
    Row(kColorModeTicketKey, FT.colorMode, GetTicketStringConvertedToPrtLang),
    Row(kOutputModeTicketKey, FT.outputMode, GetTicketStringConvertedToPrtLang),
    Row(kStapleTicketKey, FT.staple, GetTicketStringConvertedToPrtLang),
    Row(kPunchTicketKey, FT.punch, GetTicketStringConvertedToPrtLang),
    Row(kNumPunchHolesTicketKey, FT.numPunchHoles, GetTicketStringConvertedToPrtLang),
    Row(kPDFRasterizedModeTicketKey, FT.pdfRasterizedMode, GetTicketStringConvertedToPrtLang),
    Row(kJogTicketKey, FT.jog, GetTicketStringConvertedToPrtLang),
    Row(kIntCoverSheetTicketKey, FT.intCoverSheet, GetTicketStringConvertedToPrtLang),
    Row(kIntBackCoverSheetTicketKey, FT.intBackCoverSheet, GetTicketStringConvertedToPrtLang),
    Row(kSignatureTicketKey, FT.signature, GetTicketStringConvertedToPrtLang),
    Row(kSigVolTicketKey, FT.sigVol, GetTicketStringConvertedToPrtLang),
    Row(kBookletMarginSwitchTicket, FT.bookletMarginSwitch, GetTicketStringConvertedToPrtLang),
    Row(kBookletMarginMMShiftTicket, FT.bookletMarginShift, GetTicketStringConvertedToPrtLang),
    Row(KPPDCharEncoding, FT.languageEncoding, GetTicketStringConvertedToPrtLang),
    Row(kScalingTicketKey, FT.scaling, GetTicketStringConvertedToPrtLang),
    Row(kPageBorderTicketKey, FT.pageBorder, GetTicketStringConvertedToPrtLang),
    Row(kOutputOrderTicketKey, FT.outputOrder, GetTicketStringConvertedToPrtLang),
    Row(kPageToPaperMappingTicketKey, FT.pageToPaperMapping, GetTicketStringConvertedToPrtLang),
    Row(kPageSetTicketKey, FT.pageSet, GetTicketStringConvertedToPrtLang),
    Row(kMirrorTicketKey, FT.mirror, GetTicketStringConvertedToPrtLang),
    Row(kMSILeadingEdgeTicketKey, FT.msiLeadingEdge, GetTicketStringConvertedToPrtLang),
    Row(kTrappingTicketKey, FT.trapping, GetTicketStringConvertedToPrtLang),
    Row(kPageFormatOrientationTicketKey, FT.pageFormatOrientation,
        GetTicketStringConvertedToPrtLang),
    Row(kPrintSettingsOrientationTicketKey, FT.printSettingsOrientation,
        GetTicketStringConvertedToPrtLang),
    Row(kOrientationRequestedTicketKey, FT.orientationRequested, GetTicketStringConvertedToPrtLang),
};

#undef PT
#undef KV
#undef FT
