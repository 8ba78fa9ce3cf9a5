// SPDX-License-Identifier: Apache-2.0
// SNMP decoding over any bytes, as a printer's agent or anyone on the
// network may send them: it never reads past the packet, and what it
// decodes encodes back to a message that decodes the same.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "host/snmp.hpp"

using namespace pdftopjl;

namespace {

bool same(const snmp::Message& a, const snmp::Message& b)
{
    if (a.version != b.version || a.community != b.community || a.pdu != b.pdu || a.requestId != b.requestId ||
        a.errorStatus != b.errorStatus || a.errorIndex != b.errorIndex || a.vars.size() != b.vars.size())
        return false;
    for (size_t i = 0; i < a.vars.size(); ++i) {
        const snmp::Value &x = a.vars[i].value, &y = b.vars[i].value;
        if (a.vars[i].oid != b.vars[i].oid || x.tag != y.tag || x.number != y.number || x.bytes != y.bytes ||
            x.oid != y.oid)
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const auto message = snmp::Decode(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!message) return 0;
    const auto again = snmp::Decode(snmp::Encode(*message));
    FUZZ_REQUIRE(again.has_value(), "what was decoded encodes to a message");
    FUZZ_REQUIRE(same(*message, *again), "and decodes the same");
    return 0;
}
