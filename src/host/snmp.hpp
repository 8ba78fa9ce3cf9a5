// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// SNMP v1/v2c messages as printers exchange them for their state and
// supplies: BER encoding and bounded decoding (nothing is read past the
// packet; anything malformed is no message at all).
namespace pdftopjl::snmp {

using Oid = std::vector<uint32_t>;
bool HasPrefix(const Oid& oid, const Oid& prefix);

enum Tag : uint8_t {
    kInteger = 0x02,
    kOctetString = 0x04,
    kNull = 0x05,
    kObjectId = 0x06,
    kCounter32 = 0x41,
    kGauge32 = 0x42,
    kTimeTicks = 0x43,
    // v2c markers in place of a value.
    kNoSuchObject = 0x80,
    kNoSuchInstance = 0x81,
    kEndOfMibView = 0x82,
};

enum Pdu : uint8_t { kGet = 0xa0, kGetNext = 0xa1, kResponse = 0xa2, kGetBulk = 0xa5 };

constexpr int kVersion1 = 0;
constexpr int kVersion2c = 1;
constexpr int kNoSuchName = 2;  // v1 error-status

struct Value {
    uint8_t tag = kNull;
    int64_t number = 0;  // Integer, Counter32, Gauge32, TimeTicks
    std::string bytes;   // OctetString
    Oid oid;             // ObjectId
};

struct VarBind {
    Oid oid;
    Value value;
};

struct Message {
    int version = kVersion1;
    std::string community;
    uint8_t pdu = kGet;
    int32_t requestId = 0;
    // GetBulk: non-repeaters and max-repetitions in these places.
    int32_t errorStatus = 0;
    int32_t errorIndex = 0;
    std::vector<VarBind> vars;
};

std::string Encode(const Message& message);
std::optional<Message> Decode(std::string_view packet);

}  // namespace pdftopjl::snmp
