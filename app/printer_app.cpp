// SPDX-License-Identifier: Apache-2.0
#include "printer_app.hpp"

#include <cstdio>
#include <cstring>
#include <string>

#include "access.hpp"
#include "admin_commands.hpp"
#include "defaults_page.hpp"
#include "device_status.hpp"
#include "device_writer.hpp"
#include "job_process.hpp"
#include "models.hpp"
#include "passcodes.hpp"
#include "print_job.hpp"
#include "printer_settings.hpp"
#include "printer_status.hpp"
#include "test_page.hpp"
#include "runtime.hpp"

#ifndef PDFTOPJL_APP_VERSION
#define PDFTOPJL_APP_VERSION "0.9.0"
#endif

namespace pdftopjl::app {

namespace {

const char kName[] = "pdftopjl-app";
// Whether this process runs the server, rather than a sub-command that
// talks to one.
bool serverCommand = false;

const char kFooter[] =
    "pdftopjl-app: PDF behind a PJL job header, for driverless (IPP Everywhere) clients.";

pappl_loglevel_t logLevel(const char* value)
{
    if (value == nullptr) return PAPPL_LOGLEVEL_WARN;
    if (std::strcmp(value, "fatal") == 0) return PAPPL_LOGLEVEL_FATAL;
    if (std::strcmp(value, "error") == 0) return PAPPL_LOGLEVEL_ERROR;
    if (std::strcmp(value, "info") == 0) return PAPPL_LOGLEVEL_INFO;
    if (std::strcmp(value, "debug") == 0) return PAPPL_LOGLEVEL_DEBUG;
    return PAPPL_LOGLEVEL_WARN;
}

// Where jobs are spooled unless told: PAPPL's own choices.
std::string defaultSpoolDirectory()
{
    if (const char* snap = getenv("SNAP_COMMON")) return std::string(snap) + "/" + kName + ".d";
    if (getuid() == 0) return std::string("/var/spool/") + kName;
    if (const char* home = getenv("HOME")) return std::string(home) + "/.config/" + kName + ".d";
    return std::string(papplGetTempDir()) + "/" + kName + std::to_string(getuid()) + ".d";
}

void identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message)
{
    // The printer's panel shows the message (PJL ready message).
    pappl_device_t* device = papplPrinterOpenDevice(printer);
    if (device == nullptr) return;
    std::string text = message != nullptr && *message != '\0' ? message : "Hello";
    std::string clean;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x20 && c != '"' && clean.size() < 32) clean += c;
    papplDevicePuts(device, "\x1b%-12345X@PJL\r\n@PJL RDYMSG DISPLAY=\"");
    papplDevicePuts(device, clean.c_str());
    papplDevicePuts(device, "\"\r\n\x1b%-12345X");
    papplPrinterCloseDevice(printer);
}

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                    pappl_pr_driver_data_t* data, ipp_t** attrs, void*)
{
    // Every printer is made here, those of the state file included.
    if (const std::string problem = DeviceRefusal(deviceUri, deviceId); !problem.empty()) {
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Printer not created: %s.", problem.c_str());
        return false;
    }
    const Model* model = FindModel(driverName != nullptr ? driverName : "");
    if (model == nullptr) return false;
    FillDriverData(*model, data, attrs);
    data->printfile_cb = PrintPdf;
    data->rstartjob_cb = RasterStartJob;
    data->rstartpage_cb = RasterStartPage;
    data->rwriteline_cb = RasterWriteLine;
    data->rendpage_cb = RasterEndPage;
    data->rendjob_cb = RasterEndJob;
    data->identify_cb = identify;
    data->testpage_cb = PrintTestPage;
    data->status_cb = UpdatePrinterStatus;
    return true;
}

const char* autoAdd(const char*, const char*, const char* deviceId, void*) { return MatchDevice(deviceId); }

void printerCreated(pappl_printer_t* printer, void*)
{
    // Toner the application cannot measure: present, level unknown; black
    // alone in a monochrome model.
    pappl_supply_t supplies[] = {
        {PAPPL_SUPPLY_COLOR_BLACK, "Black Toner", true, -1, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE},
        {PAPPL_SUPPLY_COLOR_CYAN, "Cyan Toner", true, -1, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE},
        {PAPPL_SUPPLY_COLOR_MAGENTA, "Magenta Toner", true, -1, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE},
        {PAPPL_SUPPLY_COLOR_YELLOW, "Yellow Toner", true, -1, PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE},
    };
    const Model* model = FindModel(papplPrinterGetDriverName(printer));
    papplPrinterSetSupplies(printer, model != nullptr && !model->row->colour ? 1 : 4, supplies);
    AddDefaultsPage(printer);
    AddSuppliesPage(printer);
}

pappl_system_t* systemCallback(int numOptions, cups_option_t* options, void*)
{
    auto option = [&](const char* name) { return cupsGetOption(name, numOptions, options); };
    // Loopback only unless told otherwise: the printer is this machine's, and
    // TLS adds nothing there (PAPPL 1.3 also lists an ipps URI it does not
    // give to loopback clients).
    const char* listen = option("listen-hostname");
    pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                                PAPPL_SOPTIONS_WEB_LOG;
    if (listen == nullptr) soptions |= PAPPL_SOPTIONS_NO_TLS;
    int port = 0;
    if (const char* value = option("server-port")) port = std::atoi(value);
    const std::string spool = option("spool-directory") ? option("spool-directory") : defaultSpoolDirectory();
    // Sub-commands that make a system of their own ("drivers") log nowhere.
    const std::string logFile = option("log-file") ? option("log-file") : serverCommand ? DefaultLogFile() : "-";
    pappl_system_t* system =
        papplSystemCreate(soptions, kName, port, "_print,_universal", spool.c_str(), logFile.c_str(),
                          logLevel(option("log-level")), option("auth-service"), false);
    if (system == nullptr) return nullptr;
    SetSpoolDirectory(spool);
    if (serverCommand) LogFatalSignals(logFile);

    // Loopback stays beside a network listener: administration is local.
    if (option("private-server") == nullptr) {
        papplSystemAddListeners(system, "localhost");
        if (listen != nullptr) papplSystemAddListeners(system, listen);
    }
    // No papplSystemSetHostName: PAPPL 1.3 would rename the machine itself.
    if (const char* group = option("admin-group")) papplSystemSetAdminGroup(system, group);
    ConfigureAccess(system, option("admin-group"), option("file-device-folder"), spool);

    std::span<pappl_pr_driver_t> drivers = DriverList();
    papplSystemSetPrinterDrivers(system, static_cast<int>(drivers.size()), drivers.data(), autoAdd,
                                 printerCreated, driverCallback, nullptr);
    papplSystemAddMIMEFilter(system, "image/jpeg", "application/pdf", PrintJpeg, nullptr);
    papplSystemAddMIMEFilter(system, "application/octet-stream", "application/pdf", RefuseUntyped, nullptr);
    papplSystemSetFooterHTML(system, kFooter);
    InstallPasscodeHooks(system);
    InstallAdminOperations(system);
    WatchDevices(system);
    if (const char* poll = option("status-poll")) SetStatusPolling(std::strcmp(poll, "off") != 0);
    if (serverCommand) LoadAndKeepState(system, DefaultStatePath());
    return system;
}

// PAPPL's submit sends the -o options the printer lists as job template
// attributes only, and its local socket never reaches the hook that takes a
// passcode: a job-password there would be dropped without a word.
bool submitWithPasscode(int argc, char* argv[])
{
    if (argc < 2 || std::strcmp(argv[1], "submit") != 0) return false;
    for (int i = 2; i < argc; ++i) {
        const char* value = nullptr;
        if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            value = argv[++i];
        else if (std::strncmp(argv[i], "-o", 2) == 0)
            value = argv[i] + 2;
        if (value == nullptr) continue;
        cups_option_t* options = nullptr;
        const int count = cupsParseOptions(value, 0, &options);
        const bool found = cupsGetOption("job-password", count, options) != nullptr;
        cupsFreeOptions(count, options);
        if (found) return true;
    }
    return false;
}

}  // namespace

int RunApp(int argc, char* argv[])
{
    RememberProgramPath();
    InstallFileScheme();
    serverCommand = IsServerCommand(argc, argv);
    if (submitWithPasscode(argc, argv)) {
        std::fprintf(stderr, "%s: submit cannot send job-password; print a stored job with ipptool or through a "
                             "CUPS queue (lp -o job-password=NNNN).\n", kName);
        return 1;
    }
    if (RefusedByServer(argc, argv)) return 1;
    if (int status = 0; RunAdminCommand(argc, argv, &status)) return status;
    std::span<pappl_pr_driver_t> drivers = DriverList();
    return papplMainloop(argc, argv, PDFTOPJL_APP_VERSION, kFooter, static_cast<int>(drivers.size()),
                         drivers.data(), autoAdd, driverCallback, nullptr, nullptr, systemCallback,
                         nullptr, nullptr);
}

}  // namespace pdftopjl::app
