#pragma once

#include <cstdint>
#include <type_traits>

#include "settings/fixed_text.hpp"

// The job's settings, gathered once at start-up and read-only afterwards.
// Integer fields read -1 when their ticket is absent; text fields read empty.
// Fields marked "carried" are filled from tickets the print dialog sends but
// no header line reads them: they keep the dialog's full ticket set in one
// place for the models whose headers use them.
namespace pdftopjl {

struct PrintTypeOption {
    int32_t printType;
    FixedText<73> userName;
    FixedText<2048> password;
    int32_t documentNameType;
    FixedText<193> documentName;
    FixedText<17> delayPrint;  // carried
};

struct KVROption {
    FixedText<33> macHostName;
    FixedText<46> ipAddress;
    int32_t manageType;
    int32_t userIdListCtrl;  // carried
    FixedText<97> userId;
    FixedText<65> domainName;  // carried
    FixedText<2048> password;
    FixedText<33> accountId;  // carried
    FixedText<73> storageId;  // carried
    FixedText<2048> storagePassword;  // carried
    int32_t userInputRadio;  // carried
    int32_t adminUserIdListCtrl;
    FixedText<97> adminUserId;
    FixedText<65> adminDomainName;  // carried
    FixedText<2048> adminPassword;
    FixedText<33> adminAccountId;  // carried
    FixedText<73> adminStorageId;  // carried
    FixedText<2048> adminStoragePassword;  // carried
    int32_t adminUserInputRadio;
    int32_t inputAuthRadio;  // carried
    int32_t inputStorageRadio;  // carried
    FixedText<73> inputStorageId;  // carried
    FixedText<2048> inputStoragePassword;  // carried
    FixedText<97> inputUserId;
    FixedText<65> inputDomainName;  // carried
    FixedText<2048> inputUserPassword;
    FixedText<33> inputAccountId;  // carried
    int32_t userIdAbsent;  // carried
    FixedText<64> loginName;
    FixedText<64> printDate;
    FixedText<64> printTime;
    FixedText<64> hostNameString;
};

struct FeaturesOption {
    FixedText<64> numberUp;
    FixedText<64> collate;
    FixedText<64> emitPageSizeCommand;  // carried
    FixedText<64> media;
    FixedText<64> inputSlot;
    FixedText<64> mediaType;
    FixedText<64> colorMode;
    FixedText<64> outputMode;
    FixedText<64> staple;
    FixedText<64> punch;
    FixedText<64> numPunchHoles;  // carried
    FixedText<64> pdfRasterizedMode;  // carried
    FixedText<64> jog;  // carried
    FixedText<64> intCoverSheet;  // carried
    FixedText<64> intBackCoverSheet;  // carried
    FixedText<64> signature;  // carried
    FixedText<64> sigVol;  // carried
    int32_t duplexing;
    FixedText<64> bookletMarginSwitch;  // carried
    FixedText<64> bookletMarginShift;  // carried
    FixedText<64> languageEncoding;  // carried
    FixedText<64> scaling;
    FixedText<64> pageBorder;
    FixedText<64> outputOrder;
    FixedText<64> pageToPaperMapping;
    FixedText<64> pageSet;
    FixedText<64> mirror;
    FixedText<64> msiLeadingEdge;
    FixedText<64> trapping;
    FixedText<64> pageFormatOrientation;
    FixedText<64> printSettingsOrientation;
    FixedText<64> orientationRequested;
    // Resolved from the job, its standard attributes and the queue's defaults.
    FixedText<64> outputBin;
    FixedText<64> turnPage;
};

struct PPDOption {
    FixedText<64> printerLanguageEncoding;
    // The bypass tray's name on this model (empty without a ModelName).
    FixedText<16> bypassTrayName;
};

// The document name the header carries (printer code set, or UTF-8 in UTF-8
// mode), fitted to the printer's limits; empty when the title cannot be used.
using DocumentName = FixedText<256>;

// Why a stored job's passcode the job asked for could not be taken.
enum class PasscodeIssue : int32_t {
    None,
    QueueDefault,  // only the queue's default, which every user can read from its PPD
    Encrypted,     // a job-password sent hashed or garbled
    Empty,         // ZRPasscode=Custom. or job-password= with nothing after it
};

struct PrintOptions {
    PrintTypeOption printType;
    PasscodeIssue passcodeIssue;
    KVROption kvr;
    FeaturesOption features;
    PPDOption ppd;
    DocumentName documentName;

    // The printer takes its texts in UTF-8: the PPD's ZRPrinterLanguageEncoding
    // is exactly "UTF-8".
    bool utf8Mode() const { return ppd.printerLanguageEncoding == "UTF-8"; }
};

static_assert(std::is_trivially_copyable_v<PrintOptions>,
              "the record is cleared and copied as plain bytes");

}  // namespace pdftopjl
