// SPDX-License-Identifier: Apache-2.0
// When the filter asks the printer for its state under CUPS: only behind a
// backend that passes the printer's answers on, and not for a document with
// more of its job after it.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "cups/printer_state.hpp"
#include "support/fixtures.hpp"

using namespace pdftopjl;

namespace {

TEST(BackChannel, OnlyBehindBackendsThatPassTheAnswersOn)
{
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    testsupport::TempDir dir;
    testsupport::WriteFile(dir.file("f"), "");
    const int file = open(dir.file("f").c_str(), O_RDONLY);
    struct Case {
        const char* uri;
        int fd;
        bool offered;
    };
    const Case cases[] = {
        {"socket://10.0.0.5:9100", channel[0], true},
        {"usb://Zarelle/ZX-4200?serial=1", channel[0], true},
        {"dnssd://ZX-4200._pdl-datastream._tcp.local/?uuid=1", channel[0], true},
        {"dnssd://ZX-4200._ipp._tcp.local/?uuid=1", channel[0], false},
        {"ipp://10.0.0.5/ipp/print", channel[0], false},
        {"lpd://10.0.0.5/queue", channel[0], false},
        {"file:///dev/null", channel[0], false},
        {nullptr, channel[0], false},         // run by hand
        {"socket://10.0.0.5:9100", 999, false},  // no back channel
        {"socket://10.0.0.5:9100", file, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri != nullptr ? c.uri : "(none)");
        EXPECT_EQ(BackChannelOffered(c.uri, c.fd), c.offered);
    }
    close(file);
    close(channel[0]);
    close(channel[1]);
}

TEST(BackChannel, NotForADocumentWithMoreAfterIt)
{
    testsupport::TempDir spool;
    for (const char* name : {"d00012-001", "d00012-002", "d00013-001"}) testsupport::WriteFile(spool.file(name), "");
    EXPECT_TRUE(LaterDocumentFollows(spool.file("d00012-001").c_str()));
    EXPECT_FALSE(LaterDocumentFollows(spool.file("d00012-002").c_str()));
    EXPECT_FALSE(LaterDocumentFollows(spool.file("d00013-001").c_str()));
    EXPECT_FALSE(LaterDocumentFollows(nullptr));
}

}  // namespace
