// SPDX-License-Identifier: Apache-2.0
// What requests may carry and who may administer: refused requests never
// reach PAPPL's state, and only administrators change the server.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "app_server.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"

using namespace testsupport;
using apptest::AppServer;

namespace {

const char kInjection[] =
    "x\n</Printer>\n<Printer did=x driver=zarelle_zx4200 id=99 name=injected uri=file:///var/tmp/injected>\nX";

struct Answer {
    ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
    std::string message;
    std::set<std::string> unsupported;
    std::vector<std::string> values;  // of `collect`, in order
};

// One request over loopback TCP, as IPP clients send it; `fill` adds the
// target URI and the attributes.
Answer Send(int port, ipp_op_t op, const std::function<void(ipp_t*)>& fill, const std::string& document = "",
            const char* collect = nullptr)
{
    Answer answer;
    http_t* http = httpConnect2("127.0.0.1", port, nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000, nullptr);
    if (http == nullptr) return answer;
    ipp_t* request = ippNewRequest(op);
    fill(request);
    ipp_t* response = document.empty() ? cupsDoRequest(http, request, "/ipp/print")
                                       : cupsDoFileRequest(http, request, "/ipp/print", document.c_str());
    answer.status = cupsLastError();
    answer.message = cupsLastErrorString();
    for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
        if (ippGetGroupTag(a) == IPP_TAG_UNSUPPORTED_GROUP) answer.unsupported.insert(ippGetName(a));
        if (collect != nullptr && ippGetName(a) != nullptr && std::string(ippGetName(a)) == collect) {
            char value[1024];
            ippAttributeString(a, value, sizeof value);
            answer.values.push_back(value);
        }
    }
    ippDelete(response);
    httpClose(http);
    return answer;
}

std::function<void(ipp_t*)> OnPrinter(const AppServer& server, const std::function<void(ipp_t*)>& more)
{
    return [&server, more](ipp_t* r) {
        ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, server.PrinterUri("zx").c_str());
        more(r);
    };
}

std::vector<std::string> Printers(const AppServer& server)
{
    return Send(server.Port(), IPP_OP_GET_PRINTERS,
                [&](ipp_t* r) {
                    const std::string uri = "ipp://127.0.0.1:" + std::to_string(server.Port()) + "/ipp/system";
                    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, "system-uri", nullptr, uri.c_str());
                },
                "", "printer-name")
        .values;
}

size_t JobCount(const AppServer& server)
{
    return Send(server.Port(), IPP_OP_GET_JOBS, OnPrinter(server, [](ipp_t* r) {
                    ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "all");
                }), "", "job-id")
        .values.size();
}

void AddName(ipp_t* r, const char* name, const std::string& value, ipp_tag_t tag = IPP_TAG_NAME)
{
    ippAddString(r, IPP_TAG_OPERATION, tag, name, nullptr, value.c_str());
}

struct Hostile {
    const char* name;
    ipp_op_t op;
    std::function<void(ipp_t*)> attrs;  // beside printer-uri (or system-uri for system operations)
    bool document;
};

// Values PAPPL 1.3 would write into its state file as they are: refused
// before any job or printer exists, and after a restart the state holds
// only the printer and the job that were made.
TEST(AppRequests, StateFileValuesRefused)
{
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    AppServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error) && server.AddPrinter("zx", &error)) << error;
    TempDir docs;
    WriteFile(docs.file("one.pdf"), MakePdf(1, 595, 842));
    const std::string big(32000, 'a');  // IPP values hold at most 32767 bytes
    auto user = [](ipp_t* r) { AddName(r, "requesting-user-name", "alice"); };

    const std::vector<Hostile> table = {
        {"NewlineJobName", IPP_OP_PRINT_JOB, [&](ipp_t* r) { user(r); AddName(r, "job-name", kInjection); }, true},
        {"LongJobName", IPP_OP_PRINT_JOB, [&](ipp_t* r) { user(r); AddName(r, "job-name", big); }, true},
        {"NewlineUser", IPP_OP_PRINT_JOB, [&](ipp_t* r) { AddName(r, "requesting-user-name", kInjection); }, true},
        {"LongFormat", IPP_OP_PRINT_JOB,
         [&](ipp_t* r) { user(r); AddName(r, "document-format", "application/" + big, IPP_TAG_MIMETYPE); }, true},
        {"NewlineDocumentName", IPP_OP_PRINT_JOB, [&](ipp_t* r) { user(r); AddName(r, "document-name", kInjection); },
         true},
        {"CreateJobNewlineName", IPP_OP_CREATE_JOB, [&](ipp_t* r) { user(r); AddName(r, "job-name", kInjection); },
         false},
        {"LocationNewline", IPP_OP_SET_PRINTER_ATTRIBUTES,
         [&](ipp_t* r) {
             user(r);
             ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-location", nullptr, kInjection);
         },
         false},
        {"DeviceUriNewline", IPP_OP_CREATE_PRINTER,
         [&](ipp_t* r) {
             AddName(r, "printer-service-type", "print", IPP_TAG_KEYWORD);
             AddName(r, "smi55357-driver", "zarelle_zx4200", IPP_TAG_KEYWORD);
             AddName(r, "smi55357-device-uri", server.OutputDir("zx") + "\n</Printer>", IPP_TAG_URI);
             ippAddString(r, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr, "other");
         },
         false},
    };
    const size_t jobsBefore = JobCount(server);
    for (const Hostile& row : table) {
        const bool system = row.op == IPP_OP_CREATE_PRINTER;
        Answer a = Send(server.Port(), row.op, [&](ipp_t* r) {
            const std::string uri = system ? "ipp://127.0.0.1:" + std::to_string(server.Port()) + "/ipp/system"
                                           : server.PrinterUri("zx");
            ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_URI, system ? "system-uri" : "printer-uri", nullptr, uri.c_str());
            row.attrs(r);
        }, row.document ? docs.file("one.pdf") : "");
        // Job and printer requests are answered in IPP; the others get HTTP 400.
        EXPECT_TRUE(a.status == IPP_STATUS_ERROR_ATTRIBUTES_OR_VALUES || a.status == IPP_STATUS_ERROR_BAD_REQUEST)
            << row.name << ": " << ippErrorString(a.status) << " " << a.message;
    }
    EXPECT_EQ(JobCount(server), jobsBefore) << "a refused request left a job";

    // A refused document ends the job Create-Job made, instead of leaving it
    // waiting, and the job is read back after a restart.
    WriteFile(docs.file("note.txt"), "A note, in plain text.\n");
    Answer created = Send(server.Port(), IPP_OP_CREATE_JOB, OnPrinter(server, [&](ipp_t* r) {
                              user(r);
                              AddName(r, "job-name", "Note");
                          }), "", "job-id");
    ASSERT_EQ(created.values.size(), 1u) << created.message;
    Answer sent = Send(server.Port(), IPP_OP_SEND_DOCUMENT, OnPrinter(server, [&](ipp_t* r) {
                           ippAddInteger(r, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", std::stoi(created.values[0]));
                           user(r);
                           AddName(r, "document-format", "application/octet-stream", IPP_TAG_MIMETYPE);
                           ippAddBoolean(r, IPP_TAG_OPERATION, "last-document", 1);
                       }), docs.file("note.txt"));
    EXPECT_EQ(sent.status, IPP_STATUS_ERROR_DOCUMENT_FORMAT_NOT_SUPPORTED) << sent.message;
    EXPECT_EQ(server.WaitForJob("zx", std::stoi(created.values[0]), 10000)["job-state"], "aborted");

    std::string report;
    const int kept = apptest::PrintWithIpptool(server.PrinterUri("zx"), docs.file("one.pdf"), "application/pdf",
                                               "Kept", {}, {}, docs.path(), &report);
    ASSERT_GT(kept, 0) << report;
    EXPECT_EQ(server.WaitForJob("zx", kept, 60000)["job-state"], "completed");

    // CUPS's lp -h sends its document to /printers/zx, which PAPPL does not
    // serve: the job its Create-Job made never gets one.  Such a job is saved
    // without a format, which PAPPL 1.3 cannot read back.
    auto lpToServer = [&] {
        RunOptions o;
        o.program = "/usr/bin/lp";
        o.args = {"lp", "-h", "127.0.0.1:" + std::to_string(server.Port()), "-d", "zx", docs.file("one.pdf")};
        return RunProgram(o);
    };
    EXPECT_NE(lpToServer().exitCode, 0);
    EXPECT_EQ(server.WaitForJob("zx", kept + 1, 2000)["job-state"], "timeout") << "waits for its document";

    server.Stop();
    // A file: device outside the allowed folders is not trusted from the
    // state file either.
    const std::string state = server.Dir() + "/pdftopjl-app.state";
    WriteFile(state, ReadFile(state) +
                         "<Printer did=\"MFG:Zarelle;MDL:ZX-4200;\" driver=zarelle_zx4200 id=99 name=planted "
                         "uri=file:///var/tmp/planted>\n</Printer>\n");
    ASSERT_TRUE(server.Start(&error)) << error;
    EXPECT_EQ(Printers(server), std::vector<std::string>{"zx"});
    EXPECT_NE(server.Log().find("Printer not created: file: devices must be inside"), std::string::npos);
    EXPECT_EQ(JobCount(server), jobsBefore + 3);
    EXPECT_EQ(server.WaitForJob("zx", kept + 1, 2000)["job-state"], "aborted");
    for (const char* unreadable : {"Bad Job definition", "Bad printer definition"})
        EXPECT_EQ(server.Log().find(unreadable), std::string::npos) << server.Log();

    // A job that gets no document is ended once its wait is over.
    server.Stop();
    setenv("PDFTOPJL_APP_DOCUMENT_WAIT", "1", 1);
    ASSERT_TRUE(server.Start(&error)) << error;
    unsetenv("PDFTOPJL_APP_DOCUMENT_WAIT");
    EXPECT_NE(lpToServer().exitCode, 0);
    int newest = 0;
    for (const std::string& id : Send(server.Port(), IPP_OP_GET_JOBS, OnPrinter(server, [](ipp_t* r) {
                                          ippAddString(r, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                                                       "all");
                                      }), "", "job-id")
                                     .values)
        newest = std::max(newest, std::stoi(id));
    auto ended = server.WaitForJob("zx", newest, 10000);
    EXPECT_EQ(ended["job-state"], "canceled");
    EXPECT_NE(ended["job-state-message"].find("No document arrived"), std::string::npos) << ended["job-state-message"];
}

struct SubmitCase {
    const char* name;
    const char* operation;             // Validate-Job or Print-Job
    const char* format;
    std::vector<std::string> attrs;    // ipptool ATTR lines, operation group
    bool textDocument;
    const char* status;
    const char* unsupported;           // attribute named in the unsupported group, or ""
};

class AppSubmission : public ::testing::TestWithParam<SubmitCase> {};

// What cannot print is refused when it is sent, with the status IPP clients
// understand, before any job exists.
TEST_P(AppSubmission, RefusedWithItsStatus)
{
    const SubmitCase& c = GetParam();
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    static AppServer server;
    static std::string error;
    static bool started = server.Start(&error) && server.AddPrinter("zx", &error);
    ASSERT_TRUE(started) << error;
    TempDir work;
    WriteFile(work.file("doc.pdf"), MakePdf(1, 595, 842));
    WriteFile(work.file("note.txt"), "A note, in plain text.\n");
    std::string test = std::string("{\n NAME \"") + c.name + "\"\n OPERATION " + c.operation +
                       "\n GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
                       " ATTR naturalLanguage attributes-natural-language en\n ATTR uri printer-uri $uri\n"
                       " ATTR name requesting-user-name alice\n ATTR mimeMediaType document-format " +
                       c.format + "\n";
    for (const std::string& line : c.attrs) test += " " + line + "\n";
    if (std::string(c.operation) == "Print-Job") test += " FILE $filename\n";
    test += std::string(" STATUS ") + c.status + "\n";
    if (*c.unsupported != '\0') test += std::string(" EXPECT ") + c.unsupported + " IN-GROUP unsupported-attributes-tag\n";
    test += "}\n";
    WriteFile(work.file("case.test"), test);
    const size_t before = JobCount(server);
    apptest::IpptoolResult r = apptest::RunIpptool(
        {"-t", "-f", work.file(c.textDocument ? "note.txt" : "doc.pdf"), server.PrinterUri("zx"), work.file("case.test")});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    if (std::string(c.status) != "successful-ok") {
        EXPECT_EQ(JobCount(server), before) << "a refused request left a job";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ipptool, AppSubmission,
    ::testing::Values(
        SubmitCase{"ValidateShortPasscode", "Validate-Job", "application/pdf", {"ATTR octetString job-password 12"},
                   false, "client-error-attributes-or-values-not-supported", "job-password"},
        SubmitCase{"PrintShortPasscode", "Print-Job", "application/pdf", {"ATTR octetString job-password 12"}, false,
                   "client-error-attributes-or-values-not-supported", "job-password"},
        SubmitCase{"PrintLetterPasscode", "Print-Job", "application/pdf", {"ATTR octetString job-password 12ab"},
                   false, "client-error-attributes-or-values-not-supported", "job-password"},
        SubmitCase{"ValidateEncryptedPasscode", "Validate-Job", "application/pdf",
                   {"ATTR octetString job-password 1234", "ATTR keyword job-password-encryption sha2-256"}, false,
                   "client-error-attributes-or-values-not-supported", "job-password"},
        SubmitCase{"ValidateGoodPasscode", "Validate-Job", "application/pdf", {"ATTR octetString job-password 1234"},
                   false, "successful-ok", ""},
        SubmitCase{"ValidateText", "Validate-Job", "text/plain", {}, true,
                   "client-error-document-format-not-supported", "document-format"},
        SubmitCase{"PrintTextAsOctetStream", "Print-Job", "application/octet-stream", {}, true,
                   "client-error-document-format-not-supported", "document-format"},
        SubmitCase{"ValidatePageOverride", "Validate-Job", "application/pdf",
                   {"GROUP job-attributes-tag",
                    "ATTR collection overrides { MEMBER rangeOfInteger pages 1-2 MEMBER keyword media iso_a3_297x420mm }"},
                   false, "client-error-attributes-or-values-not-supported", "overrides"},
        SubmitCase{"PrintPdfAsOctetStream", "Print-Job", "application/octet-stream", {}, false, "successful-ok", ""}),
    [](const ::testing::TestParamInfo<SubmitCase>& info) { return std::string(info.param.name); });

// A command run as `nobody`; how it ended.
RunResult AsNobody(std::vector<std::string> args, const std::string& snapCommon)
{
    RunOptions o;
    o.program = "/usr/bin/setpriv";
    o.args = {"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"};
    o.args.insert(o.args.end(), args.begin(), args.end());
    o.env["SNAP_COMMON"] = snapCommon;
    o.env["HOME"] = "/nonexistent";
    return RunProgram(o);
}

// A root server: any user prints, only root administers, through the local
// socket and loopback TCP alike.
TEST(AppAccess, OnlyAdministratorsAdminister)
{
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (geteuid() != 0) GTEST_SKIP() << "the server must run as root to test other users against it";
    if (access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is needed to run as nobody";
    AppServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error) && server.AddPrinter("zx", &error)) << error;
    TempDir work;
    chmod(work.path().c_str(), 0755);
    WriteFile(work.file("doc.pdf"), MakePdf(1, 595, 842));
    const std::string system = "ipp://127.0.0.1:" + std::to_string(server.Port()) + "/ipp/system";
    const std::string head =
        " GROUP operation-attributes-tag\n ATTR charset attributes-charset utf-8\n"
        " ATTR naturalLanguage attributes-natural-language en\n";
    WriteFile(work.file("create.test"), "{\n NAME \"Create-Printer\"\n OPERATION Create-Printer\n" + head +
                                            " ATTR uri system-uri $uri\n ATTR keyword printer-service-type print\n"
                                            " ATTR keyword smi55357-driver zarelle_zx4200\n"
                                            " ATTR uri smi55357-device-uri file://" + server.OutputDir("zx") + "\n"
                                            " GROUP printer-attributes-tag\n ATTR name printer-name $name\n"
                                            " STATUS successful-ok\n}\n");
    WriteFile(work.file("pause.test"), "{\n NAME \"Pause-Printer\"\n OPERATION Pause-Printer\n" + head +
                                           " ATTR uri printer-uri $uri\n STATUS successful-ok\n}\n");
    WriteFile(work.file("print.test"), "{\n NAME \"Print-Job\"\n OPERATION Print-Job\n" + head +
                                           " ATTR uri printer-uri $uri\n ATTR name requesting-user-name nobody\n"
                                           " ATTR mimeMediaType document-format application/pdf\n"
                                           " FILE $filename\n STATUS successful-ok\n}\n");
    // A job of alice's, held so that it stays.
    std::string report;
    const int held = apptest::PrintWithIpptool(server.PrinterUri("zx"), work.file("doc.pdf"), "application/pdf",
                                               "Held", {}, {"ATTR keyword job-hold-until indefinite"}, work.path(),
                                               &report);
    ASSERT_GT(held, 0) << report;
    WriteFile(work.file("cancel.test"), "{\n NAME \"Cancel-Job\"\n OPERATION Cancel-Job\n" + head +
                                            " ATTR uri printer-uri $uri\n ATTR integer job-id " +
                                            std::to_string(held) + "\n ATTR name requesting-user-name nobody\n"
                                            " STATUS successful-ok\n}\n");
    const std::string app = PDFTOPJL_APP_BINARY;
    struct Row {
        const char* name;
        std::vector<std::string> args;
        bool allowed;
    };
    const std::vector<Row> rows = {
        {"AddThroughSocket",
         {app, "add", "-d", "evil", "-m", "zarelle_zx4200", "-v", "file://" + server.OutputDir("zx")}, false},
        {"PrintersThroughSocket", {app, "printers"}, false},
        {"CreatePrinterOverTcp", {"ipptool", "-d", "name=evil2", "-t", system, work.file("create.test")}, false},
        {"PausePrinterOverTcp", {"ipptool", "-t", server.PrinterUri("zx"), work.file("pause.test")}, false},
        {"CancelOthersJob", {"ipptool", "-t", server.PrinterUri("zx"), work.file("cancel.test")}, false},
        {"PrintOverTcp", {"ipptool", "-t", "-f", work.file("doc.pdf"), server.PrinterUri("zx"), work.file("print.test")},
         true},
    };
    for (const Row& row : rows) {
        RunResult r = AsNobody(row.args, server.Dir());
        EXPECT_EQ(r.exitCode == 0, row.allowed) << row.name << ": " << r.out << r.err;
    }
    EXPECT_EQ(Printers(server), std::vector<std::string>{"zx"});
    // Root administers over loopback TCP too.
    apptest::IpptoolResult byRoot = apptest::RunIpptool({"-d", "name=second", "-t", system, work.file("create.test")});
    EXPECT_EQ(byRoot.exitCode, 0) << byRoot.out;
}

}  // namespace

namespace {

// The submit sub-command goes through the local socket, which PAPPL asks no
// hook about: what it cannot carry it refuses, and what cannot print ends
// saying why.
TEST(AppAccess, SubmitSaysWhatCannotPrint)
{
    if (std::string why = apptest::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    AppServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error) && server.AddPrinter("zx", &error)) << error;
    TempDir work;
    WriteFile(work.file("note.txt"), "A note, in plain text.\n");
    WriteFile(work.file("doc.pdf"), MakePdf(1, 595, 842));
    // Through Command: under ASan it unwinds fully, so PAPPL's own leaks
    // in its sub-commands match their suppressions.
    auto submit = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"submit", "-d", "zx"});
        return server.Command(args);
    };
    RunResult passcode = submit({"-o", "job-password=1234", work.file("doc.pdf")});
    EXPECT_NE(passcode.exitCode, 0);
    EXPECT_NE(passcode.err.find("submit cannot send job-password"), std::string::npos) << passcode.err;

    RunResult text = submit({work.file("note.txt")});
    ASSERT_EQ(text.exitCode, 0) << text.err;
    const int id = std::atoi(text.out.substr(text.out.find('-') + 1).c_str());
    auto job = server.WaitForJob("zx", id, 30000);
    EXPECT_EQ(job["job-state"], "aborted");
    EXPECT_NE(job["job-state-message"].find("not in a format the printer takes"), std::string::npos)
        << job["job-state-message"];
}

}  // namespace
