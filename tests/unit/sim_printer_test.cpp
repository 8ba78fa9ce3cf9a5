// SPDX-License-Identifier: Apache-2.0
// The simulated printer the app's status tests rely on: it must tell a
// well-framed job from a broken one and answer status as a printer does.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "support/sim_printer.hpp"

using testsupport::SimPrinter;

namespace {

// Sends `data` on a connection of its own; what came back within 2 s.
std::string Exchange(const SimPrinter& printer, const std::string& data, bool waitForAnswer)
{
    const int port = printer.Port();
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, printer.Host().c_str(), &addr.sin_addr);
    std::string answer;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        pollfd wait{fd, POLLIN, 0};
        char buffer[4096];
        ssize_t n = 0;
        while (waitForAnswer && answer.find('\f') == std::string::npos && poll(&wait, 1, 2000) == 1 &&
               (n = read(fd, buffer, sizeof buffer)) > 0)
            answer.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return answer;
}

const std::string kUel = "\x1b%-12345X";

TEST(SimPrinter, ChecksFramingAndAnswersStatus)
{
    SimPrinter printer;
    const std::string pdf = "%PDF-1.4\n%%EOF\n";
    const std::string header = kUel + "@PJL JOB MODE=PRINTER\n@PJL SET JOBATTR=\"@FSIZ=" + std::to_string(pdf.size()) +
                               "\"\n@PJL ENTER LANGUAGE=PDF\n";
    Exchange(printer, header + pdf + kUel + "@PJL EOJ\n", false);
    Exchange(printer, header + pdf, false);
    const auto jobs = printer.WaitForJobs(2, 5000);
    ASSERT_EQ(jobs.size(), 2u);
    EXPECT_TRUE(jobs[0].valid) << jobs[0].error;
    EXPECT_EQ(jobs[0].pdf, pdf);
    EXPECT_FALSE(jobs[1].valid);

    const std::string query = kUel + "@PJL\r\n@PJL INFO STATUS\r\n" + kUel;
    printer.Set(SimPrinter::State::PaperOutTray2);
    EXPECT_EQ(Exchange(printer, query, true), SimPrinter::StatusAnswer(SimPrinter::State::PaperOutTray2));
    EXPECT_NE(SimPrinter::StatusAnswer(SimPrinter::State::PaperOutTray2).find("CODE=41202"), std::string::npos);
    printer.Set(SimPrinter::Mode::Silent);
    EXPECT_EQ(Exchange(printer, query, true), "");
    EXPECT_EQ(printer.StatusQueries(), 2);
}

}  // namespace
