// SPDX-License-Identifier: Apache-2.0
#pragma once

// The sub-commands PAPPL 1.3's main loop gets wrong, done by the application
// over the server's local socket: "modify" (device, location, every default),
// "delete" and "default" (PAPPL looks up a printer added since the server
// started as printer-id 0), and "shutdown" (which returns only once the
// server has stopped), and "status" (PAPPL glues the reasons to the date).
namespace pdftopjl::app {

// True, after saying so, when argv is a sub-command for a running server that
// refuses this user.
bool RefusedByServer(int argc, char* argv[]);

// True when argv is one of those sub-commands; `status` is then its exit status.
bool RunAdminCommand(int argc, char* argv[], int* status);

}  // namespace pdftopjl::app
