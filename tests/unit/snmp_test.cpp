// SPDX-License-Identifier: Apache-2.0
// SNMP messages: what one side encodes the other decodes, and a packet that
// is cut short or lies about its lengths is no message, never a read past
// its end.
#include <gtest/gtest.h>

#include <string>

#include "host/snmp.hpp"

namespace snmp = pdftopjl::snmp;

namespace {

snmp::Message response()
{
    snmp::Message m;
    m.version = snmp::kVersion2c;
    m.community = "public";
    m.pdu = snmp::kResponse;
    m.requestId = -2;
    m.vars = {
        {{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 9, 1, 1}, {snmp::kInteger, -3, "", {}}},
        {{1, 3, 6, 1, 2, 1, 43, 11, 1, 1, 6, 1, 1}, {snmp::kOctetString, 0, std::string(300, 'x'), {}}},
        {{1, 3, 6, 1, 2, 1, 43, 10, 2, 1, 4, 1, 1}, {snmp::kCounter32, 4294967295, "", {}}},
        {{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 2, 1}, {snmp::kObjectId, 0, "", {1, 3, 6, 1, 2, 1, 25, 3, 1, 5}}},
        {{1, 3, 6, 1, 4, 1, 4294967295u}, {snmp::kEndOfMibView, 0, "", {}}},
    };
    return m;
}

TEST(Snmp, DecodesWhatItEncodes)
{
    const snmp::Message m = response();
    const auto back = snmp::Decode(snmp::Encode(m));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->version, m.version);
    EXPECT_EQ(back->community, m.community);
    EXPECT_EQ(back->requestId, m.requestId);
    ASSERT_EQ(back->vars.size(), m.vars.size());
    for (size_t i = 0; i < m.vars.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back->vars[i].oid, m.vars[i].oid);
        EXPECT_EQ(back->vars[i].value.tag, m.vars[i].value.tag);
        EXPECT_EQ(back->vars[i].value.number, m.vars[i].value.number);
        EXPECT_EQ(back->vars[i].value.bytes, m.vars[i].value.bytes);
        EXPECT_EQ(back->vars[i].value.oid, m.vars[i].value.oid);
    }
}

TEST(Snmp, MalformedPacketsAreNoMessage)
{
    const std::string good = snmp::Encode(response());
    // Every cut of a good packet.
    for (size_t size = 0; size < good.size(); ++size) EXPECT_FALSE(snmp::Decode(good.substr(0, size))) << size;
    const std::string cases[] = {
        std::string("\x30\x84\xff\xff\xff\xff", 6),   // a length far past the packet
        std::string("\x30\x80\x02\x01\x00\x00\x00", 7),  // indefinite length
        std::string("\x30\x03\x02\x01\x03", 5),       // version 4
        // An OID whose last arc never ends.
        std::string("\x30\x1a\x02\x01\x00\x04\x00\xa2\x13\x02\x01\x01\x02\x01\x00\x02\x01\x00\x30\x08\x30\x06"
                    "\x06\x02\x2b\xff\x05\x00", 28),
    };
    for (const std::string& bad : cases) EXPECT_FALSE(snmp::Decode(bad)) << testing::PrintToString(bad);
}

}  // namespace
