// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

#include "support/fixtures.hpp"
#include "support/process.hpp"

namespace testsupport {

// A job refused before its header: no sanitizer report, no crash, status 1,
// nothing on standard output, `reason` on standard error with `lastLine`
// (the phase message) last, and nothing left in the temporary directory.  A
// failed job says why in exactly one ERROR: line (holding `reason`); a
// cancelled one in none.
void ExpectJobRefused(const RunResult& r, const TempDir& tmp, const std::string& reason,
                      const std::string& lastLine);

// The lines of `err` that start with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& err, const std::string& prefix);

}  // namespace testsupport
