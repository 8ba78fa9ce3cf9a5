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
}

}  // namespace testsupport
