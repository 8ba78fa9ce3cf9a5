// SPDX-License-Identifier: Apache-2.0
#include "host/snmp.hpp"

#include <algorithm>

namespace pdftopjl::snmp {

namespace {

constexpr uint8_t kSequence = 0x30;
constexpr size_t kMaxArcs = 128;

void putLength(std::string& out, size_t length)
{
    if (length < 0x80) {
        out += static_cast<char>(length);
        return;
    }
    std::string bytes;
    for (; length > 0; length >>= 8) bytes.insert(bytes.begin(), static_cast<char>(length & 0xff));
    out += static_cast<char>(0x80 | bytes.size());
    out += bytes;
}

void put(std::string& out, uint8_t tag, std::string_view content)
{
    out += static_cast<char>(tag);
    putLength(out, content.size());
    out += content;
}

std::string integer(int64_t value)
{
    // Two's complement, shortest form.
    std::string bytes;
    for (int i = 7; i >= 0; --i) bytes += static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xff);
    size_t skip = 0;
    while (skip + 1 < bytes.size()) {
        const auto b0 = static_cast<uint8_t>(bytes[skip]), b1 = static_cast<uint8_t>(bytes[skip + 1]);
        if ((b0 == 0 && !(b1 & 0x80)) || (b0 == 0xff && (b1 & 0x80))) ++skip;
        else break;
    }
    return bytes.substr(skip);
}

std::string oidBytes(const Oid& oid)
{
    std::string out;
    const uint32_t first = oid.size() > 0 ? oid[0] : 0, second = oid.size() > 1 ? oid[1] : 0;
    std::vector<uint32_t> arcs = {first * 40 + second};
    if (oid.size() > 2) arcs.insert(arcs.end(), oid.begin() + 2, oid.end());
    for (const uint32_t arc : arcs) {
        std::string digits(1, static_cast<char>(arc & 0x7f));
        for (uint32_t rest = arc >> 7; rest > 0; rest >>= 7) digits.insert(digits.begin(), static_cast<char>(0x80 | (rest & 0x7f)));
        out += digits;
    }
    return out;
}

std::string valueBytes(const Value& v)
{
    std::string out;
    switch (v.tag) {
    case kInteger:
    case kCounter32:
    case kGauge32:
    case kTimeTicks: put(out, v.tag, integer(v.number)); break;
    case kOctetString: put(out, v.tag, v.bytes); break;
    case kObjectId: put(out, v.tag, oidBytes(v.oid)); break;
    default: put(out, v.tag, ""); break;
    }
    return out;
}

// One element: its tag and content, taken off the front of `in`.
bool take(std::string_view& in, uint8_t* tag, std::string_view* content)
{
    if (in.size() < 2) return false;
    *tag = static_cast<uint8_t>(in[0]);
    size_t length = static_cast<uint8_t>(in[1]);
    size_t at = 2;
    if (length & 0x80) {
        const size_t count = length & 0x7f;
        if (count == 0 || count > 4 || in.size() < at + count) return false;
        length = 0;
        for (size_t i = 0; i < count; ++i) length = length << 8 | static_cast<uint8_t>(in[at++]);
    }
    if (length > in.size() - at) return false;
    *content = in.substr(at, length);
    in.remove_prefix(at + length);
    return true;
}

bool takeInteger(std::string_view& in, int64_t* value, uint8_t want = kInteger)
{
    uint8_t tag;
    std::string_view c;
    if (!take(in, &tag, &c) || tag != want || c.empty() || c.size() > 8) return false;
    // Counters, gauges and time ticks are unsigned 32-bit, though some
    // printers leave out the leading zero.
    if (want != kInteger && (c.size() > 5 || (c.size() == 5 && c[0] != 0))) return false;
    int64_t v = want == kInteger && (static_cast<uint8_t>(c[0]) & 0x80) ? -1 : 0;
    for (const char ch : c) v = static_cast<int64_t>(static_cast<uint64_t>(v) << 8 | static_cast<uint8_t>(ch));
    *value = v;
    return true;
}

bool parseOid(std::string_view c, Oid* oid)
{
    oid->clear();
    uint64_t arc = 0;
    int digits = 0;
    for (const char ch : c) {
        const auto b = static_cast<uint8_t>(ch);
        arc = arc << 7 | (b & 0x7f);
        if (++digits > 5 || arc > 0xffffffffu) return false;
        if (b & 0x80) continue;
        if (oid->empty()) {
            const uint32_t first = arc < 80 ? static_cast<uint32_t>(arc / 40) : 2;
            oid->push_back(first);
            oid->push_back(static_cast<uint32_t>(arc - 40 * first));
        } else {
            oid->push_back(static_cast<uint32_t>(arc));
        }
        if (oid->size() > kMaxArcs) return false;
        arc = 0;
        digits = 0;
    }
    return digits == 0 && !oid->empty();
}

bool parseValue(uint8_t tag, std::string_view c, Value* v)
{
    v->tag = tag;
    switch (tag) {
    case kInteger:
    case kCounter32:
    case kGauge32:
    case kTimeTicks: {
        std::string element;
        put(element, tag, c);
        std::string_view view = element;
        return takeInteger(view, &v->number, tag);
    }
    case kOctetString: v->bytes = std::string(c); return true;
    case kObjectId: return parseOid(c, &v->oid);
    default: return true;  // Null and the v2c markers carry nothing used
    }
}

}  // namespace

bool HasPrefix(const Oid& oid, const Oid& prefix)
{
    return oid.size() > prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

std::string Encode(const Message& m)
{
    std::string vars;
    for (const VarBind& var : m.vars) {
        std::string bind;
        put(bind, kObjectId, oidBytes(var.oid));
        bind += valueBytes(var.value);
        put(vars, kSequence, bind);
    }
    std::string pdu;
    put(pdu, kInteger, integer(m.requestId));
    put(pdu, kInteger, integer(m.errorStatus));
    put(pdu, kInteger, integer(m.errorIndex));
    put(pdu, kSequence, vars);
    std::string body;
    put(body, kInteger, integer(m.version));
    put(body, kOctetString, m.community);
    put(body, m.pdu, pdu);
    std::string out;
    put(out, kSequence, body);
    return out;
}

std::optional<Message> Decode(std::string_view packet)
{
    Message m;
    uint8_t tag;
    std::string_view body, community, pdu, vars;
    int64_t number;
    if (!take(packet, &tag, &body) || tag != kSequence) return std::nullopt;
    if (!takeInteger(body, &number) || (number != kVersion1 && number != kVersion2c)) return std::nullopt;
    m.version = static_cast<int>(number);
    if (!take(body, &tag, &community) || tag != kOctetString) return std::nullopt;
    m.community = std::string(community);
    if (!take(body, &m.pdu, &pdu) || (m.pdu != kGet && m.pdu != kGetNext && m.pdu != kResponse && m.pdu != kGetBulk))
        return std::nullopt;
    int64_t id, status, index;
    if (!takeInteger(pdu, &id) || !takeInteger(pdu, &status) || !takeInteger(pdu, &index)) return std::nullopt;
    m.requestId = static_cast<int32_t>(id);
    m.errorStatus = static_cast<int32_t>(status);
    m.errorIndex = static_cast<int32_t>(index);
    if (!take(pdu, &tag, &vars) || tag != kSequence) return std::nullopt;
    while (!vars.empty()) {
        std::string_view bind, name, value;
        VarBind var;
        if (!take(vars, &tag, &bind) || tag != kSequence || !take(bind, &tag, &name) || tag != kObjectId ||
            !parseOid(name, &var.oid) || !take(bind, &tag, &value) || !parseValue(tag, value, &var.value))
            return std::nullopt;
        m.vars.push_back(std::move(var));
        if (m.vars.size() > 256) return std::nullopt;
    }
    return m;
}

}  // namespace pdftopjl::snmp
