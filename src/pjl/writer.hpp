// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdio>
#include <string_view>

// The PJL line writer: every header line goes through here, bounded and
// cleaned so that no value can break the line or the job.
namespace pdftopjl {

// Longest line the printer takes, line feed included.
constexpr size_t kPJLLineMax = 254;

// Bytes a line never carries from a name or value: those that could end the
// line or the job (control bytes, DEL) and, inside double quotes, the quote.
inline bool PJLDropsByte(unsigned char c, bool quoted)
{
    return c < 0x20 || c == 0x7F || (quoted && c == '"');
}

class PjlWriter {
public:
    // The job stream goes to `out` through the output channel.
    explicit PjlWriter(FILE* out) : out_(out) {}

    // "@PJL SET name=value"; a value that starts and ends with a double quote
    // is a quoted value.
    void set(std::string_view name, std::string_view value);
    // "@PJL SET JOBATTR="@name=value"".
    void attr(std::string_view name, std::string_view value);
    void comment(std::string_view text);
    // Framing bytes, written as they are.
    void raw(std::string_view bytes);

    FILE* stream() const { return out_; }

private:
    FILE* out_;
};

}  // namespace pdftopjl
