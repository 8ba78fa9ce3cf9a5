// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <pappl/pappl.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What a request may carry before PAPPL sees it.  PAPPL 1.3 writes job
// names, users, formats, printer settings and device URIs into its state
// file escaping only `\` and `"`, and reads a line break there as the start
// of a new definition; a value of a few KB makes the line unreadable.  So
// no string value with a control character, and none longer than the IPP
// limits (255 bytes, 1023 for texts and URIs), gets in.
namespace pdftopjl::app {

struct Refusal {
    ipp_status_t status;
    std::string message;
    std::vector<ipp_attribute_t*> unsupported;  // named in the unsupported group
};

// Whether the text holds a control character (a line break among them).
bool HasControl(std::string_view value);

// A string value no request may hold.
std::optional<Refusal> CheckValues(ipp_t* request);

// Print-Job, Create-Job, Validate-Job: a passcode the printer cannot take.
std::optional<Refusal> CheckPasscode(ipp_t* request);

// Print-Job, Create-Job, Validate-Job: overrides that would change pages;
// overrides-supported offers only the members that select them.
std::optional<Refusal> CheckOverrides(ipp_t* request);

// Whether the first bytes of an application/octet-stream document are a
// format the printer takes (PDF, JPEG, PNG, PWG or Apple raster).
bool PrintableContent(std::string_view head);

// Why a printer may not use this device URI and device ID ("" if it may).
// `file:` devices must lie inside one of `folders`.
std::string DeviceProblem(const char* uri, const char* deviceId, const std::vector<std::string>& folders);

}  // namespace pdftopjl::app
