// pjlinspect: checks the framing of a job stream written by pdftopjl and shows
// its PJL header readably and its PDF body's pages.
//   pjlinspect [job-file]     (standard input when no file is given)
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>

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

}  // namespace

int main(int argc, char* argv[])
{
    if (argc > 2 || (argc == 2 && (!std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "--help")))) {
        std::cerr << "Usage: pjlinspect [job-file]\n";
        return argc > 2 ? 1 : 0;
    }
    std::string stream;
    if (argc == 2) {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) return fail(std::string("cannot open ") + argv[1] + ": " + std::strerror(errno));
        stream.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (in.bad()) return fail(std::string("cannot read ") + argv[1]);
    } else {
        stream.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    }

    JobStream job = ParseJobStream(stream);
    if (!job.valid) return fail("malformed job stream: " + job.error);

    std::cout << "job stream: " << stream.size() << " bytes, framing OK\n";
    std::cout << "string code set: " << (job.codeSet.empty() ? "(none)" : job.codeSet) << "\n";
    std::cout << "header:\n";
    for (const auto& line : job.header) std::cout << "  " << ReadableLine(line, job.codeSet) << "\n";

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
            return fail(std::string("the body is not a readable PDF: ") + e.what());
        }
    }
    std::cout << "trailer: OK\n";
    return 0;
}
