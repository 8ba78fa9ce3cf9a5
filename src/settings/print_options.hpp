#pragma once

#include <cstdint>
#include <type_traits>

#include "settings/fixed_text.hpp"

// The job's settings, gathered once at start-up and read-only afterwards.
// Integer fields read -1 when their ticket is absent; text fields read empty.

struct PrintTypeOption {
    int32_t printType;
    FixedText<73> userName;
    FixedText<2048> password;
    int32_t documentNameType;
    FixedText<193> documentName;
    FixedText<17> delayPrint;
};

struct KVROption {
    FixedText<33> macHostName;
    FixedText<46> ipAddress;
    int32_t manageType;
    int32_t userIdListCtrl;
    FixedText<97> userId;
    FixedText<65> domainName;
    FixedText<2048> password;
    FixedText<33> accountId;
    FixedText<73> storageId;
    FixedText<2048> storagePassword;
    int32_t userInputRadio;
    int32_t adminUserIdListCtrl;
    FixedText<97> adminUserId;
    FixedText<65> adminDomainName;
    FixedText<2048> adminPassword;
    FixedText<33> adminAccountId;
    FixedText<73> adminStorageId;
    FixedText<2048> adminStoragePassword;
    int32_t adminUserInputRadio;
    int32_t inputAuthRadio;
    int32_t inputStorageRadio;
    FixedText<73> inputStorageId;
    FixedText<2048> inputStoragePassword;
    FixedText<97> inputUserId;
    FixedText<65> inputDomainName;
    FixedText<2048> inputUserPassword;
    FixedText<33> inputAccountId;
    int32_t userIdAbsent;
    FixedText<64> loginName;
    FixedText<64> printDate;
    FixedText<64> printTime;
    FixedText<64> hostNameString;
};

struct FeaturesOption {
    FixedText<64> numberUp;
    FixedText<64> collate;
    FixedText<64> emitPageSizeCommand;
    FixedText<64> media;
    FixedText<64> inputSlot;
    FixedText<64> mediaType;
    FixedText<64> colorMode;
    FixedText<64> outputMode;
    FixedText<64> staple;
    FixedText<64> punch;
    FixedText<64> numPunchHoles;
    FixedText<64> pdfRasterizedMode;
    FixedText<64> jog;
    FixedText<64> intCoverSheet;
    FixedText<64> intBackCoverSheet;
    FixedText<64> signature;
    FixedText<64> sigVol;
    int32_t duplexing;
    FixedText<64> bookletMarginSwitch;
    FixedText<64> bookletMarginShift;
    FixedText<64> languageEncoding;
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
};

struct PPDOption {
    FixedText<64> charEncoding;
    FixedText<128> cupsFilter;
    FixedText<64> holdKey;
    FixedText<64> printerLanguageEncoding;
};

struct PrintOptions {
    PrintTypeOption printType;
    KVROption kvr;
    FeaturesOption features;
    PPDOption ppd;
};

static_assert(std::is_trivially_copyable_v<PrintOptions>,
              "the record is cleared and copied as plain bytes");

// The job's record, owned by the entry point for the life of the process.
extern PrintOptions printoptions;

// Staging twins written by the ticket tables, then copied into the record.
extern PrintTypeOption stPrintTypeOption;
extern KVROption stKVROption;
extern FeaturesOption stFeaturesOption;
