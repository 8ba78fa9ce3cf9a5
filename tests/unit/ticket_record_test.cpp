// SPDX-License-Identifier: Apache-2.0
// The ticket and profile as a record between two processes of one job.
#include <gtest/gtest.h>

#include "ticket/ticket_record.hpp"

using namespace pdftopjl;

namespace {

// A ticket with none of its fields at their defaults, texts of every kind.
JobTicket fullTicket()
{
    JobTicket t;
    t.user = "alice";
    t.title = std::string("Report \xE6\x97\xA5\n\0end", 16);
    t.productType = 3;
    t.copies = 7;
    t.collation = Collation::Uncollated;
    t.held = {PrintType::Store, "1234", "bob", JobNameSource::Given, "payroll"};
    t.passcodeIssue = PasscodeIssue::Encrypted;
    t.accounting.manageType = 2;
    t.accounting.userId = "dept7";
    t.accounting.clientAddress = "192.0.2.1";
    t.tray = Tray::Bypass;
    t.paper = Paper::Ledger;
    t.mediaType = MediaType::Thick;
    t.bypassFeedEdge = FeedEdge::LongTurned;
    t.sides = Sides::TwoSidedShortEdge;
    t.colour = ColourMode::Black;
    t.quality = Quality::High;
    t.trapping = Trapping::Off;
    t.outputBin = OutputBin::Stacker2;
    t.finishing = {Staple::DualTop, Punch::On, FinishingOrientation::ReverseLandscape};
    t.jobId = "42";
    t.layout.pageRanges = "1-3,7-7";
    t.layout.numberUp = "4";
    t.layout.pageTop = "";
    t.layout.orientation = Orientation::ReverseLandscape;
    t.halfTurn = true;
    t.raster = true;
    t.dialogTotalSides = 12;
    return t;
}

std::string encoded(const JobTicket& ticket, const PrinterProfile& profile)
{
    RecordBuilder out;
    AppendTicket(out, ticket);
    AppendProfile(out, profile);
    return out.bytes();
}

TEST(TicketRecord, ReadsBackWhatWasSent)
{
    PrinterProfile profile;
    profile.queueName = "zx";
    profile.described = true;
    profile.codeSet = CodeSet::Utf8;
    profile.bypassTrayName = "SMH";
    profile.landscape = LandscapeDirection::Minus90;
    const JobTicket sent = fullTicket();
    const std::string bytes = encoded(sent, profile);

    RecordParser in(bytes);
    JobTicket ticket;
    PrinterProfile printer;
    ASSERT_TRUE(ParseTicket(in, &ticket) && ParseProfile(in, &printer) && in.complete());
    EXPECT_EQ(encoded(ticket, printer), bytes);
    EXPECT_EQ(ticket.title, sent.title);
    EXPECT_EQ(ticket.held.passcode, "1234");
    EXPECT_EQ(ticket.productType, 3);
    EXPECT_FALSE(ticket.dialogCopies.has_value());
    EXPECT_EQ(ticket.layout.pageTop, "");
    EXPECT_FALSE(ticket.layout.pageLeft.has_value());
    EXPECT_EQ(ticket.finishing.staple, Staple::DualTop);
    EXPECT_EQ(printer.bypassTrayName, "SMH");
}

// A record cut anywhere, or with bytes after its end, is not a ticket.
TEST(TicketRecord, RefusesWhatIsNotWhole)
{
    const std::string bytes = encoded(fullTicket(), PrinterProfile{});
    for (size_t cut : {size_t{0}, size_t{3}, bytes.size() / 2, bytes.size() - 1}) {
        RecordParser in(std::string_view(bytes).substr(0, cut));
        JobTicket ticket;
        PrinterProfile printer;
        EXPECT_FALSE(ParseTicket(in, &ticket) && ParseProfile(in, &printer) && in.complete()) << cut;
    }
    const std::string longer = bytes + "x";
    RecordParser in(longer);
    JobTicket ticket;
    PrinterProfile printer;
    EXPECT_FALSE(ParseTicket(in, &ticket) && ParseProfile(in, &printer) && in.complete());
}

// Records arrive in pieces of any size; a header claiming more than any
// record holds breaks the stream rather than waiting for it.
TEST(TicketRecord, StreamTakesRecordsAsTheyArrive)
{
    const std::string bytes = FramedRecord('L', "first") + FramedRecord('P', "") + FramedRecord('O', "x");
    RecordStream stream;
    std::vector<std::pair<uint32_t, std::string>> got;
    for (char c : bytes) {
        stream.feed(&c, 1);
        while (auto record = stream.next()) got.emplace_back(record->type, record->payload);
    }
    EXPECT_EQ(got, (std::vector<std::pair<uint32_t, std::string>>{{'L', "first"}, {'P', ""}, {'O', "x"}}));
    EXPECT_FALSE(stream.partial());

    std::string huge = FramedRecord('L', "");
    const uint32_t size = kMaxRecordPayload + 1;
    huge.replace(4, 4, reinterpret_cast<const char*>(&size), 4);
    RecordStream broken;
    broken.feed(huge.data(), huge.size());
    EXPECT_FALSE(broken.next().has_value());
    EXPECT_TRUE(broken.broken());
}

}  // namespace
