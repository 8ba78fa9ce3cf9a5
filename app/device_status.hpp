// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace pdftopjl::app {

// While a printer waits for a device that does not open, says why: the
// reason "offline", the job's job-state-message and a line on the printer's
// web page ("Cannot connect to socket://host:9100: Connection refused"),
// cleared once the device opens.
void WatchDevices(pappl_system_t* system);

// Why a socket:// printer cannot be reached within timeoutMs ("Cannot
// connect to socket://host:9100: Connection refused"); empty when it can.
// PAPPL 1.3 itself reports a refused connection as "Host is down".
std::string ConnectProblem(const std::string& uri, int timeoutMs);

}  // namespace pdftopjl::app
