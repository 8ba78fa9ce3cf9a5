// SPDX-License-Identifier: Apache-2.0
// pjlinspect: checks the framing of a job stream written by pdftopjl and shows
// each job's PJL header readably and its PDF body's pages.
//   pjlinspect [--show-passcode] [job-file]     (standard input when no file is given)
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pjl/jobstream.hpp"

using namespace pdftopjl;

namespace {

int fail(const std::string& reason)
{
    std::cerr << "pjlinspect: " << reason << "\n";
    return 1;
}

std::string number(double v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

constexpr std::string_view kUsage = "Usage: pjlinspect [--show-passcode] [job-file]\n       pjlinspect --help | --version\n";

// The framing lines as the filter writes them (see pjl/jobstream.cpp).
constexpr std::string_view kFsizLine = "\n@PJL SET JOBATTR=\"@FSIZ=";
constexpr std::string_view kPasscodeLine = "@PJL SET HOLDENCRYPTKEY=";

// Length of the job at the start of `rest` as its FSIZ tells it, or npos
// when the header does not say or no trailer follows the body there.  The
// body is binary, so the trailer is never searched for.
size_t jobLength(std::string_view rest)
{
    const size_t enter = EnterLanguageLine(rest);
    if (enter == std::string_view::npos) return std::string_view::npos;
    const size_t bodyStart = enter + kEnterLanguageLine.size();
    const size_t fsiz = rest.substr(0, bodyStart).find(kFsizLine);
    if (fsiz == std::string_view::npos) return std::string_view::npos;
    const char* digits = rest.data() + fsiz + kFsizLine.size();
    uint64_t size = 0;
    if (std::from_chars(digits, rest.data() + bodyStart, size).ec != std::errc())
        return std::string_view::npos;
    if (size > rest.size() - bodyStart) return std::string_view::npos;
    const size_t trailer = TrailerLength(rest.substr(bodyStart + size));
    return trailer > 0 ? bodyStart + size + trailer : std::string_view::npos;
}

struct FramedJob {
    JobStream job;
    size_t length;
};

// A stream may hold several jobs back to back: cupsd puts a banner page's job
// before the document's.  Each job is checked on its own; a job whose extent
// cannot be told is checked with the rest of the stream, which says why.
std::vector<FramedJob> frameJobs(std::string_view stream, std::string& error)
{
    std::vector<FramedJob> jobs;
    size_t pos = 0;
    do {
        std::string_view rest = stream.substr(pos);
        const size_t length = std::min(jobLength(rest), rest.size());
        JobStream job = ParseJobStream(rest.substr(0, length));
        if (!job.valid) {
            error = (jobs.empty() ? "" : "job " + std::to_string(jobs.size() + 1) + ": ") + job.error;
            return {};
        }
        jobs.push_back({job, length});
        pos += length;
    } while (pos < stream.size());
    return jobs;
}

std::string shownLine(const std::string& line, std::string_view codeSet, bool showPasscode)
{
    if (!showPasscode && line.compare(0, kPasscodeLine.size(), kPasscodeLine) == 0)
        return std::string(kPasscodeLine) + "\"****\"";
    return ReadableLine(line, codeSet);
}

// Shows one job; false after the reason when its body is not a readable PDF.
bool showJob(const JobStream& job, const std::string& label, bool showPasscode)
{
    std::cout << "string code set: " << (job.codeSet.empty() ? "(none)" : job.codeSet) << "\n";
    std::cout << "header:\n";
    for (const auto& line : job.header)
        std::cout << "  " << shownLine(line, job.codeSet, showPasscode) << "\n";

    if (job.body.empty()) {
        std::cout << "body: empty\n";
    } else {
        try {
            QPDF pdf;
            pdf.setSuppressWarnings(true);
            pdf.processMemoryFile("body", job.body.data(), job.body.size());
            auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
            std::cout << "body: PDF, " << job.body.size() << " bytes, " << pages.size() << " page"
                      << (pages.size() == 1 ? "" : "s") << "\n";
            int n = 0;
            for (auto& page : pages) {
                QPDFObjectHandle::Rectangle box = page.getMediaBox().getArrayAsRectangle();
                QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
                std::cout << "  page " << ++n << ": " << number(box.urx - box.llx) << " x "
                          << number(box.ury - box.lly) << " pt, MediaBox [" << number(box.llx)
                          << " " << number(box.lly) << " " << number(box.urx) << " "
                          << number(box.ury) << "]";
                if (rotate.isInteger() && rotate.getIntValue() != 0)
                    std::cout << ", Rotate " << rotate.getIntValue();
                std::cout << "\n";
            }
        } catch (const std::exception& e) {
            fail(label + "the body is not a readable PDF: " + e.what());
            return false;
        }
    }
    std::cout << "trailer: OK\n";
    return true;
}

}  // namespace

int main(int argc, char* argv[])
{
    bool showPasscode = false;
    const char* file = nullptr;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--version") {
            std::cout << "pjlinspect " PDFTOPJL_VERSION "\n";
            return 0;
        }
        if (arg == "--show-passcode") {
            showPasscode = true;
        } else if (arg.empty() || arg[0] == '-' || file != nullptr) {
            std::cerr << kUsage;
            return 1;
        } else {
            file = argv[i];
        }
    }
    std::string stream;
    if (file != nullptr) {
        std::ifstream in(file, std::ios::binary);
        if (!in) return fail(std::string("cannot open ") + file + ": " + std::strerror(errno));
        stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return fail(std::string("cannot read ") + file);
    } else {
        stream.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }

    std::string error;
    const std::vector<FramedJob> jobs = frameJobs(stream, error);
    if (jobs.empty()) return fail("malformed job stream: " + error);

    std::cout << "job stream: " << stream.size() << " bytes, ";
    if (jobs.size() > 1) std::cout << jobs.size() << " jobs, ";
    std::cout << "framing OK\n";
    for (size_t i = 0; i < jobs.size(); ++i) {
        std::string label;
        if (jobs.size() > 1) {
            label = "job " + std::to_string(i + 1) + ": ";
            std::cout << label << jobs[i].length << " bytes\n";
        }
        if (!showJob(jobs[i].job, label, showPasscode)) return 1;
    }
    return 0;
}
