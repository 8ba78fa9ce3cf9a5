// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string_view>

// A stored job's passcode, the same rule everywhere (PPD, the print dialog,
// job-password, the Printer Application): 4 to 8 ASCII digits.
namespace pdftopjl {

inline constexpr std::size_t kPasscodeMinDigits = 4;
inline constexpr std::size_t kPasscodeMaxDigits = 8;

inline bool PasscodeFollowsTheRule(std::string_view passcode)
{
    if (passcode.size() < kPasscodeMinDigits || passcode.size() > kPasscodeMaxDigits) return false;
    for (char c : passcode)
        if (c < '0' || c > '9') return false;
    return true;
}

// Why the queue's default passcode was left out, and what to use instead.
inline constexpr char kQueuePasscodeUnused[] =
    "The queue's default passcode is not used, since every user can read it from the printer's "
    "PPD; give a stored job its own passcode with job-password or the print dialog's passcode "
    "field";

}  // namespace pdftopjl
