// SPDX-License-Identifier: Apache-2.0
#include "pjl/writer.hpp"

#include "job/output.hpp"

namespace pdftopjl {

namespace {

// The values no job copy keeps unless asked: the stored job's passcode and
// the accounting password.
constexpr std::string_view kPasscodeKey = "HOLDENCRYPTKEY";
constexpr std::string_view kAccountPasswordKey = "JOEP";

// A line under construction, bounded so that it never exceeds kPJLLineMax
// bytes with its closing text.
class Line {
public:
    void append(std::string_view text)
    {
        for (char c : text) {
            if (length_ >= kPJLLineMax) break;
            buffer_[length_++] = c;
        }
    }

    void appendClean(std::string_view text, bool quoted, size_t reserve)
    {
        for (unsigned char c : text) {
            if (PJLDropsByte(c, quoted)) continue;
            if (length_ + reserve >= kPJLLineMax) break;
            buffer_[length_++] = static_cast<char>(c);
        }
    }

    void finish(std::string_view closing, FILE* out)
    {
        append(closing);
        job::WriteText(std::string_view(buffer_, length_), out);
    }

    // A line whose value is a secret: the job copy gets `masked` instead.
    void finishSecret(std::string_view closing, std::string_view masked, FILE* out)
    {
        append(closing);
        job::WriteSecret(std::string_view(buffer_, length_), masked, out);
    }

private:
    char buffer_[kPJLLineMax] = {};
    size_t length_ = 0;
};

}  // namespace

void PjlWriter::set(std::string_view name, std::string_view value)
{
    const bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    Line line;
    line.append("@PJL SET ");
    line.appendClean(name, false, 1);
    if (quoted) {
        line.append("=\"");
        line.appendClean(value.substr(1, value.size() - 2), true, 2);
        if (name == kPasscodeKey)
            line.finishSecret("\"\n", "@PJL SET HOLDENCRYPTKEY=\"****\"\n", out_);
        else
            line.finish("\"\n", out_);
    } else {
        line.append("=");
        line.appendClean(value, false, 1);
        line.finish("\n", out_);
    }
}

void PjlWriter::attr(std::string_view name, std::string_view value)
{
    Line line;
    line.append("@PJL SET JOBATTR=\"@");
    line.appendClean(name, true, 3);
    line.append("=");
    line.appendClean(value, true, 2);
    if (name == kAccountPasswordKey && !value.empty())
        line.finishSecret("\"\n", "@PJL SET JOBATTR=\"@JOEP=****\"\n", out_);
    else
        line.finish("\"\n", out_);
}

void PjlWriter::comment(std::string_view text)
{
    Line line;
    line.append("@PJL COMMENT ");
    line.appendClean(text, false, 1);
    line.finish("\n", out_);
}

void PjlWriter::raw(std::string_view bytes) { job::WriteText(bytes, out_); }

}  // namespace pdftopjl
