// SPDX-License-Identifier: Apache-2.0
#include "pjl/jobstream.hpp"

#include <iconv.h>

#include <cerrno>
#include <charconv>
#include <string>
#include <cstdio>

#include "encoding/unicode.hpp"

namespace pdftopjl {

namespace {

constexpr std::string_view kUEL = "\x1b%-12345X";
constexpr std::string_view kJobLine = "@PJL JOB MODE=PRINTER\n";
constexpr std::string_view kEnter = kEnterLanguageLine;
constexpr std::string_view kFsiz = "@PJL SET JOBATTR=\"@FSIZ=";
constexpr std::string_view kCodeSet = "@PJL SET STRINGCODESET=";

void appendByte(std::string& out, unsigned char c)
{
    char hex[8];
    snprintf(hex, sizeof hex, "\\x%02X", c);
    out += hex;
}

// Length of the well-formed UTF-8 character at the start of s, 0 when none.
size_t utf8Length(std::string_view s)
{
    for (size_t n = 1; n <= 4 && n <= s.size(); ++n)
        if (DecodeUTF8(s.substr(0, n), nullptr)) return n;
    return 0;
}

}  // namespace

JobStream ParseJobStream(std::string_view stream)
{
    JobStream job;
    if (stream.substr(0, kUEL.size()) != kUEL) {
        job.error = "the stream does not start with the universal exit (ESC%-12345X)";
        return job;
    }
    if (stream.substr(kUEL.size(), kJobLine.size()) != kJobLine) {
        job.error = "the universal exit is not followed by \"@PJL JOB MODE=PRINTER\"";
        return job;
    }
    size_t enter = EnterLanguageLine(stream);
    if (enter == std::string_view::npos) {
        job.error = "no \"@PJL ENTER LANGUAGE=PDF\" line";
        return job;
    }
    std::string_view header = stream.substr(0, enter + kEnter.size());
    for (size_t pos = 0; pos < header.size();) {
        size_t end = header.find('\n', pos);
        std::string_view line = header.substr(pos, end - pos);
        job.header.emplace_back(line);
        if (line.substr(0, kFsiz.size()) == kFsiz) {
            std::string_view value = line.substr(kFsiz.size());
            int64_t size = -1;
            auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), size);
            if (ec != std::errc() || ptr + 1 != value.data() + value.size() || *ptr != '"' || size < 0) {
                job.error = "malformed FSIZ line";
                return job;
            }
            if (job.fileSize >= 0) {
                job.error = "more than one FSIZ line";
                return job;
            }
            job.fileSize = size;
        } else if (line.substr(0, kCodeSet.size()) == kCodeSet) {
            std::string_view value = line.substr(kCodeSet.size());
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            job.codeSet = std::string(value);
        }
        pos = end + 1;
    }
    if (job.fileSize < 0) {
        job.error = "no FSIZ line in the header";
        return job;
    }
    const size_t bodyStart = header.size();
    const std::string_view rest = stream.substr(bodyStart);
    std::string_view trailer;
    for (const std::string_view form : {kStatusTrailer, kTrailer})
        if (rest.ends_with(form)) trailer = form;
    if (trailer.empty()) {
        job.error = "the stream does not end with the trailer (ESC%-12345X@PJL EOJ)";
        return job;
    }
    const size_t bodySize = rest.size() - trailer.size();
    if (static_cast<uint64_t>(job.fileSize) != bodySize) {
        job.error = "FSIZ announces " + std::to_string(job.fileSize) + " bytes but " +
                    std::to_string(bodySize) + " bytes come before the trailer";
        return job;
    }
    job.body = rest.substr(0, bodySize);
    job.valid = true;
    return job;
}

std::string ReadableLine(std::string_view line, std::string_view codeSet)
{
    std::string out;
    const bool shiftJis = codeSet != "UTF8" && codeSet != "HPROMAN8";
    iconv_t cd = shiftJis ? iconv_open("UTF-8", "SHIFT_JISX0213") : reinterpret_cast<iconv_t>(-1);
    for (size_t i = 0; i < line.size();) {
        const unsigned char c = static_cast<unsigned char>(line[i]);
        if (c == 0x1B) {
            out += "<ESC>";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            appendByte(out, c);
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (shiftJis && cd != reinterpret_cast<iconv_t>(-1)) {
            // One character: a lead byte alone or with its trail byte.
            size_t taken = 0;
            for (size_t n : {size_t(1), size_t(2)}) {
                if (i + n > line.size()) break;
                char in[2] = {line[i], n == 2 ? line[i + 1] : '\0'};
                char buf[16];
                char* inp = in;
                char* outp = buf;
                size_t inLeft = n, outLeft = sizeof buf;
                iconv(cd, nullptr, nullptr, nullptr, nullptr);
                if (iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &outp, &outLeft) != static_cast<size_t>(-1) &&
                    inLeft == 0) {
                    out.append(buf, static_cast<size_t>(outp - buf));
                    taken = n;
                    break;
                }
            }
            if (taken == 0) {
                appendByte(out, c);
                taken = 1;
            }
            i += taken;
        } else if (size_t n = codeSet == "UTF8" ? utf8Length(line.substr(i)) : 0; n > 1) {
            out.append(line.substr(i, n));
            i += n;
        } else {
            appendByte(out, c);
            ++i;
        }
    }
    if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    return out;
}

size_t TrailerLength(std::string_view text)
{
    for (const std::string_view form : {kStatusTrailer, kTrailer})
        if (text.starts_with(form)) return form.size();
    return 0;
}

size_t EnterLanguageLine(std::string_view stream)
{
    const size_t at = stream.find("\n" + std::string(kEnterLanguageLine));
    return at == std::string_view::npos ? at : at + 1;
}

}  // namespace pdftopjl
