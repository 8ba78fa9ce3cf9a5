// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <string>

// Who may do what.  Everyone may print; administration (adding, changing
// and deleting printers, the system's settings, pausing, other users' jobs)
// belongs to the user the server runs as, root, and the members of
// admin-group.
//
// PAPPL 1.3 lets every client of its local socket (mode 0777) administer
// and never asks the authorization callback about them, so the server takes
// on that socket only connections from administrators (peer credentials,
// checked as PAPPL accepts them).  Loopback TCP clients are told apart by
// the owner of their end of the connection; clients on other hosts do not
// administer.  Requests also pass the value checks of request_checks.hpp
// before PAPPL sees them.
namespace pdftopjl::app {

// From the server's options: admin-group, and file-device-folder (folders,
// separated by ':', that file: devices may write in; by default the spool's
// "output" folder, made when missing).
void ConfigureAccess(pappl_system_t* system, const char* adminGroup, const char* fileDeviceFolders,
                     const std::string& spoolDirectory);

// For PAPPL's authorization callback: HTTP_STATUS_CONTINUE to let PAPPL go
// on (a refused job request has then been answered here, with its IPP
// status), or the HTTP status PAPPL answers with.
http_status_t AdmitRequest(pappl_client_t* client);

// Why a printer may not use this device ("" when it may, or before
// ConfigureAccess).
std::string DeviceRefusal(const char* uri, const char* deviceId);

}  // namespace pdftopjl::app
