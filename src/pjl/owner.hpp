// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <ctime>
#include <string>
#include <string_view>

#include "host/host_address.hpp"
#include "pjl/writer.hpp"
#include "ticket/job_ticket.hpp"

namespace pdftopjl {

// Who the job belongs to, for the owner blocks.
struct OwnerInputs {
    const Accounting& accounting;  // its texts already in the printer's coding
    bool utf8Mode;
    std::string_view requestingUser;
    const HostIdentity& host;
    time_t now;
};

// The owner blocks: with manage type 1 or 2 the identity entered for this job
// may come first in a block of its own; then the job's identity.  Each block:
// DATE and TIME comments, then CNAM, JOAU, HOAD (when an address is known)
// and JOEP.
void WriteOwnerBlocks(const OwnerInputs& in, PjlWriter& out);

// The HOAD value for a numeric address text: "I" followed by each
// dot-separated piece as uppercase hexadecimal, at most 254 bytes.
std::string HostAddressValue(std::string_view address);

}  // namespace pdftopjl
