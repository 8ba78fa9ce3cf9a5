// Option gathering for a whole job: the PPD keywords, the mode, every ticket of
// every table into the record, and the document name.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "settings/gather.hpp"
#include "settings/print_options.hpp"
#include "support/fixtures.hpp"
#include "unit/job_fixture.hpp"

using namespace testsupport;
using namespace pdftopjl;

namespace {

// Every field of the record, for field-by-field comparison with names.
#define PRINT_OPTIONS_FIELDS(X)                                                              \
    X(printType.printType) X(printType.userName) X(printType.password)                       \
    X(printType.documentNameType) X(printType.documentName) X(printType.delayPrint)          \
    X(kvr.macHostName) X(kvr.ipAddress) X(kvr.manageType) X(kvr.userIdListCtrl)              \
    X(kvr.userId) X(kvr.domainName) X(kvr.password) X(kvr.accountId) X(kvr.storageId)        \
    X(kvr.storagePassword) X(kvr.userInputRadio) X(kvr.adminUserIdListCtrl)                  \
    X(kvr.adminUserId) X(kvr.adminDomainName) X(kvr.adminPassword) X(kvr.adminAccountId)     \
    X(kvr.adminStorageId) X(kvr.adminStoragePassword) X(kvr.adminUserInputRadio)             \
    X(kvr.inputAuthRadio) X(kvr.inputStorageRadio) X(kvr.inputStorageId)                     \
    X(kvr.inputStoragePassword) X(kvr.inputUserId) X(kvr.inputDomainName)                    \
    X(kvr.inputUserPassword) X(kvr.inputAccountId) X(kvr.userIdAbsent) X(kvr.loginName)      \
    X(kvr.printDate) X(kvr.printTime) X(kvr.hostNameString) X(features.numberUp)             \
    X(features.collate) X(features.emitPageSizeCommand) X(features.media)                    \
    X(features.inputSlot) X(features.mediaType) X(features.colorMode) X(features.outputMode) \
    X(features.staple) X(features.punch) X(features.numPunchHoles)                           \
    X(features.pdfRasterizedMode) X(features.jog) X(features.intCoverSheet)                  \
    X(features.intBackCoverSheet) X(features.signature) X(features.sigVol)                   \
    X(features.duplexing) X(features.bookletMarginSwitch) X(features.bookletMarginShift)     \
    X(features.languageEncoding) X(features.scaling) X(features.pageBorder)                  \
    X(features.outputOrder) X(features.pageToPaperMapping) X(features.pageSet)               \
    X(features.mirror) X(features.msiLeadingEdge) X(features.trapping)                       \
    X(features.pageFormatOrientation) X(features.printSettingsOrientation)                   \
    X(features.orientationRequested) X(ppd.printerLanguageEncoding) X(ppd.bypassTrayName)    \
    X(documentName)

template <std::size_t W>
std::string Show(const FixedText<W>& field) { return std::string(field.view()); }
int32_t Show(int32_t value) { return value; }

void ExpectSameRecord(const PrintOptions& got, const PrintOptions& want)
{
#define COMPARE_FIELD(field) EXPECT_EQ(Show(got.field), Show(want.field)) << #field;
    PRINT_OPTIONS_FIELDS(COMPARE_FIELD)
#undef COMPARE_FIELD
    // Also nothing stray after any terminator.
    EXPECT_EQ(std::memcmp(&got, &want, sizeof got), 0) << "records differ byte-wise";
}

const std::string kEmoji = "\xF0\x9F\x98\x80";  // outside the BMP: the UTF-8 rebuild drops it
const std::string kYamada = "\xE5\xB1\xB1\xE7\x94\xB0";
const std::string kHiraganaA = "\xE3\x81\x82";   // U+3042, 0x82 0xA0 in the printer code set
const std::string kPrefix = "com.quorvelin.qbd.printsettings.";

struct Ticket {
    std::string key;
    std::string value;  // as written in the option string
};

// One value for every key of every table, each distinguishable.
std::vector<Ticket> AllTickets()
{
    return {
        {"PrintTypeTicketKey", "2"},
        {"PrintTypeUserNameTicketKey", kYamada + kEmoji},
        {"PrintTypePasswordTicketKey", "/49/50/51"},
        {"DocumentNameTypeTicketKey", "1"},
        {"DocumentNameTicketKey", "Doc" + kEmoji + kYamada},
        {"DelayPrintTicketKey", "later"},
        {"KVRMacHostNameStringTicket", "mac-" + std::string(100, 'h')},
        {"KVRIPAddressStringTicket", "192.0.2.7"},
        {"KVRManageTypeListTicketKey", "3"},
        {"KVRUserIDListCtrlTicket", "5"},
        {"KVRUserIDTextEditTicket", "user" + kEmoji},
        {"KVRUserPasswordTextEditTicket", "p" + kHiraganaA},
        {"KVRDomainNameTextEditTicket", "example.org"},
        {"KVRAccountIDTextEditTicket", "acct-9"},
        {"KVRStorageIDTextEditTicket", "box" + kEmoji},
        {"KVRStoragePasswordTextEditTicket", "s" + kHiraganaA},
        {"KVRUserInputRadioBtnTicket", "1"},
        {"KVRInputAuthRadioBtnTicketKey", "2"},
        {"KVRInputStrgRadioBtnTicketKey", "-4"},
        {"KVRInputStorageIDTextEditTicket", "in" + kEmoji + "box"},
        {"KVRInputStoragePasswordTextEditTicket", "ip~"},
        {"KVRInputUserIDTextEditTicket", "inuser" + kEmoji},
        {"KVRInputUserPasswordTextEditTicket", "/105/92"},
        {"KVRInputAccountIDTextEditTicket", "iacct"},
        {"KVRInputDomainNameTextEditTicket", "in.example"},
        {"KVRLoginTextEditTicket", "login1"},
        {"KVRHkgnPrintDateTicketKey", "2024-01-02"},
        {"KVRHkgnPrintTimeTicketKey", "12:34:56"},
        {"KVRHostNameStringTicket", "host.example"},
        {"KVRAdminUserIDTextEditTicket", "admin" + kEmoji},
        {"KVRAdminDomainNameTextEditTicket", "adm.example"},
        {"KVRAdminUserPasswordTextEditTicket", "a" + kHiraganaA},
        {"KVRAdminAccountIDTextEditTicket", "aacct"},
        {"KVRAdminStorageIDTextEditTicket", "astore" + kEmoji},
        {"KVRAdminStoragePasswordTextEditTicket", "asp"},
        {"KVRAdminUserInputRadioBtnTicket", "12abc"},
        {"BookletMarginSwitchTicket", "on"},
        {"BookletMarginMMShiftTicket", "/53"},
        {"number-up", "4"},
        {"com.apple.print.PrintSettings.PMLayoutRows..n.", "3"},
        {"com.apple.print.PrintSettings.PMLayoutColumns..n.", "3"},
        {"com.apple.print.PrintSettings.PMDuplexing..n.", "2"},
        {"Collate", "true"},
        {"ZREmitPageSizeCommand", "False"},
        {"media", "'A4 Plain'"},
        {"ZRInputSlot", "1stTray"},
        {"MediaType", "Thick1"},
        {"ZRColorMode", "Mono"},
        {"ZROutputMode", "Fine"},
        {"ZRStaple", "UpperLeftSinglePort"},
        {"ZRPunch", "2Holes"},
        {"ZRNumPunchHoles", "2"},
        {"ZRPDFRasterizedMode", "On"},
        {"Jog", "Job"},
        {"ZRIntCoverSheet", "Front"},
        {"ZRIntBackCoverSheet", "Back"},
        {"ZRSignature", "Sig"},
        {"ZRSigVol", "8"},
        {"ZRPrinterLanguageEncoding", "ticket-encoding"},
        {"com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMScaling..n.",
         "0.75"},
        {"page-border", "single"},
        {"OutputOrder", "Reverse"},
        {"com.apple.print.PageToPaperMappingType..n.", "2"},
        {"page-set", "odd"},
        {"mirror", "true"},
        {"ZRMSILeadingEdge", "Long"},
        {"ZRTrapping", "On"},
        {"com.apple.print.subTicket.page_format_ticket..d.com.apple.print.PageFormat.PMOrientation..n.",
         "2"},
        {"com.apple.print.PrintSettings.PMOrientation..n.", "1"},
        {"orientation-requested", "4"},
    };
}

std::string OptionString(const std::vector<Ticket>& tickets)
{
    std::string text = "job-uuid=urn:uuid:1 finishings=3";
    for (const Ticket& t : tickets) {
        bool dialog = t.key.find('.') == std::string::npos && t.key.find('-') == std::string::npos &&
                      (t.key.rfind("KVR", 0) == 0 || t.key.find("Ticket") != std::string::npos);
        text += " " + (dialog ? kPrefix : "") + t.key + "=" + t.value;
    }
    return text;
}

// What the full option string must give; UTF-8 mode differs only where the
// tables differ.
PrintOptions ExpectedRecord(bool utf8, const std::string& encoding)
{
    PrintOptions r;
    std::memset(&r, 0, sizeof r);
    r.documentName.set("Report");
    auto mode = [utf8](const std::string& inUtf8, const std::string& otherwise) {
        return utf8 ? inUtf8 : otherwise;
    };
    r.printType.printType = 2;
    r.printType.userName.set(mode(kYamada, kYamada + kEmoji));
    r.printType.password.set("123");
    r.printType.documentNameType = 1;
    r.printType.documentName.set(mode("Doc" + kYamada, "Doc" + kEmoji + kYamada));
    r.printType.delayPrint.set("later");

    r.kvr.macHostName.set("mac-" + std::string(28, 'h'));
    r.kvr.ipAddress.set("192.0.2.7");
    r.kvr.manageType = 3;
    r.kvr.userIdListCtrl = 5;
    r.kvr.userId.set(mode("user", "user" + kEmoji));
    r.kvr.password.set("p\x82\xA0");
    if (utf8) {
        r.kvr.domainName.set("example.org");
        r.kvr.accountId.set("acct-9");
        r.kvr.storageId.set("box");
        r.kvr.storagePassword.set("s\x82\xA0");
    }
    r.kvr.userInputRadio = 1;
    r.kvr.adminUserIdListCtrl = 5;
    r.kvr.adminUserId.set(mode("admin", "admin" + kEmoji));
    r.kvr.adminDomainName.set("adm.example");
    r.kvr.adminPassword.set("a\x82\xA0");
    r.kvr.adminAccountId.set("aacct");
    r.kvr.adminStorageId.set(mode("astore", "astore" + kEmoji));
    r.kvr.adminStoragePassword.set("asp");
    r.kvr.adminUserInputRadio = 12;
    r.kvr.inputAuthRadio = 2;
    r.kvr.inputStorageRadio = -4;
    r.kvr.inputStorageId.set(mode("inbox", "in" + kEmoji + "box"));
    r.kvr.inputStoragePassword.set("ip~");
    r.kvr.inputUserId.set(mode("inuser", "inuser" + kEmoji));
    r.kvr.inputDomainName.set("in.example");
    r.kvr.inputUserPassword.set("i\\");
    r.kvr.inputAccountId.set("iacct");
    r.kvr.userIdAbsent = 0;
    r.kvr.loginName.set("login1");
    r.kvr.printDate.set("2024-01-02");
    r.kvr.printTime.set("12:34:56");
    r.kvr.hostNameString.set("host.example");

    auto& f = r.features;
    f.numberUp.set("N4");
    f.collate.set("true");
    f.emitPageSizeCommand.set("False");
    f.media.set("A4 Plain");
    f.inputSlot.set("1stTray");
    f.mediaType.set("Thick1");
    f.colorMode.set("Mono");
    f.outputMode.set("Fine");
    f.staple.set("UpperLeftSinglePort");
    f.punch.set("2Holes");
    f.numPunchHoles.set("2");
    f.pdfRasterizedMode.set("On");
    f.jog.set("Job");
    f.intCoverSheet.set("Front");
    f.intBackCoverSheet.set("Back");
    f.signature.set("Sig");
    f.sigVol.set("8");
    f.duplexing = 2;
    f.bookletMarginSwitch.set("on");
    f.bookletMarginShift.set("5");
    f.languageEncoding.set("ticket-encoding");
    f.scaling.set("0.75");
    f.pageBorder.set("single");
    f.outputOrder.set("Reverse");
    f.pageToPaperMapping.set("2");
    f.pageSet.set("odd");
    f.mirror.set("true");
    f.msiLeadingEdge.set("Long");
    f.trapping.set("On");
    f.pageFormatOrientation.set("2");
    f.printSettingsOrientation.set("1");
    f.orientationRequested.set("4");

    r.ppd.printerLanguageEncoding.set(encoding);
    return r;
}

class Gathering : public ::testing::Test {
protected:
    void UsePpd(const std::vector<std::string>& keywords)
    {
        WriteFile(dir.file("printer.ppd"), MakePpd(keywords));
        ppdPath = dir.file("printer.ppd");
    }

    PrintOptions Gather(const std::string& title, const std::string& options,
                        std::string* err = nullptr)
    {
        ::testing::internal::CaptureStderr();
        PrintOptions record = testjob::Settings(options, ppdPath, title);
        std::string messages = ::testing::internal::GetCapturedStderr();
        if (err != nullptr) *err = messages;
        return record;
    }

    TempDir dir;
    std::string ppdPath;
};

const std::string kCupsFilter = "application/pdf 0 pdftopjl";
// The one ticket of the full set longer than its field.
const std::string kMacNameCut =
    "WARNING: The setting " + kPrefix + "KVRMacHostNameStringTicket was cut to 32 bytes\n";

TEST_F(Gathering, Utf8PrinterFillsTheWholeRecord)
{
    UsePpd({"*cupsFilter: \"" + kCupsFilter + "\"", "*ZRPrinterLanguageEncoding: \"UTF-8\""});
    std::string err;
    PrintOptions got = Gather("Report", OptionString(AllTickets()), &err);
    ExpectSameRecord(got, ExpectedRecord(true, "UTF-8"));
    EXPECT_EQ(err, kMacNameCut);
}

TEST_F(Gathering, OtherPrinterFillsTheWholeRecord)
{
    UsePpd({"*cupsFilter: \"" + kCupsFilter + "\"", "*ZRPrinterLanguageEncoding: \"ISOLatin1\""});
    std::string err;
    PrintOptions got = Gather("Report", OptionString(AllTickets()), &err);
    ExpectSameRecord(got, ExpectedRecord(false, "ISOLatin1"));
    EXPECT_EQ(err, kMacNameCut);
}

TEST_F(Gathering, ModeNameIsCaseSensitive)
{
    UsePpd({"*ZRPrinterLanguageEncoding: \"utf-8\""});
    PrintOptions got = Gather("Report", OptionString(AllTickets()));
    ExpectSameRecord(got, ExpectedRecord(false, "utf-8"));
}

TEST_F(Gathering, WithoutTicketsOrPpdEverythingReadsAbsent)
{
    PrintOptions got = Gather("Report", "");
    PrintOptions want;
    std::memset(&want, 0, sizeof want);
    want.documentName.set("Report");
    for (int32_t* field :
         {&want.printType.printType, &want.printType.documentNameType, &want.kvr.manageType,
          &want.kvr.userIdListCtrl, &want.kvr.userInputRadio, &want.kvr.adminUserIdListCtrl,
          &want.kvr.adminUserInputRadio, &want.kvr.inputAuthRadio, &want.kvr.inputStorageRadio,
          &want.features.duplexing})
        *field = -1;
    want.kvr.userIdAbsent = 1;
    want.features.numberUp.set("1");
    ExpectSameRecord(got, want);
}

TEST_F(Gathering, UnparsablePpdCountsAsAbsent)
{
    WriteFile(dir.file("broken.ppd"), "not a PPD at all\n*ZRPrinterLanguageEncoding: \"UTF-8\"\n");
    ppdPath = dir.file("broken.ppd");
    PrintOptions got = Gather("Report", OptionString(AllTickets()));
    ExpectSameRecord(got, ExpectedRecord(false, ""));
}

TEST_F(Gathering, PresentEmptyUserIdIsPresent)
{
    PrintOptions got = Gather("Report", kPrefix + "KVRUserIDTextEditTicket=");
    EXPECT_EQ(got.kvr.userIdAbsent, 0);
    EXPECT_TRUE(got.kvr.userId.empty());
}

TEST_F(Gathering, PpdKeywordsAreFoundByPrefixInFileOrderAndCut)
{
    // The first attribute whose name begins with the keyword wins.
    std::string longFilter(200, 'f');
    UsePpd({"*ZRPrinterLanguageEncodingAlt: \"UTF-8\"", "*ZRPrinterLanguageEncoding: \"ISOLatin1\"",
            "*cupsFilter: \"" + longFilter + "\""});
    PrintOptions got = Gather("Report", "");
    EXPECT_EQ(got.ppd.printerLanguageEncoding, "UTF-8");
    // And the fillers agree: UTF-8 tables ran.
    got = Gather("Report", kPrefix + "KVRDomainNameTextEditTicket=d");
    EXPECT_EQ(got.kvr.domainName, "d");
}

TEST_F(Gathering, TitleWithLineBreakGetsNoName)
{
    for (const char* encoding : {"UTF-8", "ISOLatin1"}) {
        UsePpd({std::string("*ZRPrinterLanguageEncoding: \"") + encoding + "\""});
        for (const char* title : {"Report\nQ3", "Report\rQ3", "\n"})
            EXPECT_TRUE(Gather(title, "").documentName.empty()) << encoding;
        EXPECT_EQ(Gather("Report", "").documentName.view(), "Report") << encoding;
    }
}

TEST_F(Gathering, InvalidTitleIsReportedAndGivesNoName)
{
    for (const char* encoding : {"UTF-8", "ISOLatin1"}) {
        UsePpd({std::string("*ZRPrinterLanguageEncoding: \"") + encoding + "\""});
        std::string err;
        PrintOptions got = Gather("Re\xFFport", OptionString(AllTickets()), &err);
        EXPECT_TRUE(got.documentName.empty());
        EXPECT_NE(err.find("CFStringCreateWithCString fail\n"), std::string::npos);
        // Gathering goes on.
        EXPECT_EQ(got.features.inputSlot, "1stTray");
    }
}

TEST_F(Gathering, MegabyteOptionStringAndTitleAreSafe)
{
    UsePpd({"*ZRPrinterLanguageEncoding: \"UTF-8\""});
    std::string huge(4u << 20, 'x');
    PrintOptions got = Gather(huge, kPrefix + "KVRLoginTextEditTicket=" + huge + " ZRInputSlot=" + huge +
                                        " " + kPrefix + "PrintTypeUserNameTicketKey=" + huge);
    EXPECT_EQ(got.kvr.loginName.view(), std::string(63, 'x'));
    EXPECT_EQ(got.features.inputSlot.view(), std::string(63, 'x'));
    EXPECT_EQ(got.printType.userName.view(), std::string(72, 'x'));
    EXPECT_EQ(got.documentName.view(), std::string(32, 'x'));
}

// The office features from PPD options and IPP attributes, below the tickets.
TEST_F(Gathering, OfficeFeaturesFromOptionsAndAttributes)
{
    struct Case {
        std::string options;
        int32_t printType;
        const char* passcode;
        const char* account;
    };
    const std::string ticket = kPrefix + "PrintTypeTicketKey=3 ";
    for (const Case& c :
         {Case{"ZRPrintType=Stored ZRPasscode=Custom.1234", 2, "1234", ""},
          Case{"ZRPasscode={Passcode=5678} ZRPrintType=Stored", 2, "5678", ""},
          Case{"job-password=4711", 2, "4711", ""},
          Case{"job-password=4711 job-password-encryption=none", 2, "4711", ""},
          // Hashed, or garbled by cupsd: nothing the printer could match.
          Case{"job-password=4711 job-password-encryption=sha2-256", 2, "", ""},
          Case{"job-password=<0303> ", 2, "", ""},
          // A passcode choice without a print type stores, as job-password does.
          Case{"ZRPasscode=Custom.1234", 2, "1234", ""},
          Case{"ZRPrintType=Normal job-password=4711", -1, "4711", ""},
          Case{ticket + "ZRPrintType=Stored", 3, "", ""},
          Case{"ZRAccountId=Custom.dept7 job-account-id=other", -1, "", "dept7"},
          Case{"job-account-id=acct9 job-accounting-user-id=alice", -1, "", "acct9"},
          Case{"job-accounting-user-id=alice", -1, "", "alice"},
          Case{kPrefix + "KVRManageTypeListTicketKey=1 job-account-id=acct9", -1, "", ""}}) {
        PrintOptions got = Gather("Report", c.options);
        EXPECT_EQ(got.printType.printType, c.printType) << c.options;
        EXPECT_EQ(got.printType.password.view(), c.passcode) << c.options;
        EXPECT_EQ(got.kvr.userId.view(), c.account) << c.options;
    }
}

// The passcode a job is held under, and why none could be taken.  The
// queue's default passcode is in a PPD every user can read: never a stored
// job's passcode, unless the PPD is the job's own.
TEST_F(Gathering, WhichPasscodeAJobIsHeldUnder)
{
    UsePpd({"*OpenUI *ZRPasscode: PickOne", "*DefaultZRPasscode: Custom.4321",
            "*ZRPasscode None/None: \"\"", "*CloseUI: *ZRPasscode"});
    struct Case {
        std::string options;
        bool ownPpd;
        int32_t printType;
        const char* passcode;
        PasscodeIssue issue;
        bool warned;
    };
    for (const Case& c : {Case{"", false, -1, "", PasscodeIssue::QueueDefault, true},
                          Case{"ZRPrintType=Stored", false, 2, "", PasscodeIssue::QueueDefault, false},
                          Case{"job-password=1234", false, 2, "1234", PasscodeIssue::None, false},
                          Case{"ZRPrintType=Stored ZRPasscode=None", false, 2, "", PasscodeIssue::None, false},
                          Case{"ZRPrintType=Stored", true, 2, "4321", PasscodeIssue::None, false},
                          // The PPD option comes before a job-password, even one that cannot be used.
                          Case{"ZRPasscode=Custom.2468 job-password=<0303>", false, 2, "2468", PasscodeIssue::None, false},
                          Case{"job-password=<0303>", false, 2, "", PasscodeIssue::Encrypted, false},
                          Case{"ZRPasscode=Custom.", false, 2, "", PasscodeIssue::Empty, false}}) {
        ::testing::internal::CaptureStderr();
        JobInputs inputs = testjob::Inputs(c.options, ppdPath);
        inputs.ppdIsTheJobsOwn = c.ownPpd;
        const PrintOptions got = GatherSettings(inputs);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(got.printType.printType, c.printType) << c.options;
        EXPECT_EQ(got.printType.password.view(), c.passcode) << c.options;
        EXPECT_EQ(got.passcodeIssue, c.issue) << c.options;
        EXPECT_EQ(err.find("WARNING: The queue's default passcode is not used") == 0, c.warned) << err;
    }
}

// A held job names its user and title for the printer's panel, in the
// printer's code set, unless the job names them itself.
TEST_F(Gathering, HeldJobsCarryTheUserAndTitle)
{
    struct Case {
        const char* encoding;
        std::string options;
        const char* userName;
        int32_t documentNameType;
    };
    for (const Case& c : {Case{"UTF-8", "ZRPrintType=Stored", "\xE5\xB1\xB1\xE7\x94\xB0", 1},
                          Case{"", "ZRPrintType=Proof", "\x8E\x52\x93\x63", 1},
                          Case{"", "ZRPrintType=Stored ZRUserName=Custom.desk ZRJobName=Custom.Q3", "desk", 2},
                          Case{"", "", "", -1}}) {
        UsePpd({std::string("*ZRPrinterLanguageEncoding: \"") + c.encoding + "\""});
        JobInputs inputs(testjob::Arguments(c.options, "Report", "1", "\xE5\xB1\xB1\xE7\x94\xB0"),
                         OpenPpd(ppdPath.c_str()));
        const PrintOptions got = GatherSettings(inputs);
        EXPECT_EQ(got.printType.userName.view(), c.userName) << c.options;
        EXPECT_EQ(got.printType.documentNameType, c.documentNameType) << c.options;
    }
}

}  // namespace
