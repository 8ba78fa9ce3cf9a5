// SPDX-License-Identifier: Apache-2.0
// Administering pdftopjl-app as a person does: its sub-commands, IPP
// Set-Printer-Attributes, the web interface's pages.
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <regex>

#include "app_server.hpp"
#include "models/model_table.hpp"
#include "pjl/jobstream.hpp"
#include "support/fixtures.hpp"
#include "support/process.hpp"
#include "support/sim_printer.hpp"

using namespace testsupport;
using apptest::AppServer;

namespace {

const char kPrinter[] = "zx";

class AppAdmin : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        skip_ = apptest::Unavailable();
        if (!skip_.empty()) return;
        server_ = std::make_unique<AppServer>();
        if (!server_->Start(&startError_) || !server_->AddPrinter(kPrinter, &startError_)) return;
    }
    static void TearDownTestSuite() { server_.reset(); }
    void SetUp() override
    {
        if (!skip_.empty()) GTEST_SKIP() << skip_;
        ASSERT_TRUE(startError_.empty()) << startError_;
    }
    static std::string attribute(const std::string& printer, const std::string& name)
    {
        return server_->PrinterAttributes(printer)[name];
    }

    static std::string skip_;
    static std::string startError_;
    static std::unique_ptr<AppServer> server_;
};

std::string AppAdmin::skip_;
std::string AppAdmin::startError_;
std::unique_ptr<AppServer> AppAdmin::server_;

// The values a browser would send back for the page's form, as it shows them.
std::string formOf(const std::string& page)
{
    std::string form;
    auto add = [&](const std::string& name, const std::string& value) {
        form += (form.empty() ? "" : "&") + name + "=";
        for (unsigned char c : value) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            form += std::isalnum(c) || c == '-' || c == '.' || c == '_' ? std::string(1, static_cast<char>(c)) : hex;
        }
    };
    std::smatch m;
    const std::regex session("name=\"session\" value=\"([^\"]*)\"");
    if (std::regex_search(page, m, session)) add("session", m[1]);
    const std::regex select("<select name=\"([^\"]+)\">(.*?)</select>");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), select); it != std::sregex_iterator(); ++it) {
        const std::string options = (*it)[2];
        std::smatch chosen;
        if (std::regex_search(options, chosen, std::regex("<option value=\"([^\"]*)\" selected>")) ||
            std::regex_search(options, chosen, std::regex("<option value=\"([^\"]*)\"")))
            add((*it)[1], chosen[1]);
    }
    const std::regex text("<input type=\"text\" name=\"([^\"]+)\"[^>]* value=\"([^\"]*)\">");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), text); it != std::sregex_iterator(); ++it)
        add((*it)[1], (*it)[2]);
    const std::regex checked("<input type=\"checkbox\" name=\"([^\"]+)\" checked>");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), checked); it != std::sregex_iterator(); ++it)
        add((*it)[1], "on");
    return form;
}

std::string replaced(std::string form, const std::string& name, const std::string& value)
{
    return std::regex_replace(form, std::regex("(^|&)" + name + "=[^&]*"), "$1" + name + "=" + value);
}

TEST_F(AppAdmin, ModifyChangesOrSaysWhyNot)
{
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* message;    // in standard error
        const char* attribute;  // then holds...
        const char* value;
    };
    const Case cases[] = {
        {{"-o", "sides-default=two-sided-long-edge"}, 0, "", "sides-default", "two-sided-long-edge"},
        {{"-o", "printer-location='Room 4'"}, 0, "", "printer-location", "Room 4"},
        {{"-o", "media-source=tray-2 media-type=cardstock"}, 0, "", "media-col-default", "media-source=tray-2"},
        {{"-o", "media-source=auto"}, 0, "", "media-col-default", "media-source=auto"},
        {{"-o", "orientation-requested=landscape"}, 0, "", "orientation-requested-default", "landscape"},
        {{"-o", "finishing-preset=staple-dual-left"}, 0, "", "finishing-preset-default", "staple-dual-left"},
        {{"-o", "media-ready=na_letter_8.5x11in,iso_a3_297x420mm"}, 0, "", "media-ready",
         "na_letter_8.5x11in,iso_a3_297x420mm,"},
        {{"-o", "sides-default=bogus"}, 1,
         "sides-default: 'bogus' is not one of one-sided, two-sided-long-edge, two-sided-short-edge", "sides-default",
         "two-sided-long-edge"},
        {{"-o", "printer-resolution=300dpi"}, 1, "printer-resolution: not used by this printer", "", ""},
        {{"-o", "copies=2"}, 1, "copies: not a setting of this printer", "", ""},
        {{"-v", "lpd://printer.example/queue"}, 1, "is not a device this application can print to", "", ""},
        {{}, 1, "Nothing to change", "", ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"modify", "-d", kPrinter};
        args.insert(args.end(), c.args.begin(), c.args.end());
        RunResult r = server_->Command(args);
        const std::string what = c.args.empty() ? "(nothing)" : c.args.back();
        EXPECT_EQ(r.exitCode, c.exitCode) << what << ": " << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << what << ": " << r.err;
        if (*c.attribute) {
            EXPECT_NE(attribute(kPrinter, c.attribute).find(c.value), std::string::npos)
                << what << ": " << c.attribute << " = " << attribute(kPrinter, c.attribute);
        }
    }
    RunResult r = server_->Command({"modify", "-d", "nosuch", "-o", "sides=one-sided"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("There is no printer named 'nosuch'"), std::string::npos) << r.err;
}

TEST_F(AppAdmin, SetPrinterAttributesFromIppClients)
{
    struct Case {
        const char* name;
        ipp_tag_t tag;
        const char* value;
        bool ok;
        const char* shown;  // the attribute's value afterwards
    };
    const Case cases[] = {
        {"sides-default", IPP_TAG_KEYWORD, "two-sided-short-edge", true, "two-sided-short-edge"},
        {"print-scaling-default", IPP_TAG_KEYWORD, "fit", true, "fit"},
        {"output-bin-default", IPP_TAG_KEYWORD, "face-up", true, "face-up"},
        {"orientation-requested-default", IPP_TAG_ENUM, "5", true, "reverse-landscape"},
        {"printer-location", IPP_TAG_TEXT, "Hall", true, "Hall"},
        {"print-quality-default", IPP_TAG_ENUM, "5", true, "high"},
        {"print-type-default", IPP_TAG_KEYWORD, "proof", true, "proof"},
        {"sides-default", IPP_TAG_KEYWORD, "bogus", false, "two-sided-short-edge"},
    };
    for (const Case& c : cases) {
        http_t* http = httpConnect2("127.0.0.1", server_->Port(), nullptr, AF_INET, HTTP_ENCRYPTION_NEVER, 1, 5000,
                                    nullptr);
        ASSERT_NE(http, nullptr);
        ipp_t* request = ippNewRequest(IPP_OP_SET_PRINTER_ATTRIBUTES);
        ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr,
                     server_->PrinterUri(kPrinter).c_str());
        if (c.tag == IPP_TAG_ENUM)
            ippAddInteger(request, IPP_TAG_PRINTER, IPP_TAG_ENUM, c.name, std::atoi(c.value));
        else
            ippAddString(request, IPP_TAG_PRINTER, c.tag, c.name, nullptr, c.value);
        ippDelete(cupsDoRequest(http, request, "/ipp/print"));
        httpClose(http);
        EXPECT_EQ(cupsLastError() == IPP_STATUS_OK, c.ok) << c.name << " " << c.value << ": " << cupsLastErrorString();
        if (!c.ok) {
            EXPECT_NE(std::string(cupsLastErrorString()).find(c.name), std::string::npos);
        }
        EXPECT_EQ(attribute(kPrinter, c.name), c.shown) << c.name;
    }
    // PAPPL's own path for printer-location sets the geo-location.
    EXPECT_EQ(attribute(kPrinter, "printer-geo-location"), "unknown");
}

TEST_F(AppAdmin, DeviceChangeKeepsTheSettingsAndDeleteWorksRightAfterAdd)
{
    std::string error;
    ASSERT_TRUE(server_->AddPrinter("moved", &error)) << error;
    ASSERT_EQ(server_->Command({"modify", "-d", "moved", "-o",
                                "sides=two-sided-short-edge orientation-requested=landscape printer-location=Desk"})
                  .exitCode,
              0);
    TempDir elsewhere;
    RunResult r = server_->Command({"modify", "-d", "moved", "-v", "file://" + elsewhere.path()});
    EXPECT_NE(r.exitCode, 0) << "a file: device outside the allowed folder";
    EXPECT_NE(r.err.find("must be inside"), std::string::npos) << r.err;
    const std::string folder = server_->Dir() + "/moved";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    r = server_->Command({"modify", "-d", "moved", "-v", "file://" + folder});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(attribute("moved", "sides-default"), "two-sided-short-edge");
    EXPECT_EQ(attribute("moved", "printer-location"), "Desk");
    EXPECT_EQ(attribute("moved", "orientation-requested-default"), "landscape");
    WriteFile(elsewhere.file("one.pdf"), MakePdf(1));
    std::string report;
    const int id = apptest::PrintWithIpptool(server_->PrinterUri("moved"), elsewhere.file("one.pdf"),
                                             "application/pdf", "after-move", {}, {}, elsewhere.path(), &report);
    ASSERT_GT(id, 0) << report;
    EXPECT_EQ(server_->WaitForJob("moved", id, 60000)["job-state"], "completed");
    EXPECT_FALSE(ReadFile(folder + "/after-move-" + std::to_string(id) + ".prn").empty());

    for (const char* name : {"moved", "fresh"}) {
        if (std::string(name) == "fresh") {
            ASSERT_TRUE(server_->AddPrinter(name, &error)) << error;
        }
        r = server_->Command({"default", "-d", name});
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        EXPECT_EQ(server_->Command({"default"}).out, std::string(name) + "\n");
        r = server_->Command({"delete", "-d", name});
        EXPECT_EQ(r.exitCode, 0) << name << ": " << r.err;
        EXPECT_EQ(server_->Command({"printers"}).out.find(name), std::string::npos) << name;
    }
}

TEST_F(AppAdmin, PrintingDefaultsPageSavesOnlyWhatChanged)
{
    ASSERT_EQ(server_->Command({"modify", "-d", kPrinter, "-o", "media-source=auto sides=one-sided"}).exitCode, 0);
    const std::string path = std::string("/") + kPrinter + "/printing";
    const std::string page = server_->WebPage(path);
    for (const char* shown : {"Paper source:", ">Automatic<", "Staple / punch:", "Print type:",
                              "Bypass tray feed edge:", "Account:", "Long edge (book)"})
        EXPECT_NE(page.find(shown), std::string::npos) << shown;
    for (const char* gone : {"printer-resolution", "print-content-optimize", "print-type:"})
        EXPECT_EQ(page.find(gone), std::string::npos) << gone;

    // Turning on duplex only, as a person does in the browser.
    std::string form = replaced(formOf(page), "sides", "two-sided-long-edge");
    const std::string saved = server_->WebPage(path, replaced(form, "account-id", "ACC-7"));
    EXPECT_NE(saved.find("Changes saved."), std::string::npos) << saved;
    EXPECT_EQ(attribute(kPrinter, "sides-default"), "two-sided-long-edge");
    EXPECT_EQ(attribute(kPrinter, "account-id-default"), "ACC-7");
    EXPECT_NE(attribute(kPrinter, "media-col-default").find("media-source=auto"), std::string::npos)
        << attribute(kPrinter, "media-col-default");

    // A form without the session token changes nothing.
    server_->WebPage(path, replaced(replaced(form, "session", "x"), "sides", "one-sided"));
    EXPECT_EQ(attribute(kPrinter, "sides-default"), "two-sided-long-edge");
}

TEST_F(AppAdmin, SelfTestPagePrintsOnePage)
{
    const std::string home = std::string("/") + kPrinter + "/";
    std::smatch session;
    const std::string page = server_->WebPage(home);
    ASSERT_TRUE(std::regex_search(page, session, std::regex("name=\"session\" value=\"([^\"]*)\"")));
    const std::string done = server_->WebPage(home, "session=" + session[1].str() + "&action=print-test-page");
    EXPECT_NE(done.find("Test page printed."), std::string::npos);
    std::string stream;
    pdftopjl::JobStream job;
    for (int waited = 0; waited < 600 && !job.valid; ++waited) {
        usleep(100000);
        stream = ReadFile(server_->JobFile(kPrinter, "Test Page"));
        job = pdftopjl::ParseJobStream(stream);
    }
    ASSERT_TRUE(job.valid) << job.error;
    QPDF pdf;
    pdf.processMemoryFile("test page", job.body.data(), job.body.size());
    EXPECT_EQ(QPDFPageDocumentHelper(pdf).getAllPages().size(), 1u);
    // The layout filter may have put the page in a form of its own.
    bool named = false;
    for (QPDFObjectHandle object : pdf.getAllObjects()) {
        if (!object.isStream()) continue;
        std::shared_ptr<Buffer> data = object.getStreamData(qpdf_dl_generalized);
        named = named || std::string(reinterpret_cast<const char*>(data->getBuffer()), data->getSize())
                                 .find("(Test page: zx) Tj") != std::string::npos;
    }
    EXPECT_TRUE(named);
}

TEST_F(AppAdmin, UnreachableDeviceSaysWhyUntilItAnswers)
{
    const int port = FreeLoopbackPort();
    const std::string uri = "socket://127.0.0.1:" + std::to_string(port);
    ASSERT_EQ(server_->Command({"add", "-d", "off", "-m", "zarelle_zx4200", "-v", uri}).exitCode, 0);
    TempDir work;
    WriteFile(work.file("one.pdf"), MakePdf(1));
    std::string report;
    const int id = apptest::PrintWithIpptool(server_->PrinterUri("off"), work.file("one.pdf"), "application/pdf",
                                             "waits", {}, {}, work.path(), &report);
    ASSERT_GT(id, 0) << report;
    const std::string why = "Cannot connect to " + uri + ": Connection refused";
    std::string reasons;
    for (int waited = 0; waited < 200 && reasons.find("offline") == std::string::npos; ++waited) {
        usleep(100000);
        reasons = attribute("off", "printer-state-reasons");
    }
    EXPECT_EQ(reasons, "offline,paused");
    EXPECT_NE(server_->WebPage("/off/").find(why), std::string::npos);
    std::string message;
    for (int waited = 0; waited < 50 && message != why; ++waited) {
        message = server_->JobAttributes("off", id)["job-state-message"];
        if (message != why) usleep(100000);
    }
    EXPECT_EQ(message, why);

    SimPrinter printer(port);
    EXPECT_EQ(server_->WaitForJob("off", id, 30000)["job-state"], "completed");
    for (int waited = 0; waited < 50 && reasons != "none"; ++waited) {
        usleep(100000);
        reasons = attribute("off", "printer-state-reasons");
    }
    EXPECT_EQ(reasons, "none");
    EXPECT_EQ(server_->WebPage("/off/").find("Cannot connect"), std::string::npos);
    server_->Command({"delete", "-d", "off"});
}

TEST(AppShutdown, ReturnsOnceTheServerHasStoppedAndARestartWorks)
{
    if (std::string skip = apptest::Unavailable(); !skip.empty()) GTEST_SKIP() << skip;
    AppServer server;
    std::string error;
    ASSERT_TRUE(server.Start(&error) && server.AddPrinter("kept", &error)) << error;
    RunResult r = server.Command({"shutdown"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(server.Ended().empty()) << "the server still runs after shutdown returned";
    r = server.Command({"shutdown"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("Server is not running."), std::string::npos) << r.err;
    ASSERT_TRUE(server.Start(&error)) << error;
    EXPECT_NE(server.Command({"printers"}).out.find("kept"), std::string::npos);
}

// Every row of the model table is a driver, and a printer made with it
// offers the row's trays, colour and finishing.
TEST_F(AppAdmin, EachModelIsADriverOfferingItsRow)
{
    const std::string listed = server_->Command({"drivers"}).out;
    for (const pdftopjl::PrinterModel& model : pdftopjl::Models()) {
        SCOPED_TRACE(model.driver);
        EXPECT_NE(listed.find(std::string(model.driver) + " \"" + model.makeAndModel + "\" \"" + model.deviceId + "\""),
                  std::string::npos)
            << listed;
        const std::string name = std::string("row-") + model.driver;
        mkdir(server_->OutputDir(name).c_str(), 0755);
        ASSERT_EQ(server_->Command({"add", "-d", name, "-m", model.driver, "-v", "file://" + server_->OutputDir(name)})
                      .exitCode,
                  0);
        std::map<std::string, std::string> attrs = server_->PrinterAttributes(name);
        std::string sources;
        for (const pdftopjl::TrayEntry& tray : model.trays) sources += std::string(tray.ippSource) + ",";
        EXPECT_EQ(attrs["media-source-supported"], sources + "auto");
        EXPECT_EQ(attrs["color-supported"], model.colour ? "true" : "false");
        EXPECT_EQ(attrs["print-color-mode-default"], model.colour ? "color" : "monochrome");
        EXPECT_EQ(attrs["finishings-supported"].find("staple") != std::string::npos, pdftopjl::Staples(model));
        EXPECT_EQ(attrs["finishings-supported"].find("punch") != std::string::npos, pdftopjl::Punches(model));
        // The defaults page offers only what the model can do.
        const std::string defaults = server_->WebPage("/" + name + "/printing");
        EXPECT_EQ(defaults.find("value=\"color\"") != std::string::npos, model.colour);
        EXPECT_EQ(defaults.find("value=\"two-sided-long-edge\"") != std::string::npos, model.duplex);
        EXPECT_EQ(server_->Command({"delete", "-d", name}).exitCode, 0);
    }
}

}  // namespace
