// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A private directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries in the directory, sorted.
    std::vector<std::string> entries() const;

private:
    std::string path_;
};

void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);

struct PdfPage {
    double x0 = 0, y0 = 0, x1 = 612, y1 = 792;  // media box
    int rotate = 0;                             // /Rotate, 0 for none
    std::string text;                           // drawn near the top left; empty: "Page N"
    std::string marker = "0 0 0";               // the marker square's colour, as rg takes it
};

// A small, valid PDF written by us: one page per entry, each with a line of
// text and a marker square in its lower left quarter.
std::string MakePdf(const std::vector<PdfPage>& pages);
std::string MakePdf(int pageCount, double width = 612, double height = 792);
// A PDF of `pageCount` pages that opens only with a user password (qpdf).
std::string LockedPdf(int pageCount);

// A one-page PDF that carries `bytes` unchanged in a stream of its own, so a
// body copy can be tested on any byte pattern; it ends with or without a line
// feed after %%EOF.
std::string MakePdfCarrying(const std::string& bytes, bool finalLineEnd = true);

struct PpdOption {
    std::string keyword;                 // e.g. "ZRInputSlot"
    std::vector<std::string> choices;    // first one is the default
};

// A minimal PPD: the required header keywords, `mainKeywords` as raw lines
// (for example "*ZRPrinterLanguageEncoding: \"UTF-8\""), then the options.
std::string MakePpd(const std::vector<std::string>& mainKeywords,
                    const std::vector<PpdOption>& options = {});

// A job stream split into its parts.
struct Job {
    bool framed = false;                // UEL + job line first, ENTER LANGUAGE present
    std::string error;                  // why it is not framed
    std::vector<std::string> header;    // header lines without line feeds; UEL kept on line 1
    long long fsiz = -1;                // the FSIZ value
    std::string body;                   // FSIZ bytes after ENTER LANGUAGE
    std::string trailer;                // everything after the body
};

Job ParseJob(const std::string& stream);

// The header lines between "Version:4.00" and FSIZ (the attribute blocks).
std::vector<std::string> BlockLines(const Job& job);

extern const char kUEL[];
extern const char kTrailer[];

}  // namespace testsupport
