// SPDX-License-Identifier: Apache-2.0
#include "support/expect.hpp"

#include <gtest/gtest.h>

namespace testsupport {

void ExpectJobRefused(const RunResult& r, const TempDir& tmp, const std::string& reason,
                      const std::string& lastLine)
{
    EXPECT_FALSE(HasSanitizerReport(r.err)) << r.err;
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(reason), std::string::npos) << r.err;
    ASSERT_GE(r.err.size(), lastLine.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - lastLine.size()), lastLine) << r.err;
    EXPECT_EQ(tmp.entries(), std::vector<std::string>{});
    const std::vector<std::string> errors = LinesStartingWith(r.err, "ERROR: ");
    if (lastLine.find("Job cancelled") != std::string::npos) {
        EXPECT_TRUE(errors.empty()) << r.err;
    } else {
        ASSERT_EQ(errors.size(), 1u) << r.err;
        EXPECT_NE(errors[0].find(reason), std::string::npos) << r.err;
    }
}

std::vector<std::string> LinesStartingWith(const std::string& err, const std::string& prefix)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < err.size();) {
        size_t end = err.find('\n', at);
        if (end == std::string::npos) end = err.size();
        if (err.compare(at, prefix.size(), prefix) == 0) lines.push_back(err.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

}  // namespace testsupport
