// SPDX-License-Identifier: Apache-2.0
#pragma once

// Names of the job options read as tickets.  The print dialog's own tickets
// live under one reverse-DNS prefix; the others are CUPS option names, the
// printer's PPD option names and macOS print-settings names.

#define QBD_TICKET_PREFIX "com.quorvelin.qbd.printsettings."

namespace pdftopjl {

inline constexpr const char* kTicketPrefix = QBD_TICKET_PREFIX;

// Print type
inline constexpr const char* kPrintTypeTicketKey = QBD_TICKET_PREFIX "PrintTypeTicketKey";
inline constexpr const char* kPrintTypeUserNameTicketKey = QBD_TICKET_PREFIX "PrintTypeUserNameTicketKey";
inline constexpr const char* kPrintTypePasswordTicketKey = QBD_TICKET_PREFIX "PrintTypePasswordTicketKey";
inline constexpr const char* kDocumentNameTypeTicketKey = QBD_TICKET_PREFIX "DocumentNameTypeTicketKey";
inline constexpr const char* kDocumentNameTicketKey = QBD_TICKET_PREFIX "DocumentNameTicketKey";
inline constexpr const char* kDelayPrintTicketKey = QBD_TICKET_PREFIX "DelayPrintTicketKey";
inline constexpr const char* kPrintTypeProductType = QBD_TICKET_PREFIX "PrintTypeProductTypeTicketKey";

// Accounting and authentication
inline constexpr const char* kKVRMacHostNameStringTicket = QBD_TICKET_PREFIX "KVRMacHostNameStringTicket";
inline constexpr const char* kKVRIPAddressStringTicket = QBD_TICKET_PREFIX "KVRIPAddressStringTicket";
inline constexpr const char* kKVRManageTypeListTicketKey = QBD_TICKET_PREFIX "KVRManageTypeListTicketKey";
inline constexpr const char* kKVRUserIDListCtrlTicket = QBD_TICKET_PREFIX "KVRUserIDListCtrlTicket";
inline constexpr const char* kKVRUserIDTextEditTicket = QBD_TICKET_PREFIX "KVRUserIDTextEditTicket";
inline constexpr const char* kKVRUserPasswordTextEditTicket = QBD_TICKET_PREFIX "KVRUserPasswordTextEditTicket";
inline constexpr const char* kKVRDomainNameTextEditTicket = QBD_TICKET_PREFIX "KVRDomainNameTextEditTicket";
inline constexpr const char* kKVRAccountIDTextEditTicket = QBD_TICKET_PREFIX "KVRAccountIDTextEditTicket";
inline constexpr const char* kKVRStorageIDTextEditTicket = QBD_TICKET_PREFIX "KVRStorageIDTextEditTicket";
inline constexpr const char* kKVRStoragePasswordTextEditTicket = QBD_TICKET_PREFIX "KVRStoragePasswordTextEditTicket";
inline constexpr const char* kKVRUserInputRadioBtnTicket = QBD_TICKET_PREFIX "KVRUserInputRadioBtnTicket";
inline constexpr const char* kKVRInputAuthRadioBtnTicketKey = QBD_TICKET_PREFIX "KVRInputAuthRadioBtnTicketKey";
inline constexpr const char* kKVRInputStrgRadioBtnTicketKey = QBD_TICKET_PREFIX "KVRInputStrgRadioBtnTicketKey";
inline constexpr const char* kKVRInputStorageIDTextEditTicket = QBD_TICKET_PREFIX "KVRInputStorageIDTextEditTicket";
inline constexpr const char* kKVRInputStoragePasswordTextEditTicket = QBD_TICKET_PREFIX "KVRInputStoragePasswordTextEditTicket";
inline constexpr const char* kKVRInputUserIDTextEditTicket = QBD_TICKET_PREFIX "KVRInputUserIDTextEditTicket";
inline constexpr const char* kKVRInputUserPasswordTextEditTicket = QBD_TICKET_PREFIX "KVRInputUserPasswordTextEditTicket";
inline constexpr const char* kKVRInputAccountIDTextEditTicket = QBD_TICKET_PREFIX "KVRInputAccountIDTextEditTicket";
inline constexpr const char* kKVRInputDomainNameTextEditTicket = QBD_TICKET_PREFIX "KVRInputDomainNameTextEditTicket";
inline constexpr const char* kKVRLoginTextEditTicket = QBD_TICKET_PREFIX "KVRLoginTextEditTicket";
inline constexpr const char* kKVRHkgnPrintDateTicketKey = QBD_TICKET_PREFIX "KVRHkgnPrintDateTicketKey";
inline constexpr const char* kKVRHkgnPrintTimeTicketKey = QBD_TICKET_PREFIX "KVRHkgnPrintTimeTicketKey";
inline constexpr const char* kKVRHostNameStringTicket = QBD_TICKET_PREFIX "KVRHostNameStringTicket";
inline constexpr const char* kKVRAdminUserIDTextEditTicket = QBD_TICKET_PREFIX "KVRAdminUserIDTextEditTicket";
inline constexpr const char* kKVRAdminDomainNameTextEditTicket = QBD_TICKET_PREFIX "KVRAdminDomainNameTextEditTicket";
inline constexpr const char* kKVRAdminUserPasswordTextEditTicket = QBD_TICKET_PREFIX "KVRAdminUserPasswordTextEditTicket";
inline constexpr const char* kKVRAdminAccountIDTextEditTicket = QBD_TICKET_PREFIX "KVRAdminAccountIDTextEditTicket";
inline constexpr const char* kKVRAdminStorageIDTextEditTicket = QBD_TICKET_PREFIX "KVRAdminStorageIDTextEditTicket";
inline constexpr const char* kKVRAdminStoragePasswordTextEditTicket = QBD_TICKET_PREFIX "KVRAdminStoragePasswordTextEditTicket";
inline constexpr const char* kKVRAdminUserInputRadioBtnTicket = QBD_TICKET_PREFIX "KVRAdminUserInputRadioBtnTicket";

// Layout, media, colour and finishing
inline constexpr const char* kNumberUpTicketKey = "number-up";
inline constexpr const char* kLayoutRowCountTicketKey = "com.apple.print.PrintSettings.PMLayoutRows..n.";
inline constexpr const char* kLayoutColumnCountTicketKey = "com.apple.print.PrintSettings.PMLayoutColumns..n.";
inline constexpr const char* kDuplexingTicketKey = "com.apple.print.PrintSettings.PMDuplexing..n.";
inline constexpr const char* kCollateTicketKey = "Collate";
inline constexpr const char* kEmitPageSizeCommandTicketKey = "ZREmitPageSizeCommand";
inline constexpr const char* kMediaTicketKey = "media";
inline constexpr const char* kInputSlotTicketKey = "ZRInputSlot";
inline constexpr const char* kMediaTypeTicketKey = "MediaType";
inline constexpr const char* kColorModeTicketKey = "ZRColorMode";
inline constexpr const char* kOutputModeTicketKey = "ZROutputMode";
inline constexpr const char* kStapleTicketKey = "ZRStaple";
inline constexpr const char* kPunchTicketKey = "ZRPunch";
inline constexpr const char* kNumPunchHolesTicketKey = "ZRNumPunchHoles";
inline constexpr const char* kPDFRasterizedModeTicketKey = "ZRPDFRasterizedMode";
inline constexpr const char* kJogTicketKey = "Jog";
inline constexpr const char* kIntCoverSheetTicketKey = "ZRIntCoverSheet";
inline constexpr const char* kIntBackCoverSheetTicketKey = "ZRIntBackCoverSheet";
inline constexpr const char* kSignatureTicketKey = "ZRSignature";
inline constexpr const char* kSigVolTicketKey = "ZRSigVol";
inline constexpr const char* kBookletMarginSwitchTicket = QBD_TICKET_PREFIX "BookletMarginSwitchTicket";
inline constexpr const char* kBookletMarginMMShiftTicket = QBD_TICKET_PREFIX "BookletMarginMMShiftTicket";
inline constexpr const char* kScalingTicketKey =
    "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMScaling..n.";
inline constexpr const char* kPageBorderTicketKey = "page-border";
inline constexpr const char* kOutputOrderTicketKey = "OutputOrder";
inline constexpr const char* kPageToPaperMappingTicketKey = "com.apple.print.PageToPaperMappingType..n.";
inline constexpr const char* kPageSetTicketKey = "page-set";
inline constexpr const char* kMirrorTicketKey = "mirror";
inline constexpr const char* kMSILeadingEdgeTicketKey = "ZRMSILeadingEdge";
inline constexpr const char* kTrappingTicketKey = "ZRTrapping";
inline constexpr const char* kPageFormatOrientationTicketKey =
    "com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.";
inline constexpr const char* kPrintSettingsOrientationTicketKey = "com.apple.print.PrintSettings.PMOrientation..n.";
inline constexpr const char* kOrientationRequestedTicketKey = "orientation-requested";
inline constexpr const char* kTurnPageTicketKey = "ZRTurnPage";
inline constexpr const char* kDialogCopiesTicketKey = "com.apple.print.PrintSettings.PMCopies..n.";
inline constexpr const char* kDialogTotalSidesTicketKey =
    "com.apple.print.PrintSettings.PMTotalSidesImaged..n.";

// The printer's code set, as a PPD main keyword (and, carried, as a job option).
inline constexpr const char* KPPDPrinterLanguageEncodingKey = "ZRPrinterLanguageEncoding";
// Whether the filter may ask the printer for its state: a queue option
// (lpadmin -o), a PPD option or a PPD main keyword.
inline constexpr const char* kPrinterStatusKey = "ZRPrinterStatus";

}  // namespace pdftopjl

#undef QBD_TICKET_PREFIX
