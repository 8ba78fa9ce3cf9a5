// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>

// How many bytes of each text the header keeps, after its conversion into
// the printer's code set: the printer tools' own field sizes, less their
// terminating zero.
namespace pdftopjl::header_width {

inline constexpr std::size_t kUserName = 72;       // USERNAME
inline constexpr std::size_t kJobName = 192;       // JOBNAME
inline constexpr std::size_t kPassword = 2047;     // passcodes and accounting passwords
inline constexpr std::size_t kUserId = 96;         // accounting user names
inline constexpr std::size_t kClientName = 32;     // CNAM given by the dialog
inline constexpr std::size_t kClientAddress = 45;  // HOAD given by the dialog
inline constexpr std::size_t kShortText = 63;      // login, date, time, host name, choices

}  // namespace pdftopjl::header_width
