// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <sys/types.h>

#include <functional>

// The job's cancel: SIGTERM as CUPS sends it, or a caller's own check; and
// the output's far end closing.
namespace pdftopjl::job {

// A caller's own cancel, asked wherever the job looks for SIGTERM's.
void SetCancelCheck(std::function<bool()> check);

// SIGTERM came, or the caller's cancel check says so.
bool Cancelled();
bool OutputClosed();
// Installs the SIGTERM and SIGPIPE handlers; interrupted calls are resumed.
void InstallSignalHandlers();
// While nothing has been sent (true until the job's output begins), a cancel
// the job has not acted on within half a second ends the process from the
// signal handler: "INFO: Job cancelled", its temporary files removed, exit
// status 1.  Whatever the job is doing then (qpdf, a PPD being read) never
// holds a cancel for long.
void BeforeOutput(bool before);
// The child (the pre-filter) that such an end kills first; 0 for none.
void EndOnCancel(pid_t child);

}  // namespace pdftopjl::job
