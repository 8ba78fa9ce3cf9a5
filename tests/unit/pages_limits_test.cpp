// SPDX-License-Identifier: Apache-2.0
// The job's own process at a processor-time limit: work qpdf cannot leave
// part way ends the job there, visibly, without leaving its files behind.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "job/tempfiles.hpp"
#include "pages/worker.hpp"
#include "support/fixtures.hpp"

using namespace pdftopjl;

TEST(ProcessorTimeLimit, EndsTheJobWithItsMessageAndNoFilesLeft)
{
    testsupport::TempDir tmp;
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(fds[1], STDERR_FILENO);
        setenv("TMPDIR", tmp.path().c_str(), 1);
        if (!job::CreateTempFile().fd) _exit(3);
        const ProcessorTimeLimit limit(1, "ERROR: out of time\nProcess Data fail\n");
        volatile unsigned long spin = 0;
        for (;;) spin = spin + 1;
    }
    close(fds[1]);
    std::string err;
    char chunk[256];
    for (ssize_t n; (n = read(fds[0], chunk, sizeof chunk)) > 0;) err.append(chunk, n);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(err, "ERROR: out of time\nProcess Data fail\n");
    EXPECT_EQ(tmp.entries(), std::vector<std::string>{});
}
