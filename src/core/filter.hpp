// SPDX-License-Identifier: Apache-2.0
#pragma once

// The core's one call, RunJob (declared in core/run_job.hpp), is built here
// from the staging, the header and the output channel.
#include "core/run_job.hpp"
