#pragma once

#include <string>

#include "support/fixtures.hpp"
#include "support/process.hpp"

namespace testsupport {

// A job refused before its header: no sanitizer report, no crash, status 1,
// nothing on standard output, `reason` on standard error with `lastLine`
// (the phase message) last, and nothing left in the temporary directory.
void ExpectJobRefused(const RunResult& r, const TempDir& tmp, const std::string& reason,
                      const std::string& lastLine);

}  // namespace testsupport
