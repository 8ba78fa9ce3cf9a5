// SPDX-License-Identifier: Apache-2.0
#include "support/fixtures.hpp"

#include "support/process.hpp"

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace testsupport {

const char kUEL[] = "\x1b%-12345X";
const char kTrailer[] = "\x1b%-12345X@PJL EOJ\n";

TempDir::TempDir()
{
    const char* base = std::getenv("PDFTOPJL_TEST_TMP");
    std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/pdftopjl-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir()
{
    nftw(
        path_.c_str(),
        [](const char* p, const struct stat*, int, struct FTW*) { return remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::vector<std::string> TempDir::entries() const
{
    std::vector<std::string> names;
    DIR* dir = opendir(path_.c_str());
    if (dir == nullptr) return names;
    while (struct dirent* e = readdir(dir)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace {

std::string num(double v)
{
    char b[64];
    snprintf(b, sizeof b, "%g", v);
    return b;
}

}  // namespace

namespace {

// Objects after the page tree that no page uses.
std::string makePdf(const std::vector<PdfPage>& pages, const std::vector<std::string>& extra);

}  // namespace

std::string MakePdf(const std::vector<PdfPage>& pages) { return makePdf(pages, {}); }

std::string MakePdfCarrying(const std::string& bytes, bool finalLineEnd)
{
    std::string pdf = makePdf({PdfPage{}}, {"<< /Length " + std::to_string(bytes.size()) +
                                            " >>\nstream\n" + bytes + "\nendstream"});
    if (!finalLineEnd) pdf.pop_back();
    return pdf;
}

namespace {

std::string makePdf(const std::vector<PdfPage>& pages, const std::vector<std::string>& extra)
{
    // Objects: 1 catalog, 2 pages, 3 font, then per page: page, contents.
    std::vector<std::string> objects;
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (size_t i = 0; i < pages.size(); ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " +
                      std::to_string(pages.size()) + " >>");
    objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (size_t i = 0; i < pages.size(); ++i) {
        const PdfPage& p = pages[i];
        std::string text = p.text.empty() ? "Page " + std::to_string(i + 1) : p.text;
        double w = p.x1 - p.x0, h = p.y1 - p.y0;
        std::string content = "q " + p.marker + " rg " + num(p.x0 + w * 0.05) + " " + num(p.y0 + h * 0.05) +
                              " " + num(w * 0.2) + " " + num(h * 0.1) + " re f Q\n" +
                              "BT /F1 24 Tf " + num(p.x0 + w * 0.1) + " " + num(p.y0 + h * 0.85) +
                              " Td (" + text + ") Tj ET\n";
        std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [" + num(p.x0) + " " +
                           num(p.y0) + " " + num(p.x1) + " " + num(p.y1) +
                           "] /Resources << /Font << /F1 3 0 R >> >> /Contents " +
                           std::to_string(5 + 2 * i) + " 0 R";
        if (p.rotate != 0) page += " /Rotate " + std::to_string(p.rotate);
        page += " >>";
        objects.push_back(page);
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" +
                          content + "endstream");
    }
    objects.insert(objects.end(), extra.begin(), extra.end());
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    size_t xref = out.size();
    out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t off : offsets) {
        char line[32];
        snprintf(line, sizeof line, "%010zu 00000 n \n", off);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

}  // namespace

std::string MakePdf(int pageCount, double width, double height)
{
    std::vector<PdfPage> pages(static_cast<size_t>(pageCount));
    for (auto& p : pages) {
        p.x1 = width;
        p.y1 = height;
    }
    return MakePdf(pages);
}

std::string MakePpd(const std::vector<std::string>& mainKeywords,
                    const std::vector<PpdOption>& options)
{
    std::string ppd =
        "*PPD-Adobe: \"4.3\"\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*PCFileName: \"TEST.PPD\"\n"
        "*Manufacturer: \"Test\"\n"
        "*Product: \"(Test)\"\n"
        "*PSVersion: \"(3010.000) 0\"\n"
        "*ShortNickName: \"Test Printer\"\n"
        "*NickName: \"Test Printer\"\n";
    for (const auto& line : mainKeywords) ppd += line + "\n";
    for (const auto& option : options) {
        if (option.choices.empty()) continue;
        ppd += "*OpenUI *" + option.keyword + "/" + option.keyword + ": PickOne\n";
        ppd += "*Default" + option.keyword + ": " + option.choices.front() + "\n";
        for (const auto& choice : option.choices)
            ppd += "*" + option.keyword + " " + choice + "/" + choice + ": \"\"\n";
        ppd += "*CloseUI: *" + option.keyword + "\n";
    }
    return ppd;
}

Job ParseJob(const std::string& stream)
{
    Job job;
    const std::string first = std::string(kUEL) + "@PJL JOB MODE=PRINTER\n";
    if (stream.compare(0, first.size(), first) != 0) {
        job.error = "does not start with UEL and the job line";
        return job;
    }
    const std::string enter = "@PJL ENTER LANGUAGE=PDF\n";
    size_t pos = stream.find(enter);
    if (pos == std::string::npos) {
        job.error = "no ENTER LANGUAGE line";
        return job;
    }
    std::string header = stream.substr(0, pos + enter.size());
    std::istringstream lines(header);
    for (std::string line; std::getline(lines, line);) {
        job.header.push_back(line);
        const std::string fsiz = "@PJL SET JOBATTR=\"@FSIZ=";
        if (line.compare(0, fsiz.size(), fsiz) == 0)
            job.fsiz = std::atoll(line.c_str() + fsiz.size());
    }
    if (job.fsiz < 0) {
        job.error = "no FSIZ";
        return job;
    }
    size_t bodyStart = pos + enter.size();
    if (stream.size() < bodyStart + static_cast<size_t>(job.fsiz)) {
        job.error = "body shorter than FSIZ";
        return job;
    }
    job.body = stream.substr(bodyStart, static_cast<size_t>(job.fsiz));
    job.trailer = stream.substr(bodyStart + static_cast<size_t>(job.fsiz));
    job.framed = true;
    return job;
}

std::vector<std::string> BlockLines(const Job& job)
{
    std::vector<std::string> lines;
    bool inside = false;
    for (const auto& line : job.header) {
        if (line.rfind("@PJL SET JOBATTR=\"@FSIZ=", 0) == 0) break;
        if (inside) lines.push_back(line);
        if (line == "@PJL COMMENT Version:4.00") inside = true;
    }
    return lines;
}

std::string LockedPdf(int pageCount)
{
    TempDir dir;
    WriteFile(dir.file("in.pdf"), MakePdf(pageCount));
    RunOptions o;
    o.program = "/usr/bin/qpdf";
    o.args = {"qpdf", "--encrypt", "open-secret", "owner-secret", "256", "--", dir.file("in.pdf"),
              dir.file("out.pdf")};
    if (RunProgram(o).exitCode != 0) return "";
    return ReadFile(dir.file("out.pdf"));
}

}  // namespace testsupport
