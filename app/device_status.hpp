#pragma once

#include <pappl/pappl.h>

namespace pdftopjl::app {

// While a printer waits for a device that does not open, says why: the
// reason "offline", the job's job-state-message and a line on the printer's
// web page ("Cannot connect to socket://host:9100: Connection refused"),
// cleared once the device opens.
void WatchDevices(pappl_system_t* system);

}  // namespace pdftopjl::app
