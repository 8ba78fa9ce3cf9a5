// SPDX-License-Identifier: Apache-2.0
#include "test_page.hpp"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "models.hpp"
#include "printer_settings.hpp"

namespace pdftopjl::app {

namespace {

// Text for a PDF string in Helvetica: printable ASCII, the delimiters escaped.
std::string pdfText(const std::string& text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '(' || c == ')' || c == '\\') out += '\\';
        out += (c >= 0x20 && c < 0x7f) ? static_cast<char>(c) : '?';
    }
    return out;
}

// A one-page PDF of the lines, the first as a title.
std::string onePagePdf(const std::vector<std::string>& lines, double width, double height)
{
    std::string content = "BT\n/F1 20 Tf\n56 " + std::to_string(static_cast<int>(height) - 90) + " Td\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        content += '(';
        content += pdfText(lines[i]);
        content += ") Tj\n";
        if (i == 0) content += "/F1 11 Tf\n0 -34 Td\n";
        else content += "0 -16 Td\n";
    }
    content += "ET\n";
    char box[64];
    std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", width, height);
    const std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box +
            " /Resources << /Font << /F1 4 0 R >> >> /Contents 5 0 R >>",
        "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

}  // namespace

const char* PrintTestPage(pappl_printer_t* printer, char* buffer, size_t size)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    IppPtr attrs(papplPrinterGetDriverAttributes(printer));
    const std::time_t now = std::time(nullptr);
    char when[64];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S %Z", std::localtime(&now));
    auto keyword = [](const char* value) { return std::string(value != nullptr && *value ? value : "-"); };
    const std::vector<std::string> lines = {
        std::string("Test page: ") + papplPrinterGetName(printer),
        std::string("Printer: ") + data.make_and_model,
        std::string("Device: ") + keyword(papplPrinterGetDeviceURI(printer)),
        std::string("Printed: ") + when,
        "",
        "The printer's defaults:",
        "Paper: " + keyword(data.media_default.size_name) + ", tray " + keyword(data.media_default.source) +
            ", type " + keyword(data.media_default.type),
        std::string("Two-sided: ") + (data.sides_default == PAPPL_SIDES_ONE_SIDED ? "one-sided"
                                      : data.sides_default == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE
                                          ? "two-sided-short-edge"
                                          : "two-sided-long-edge"),
        std::string("Colour: ") + (data.color_default == PAPPL_COLOR_MODE_MONOCHROME ? "monochrome" : "color"),
        "Quality: " + keyword(ippEnumString("print-quality", data.quality_default)),
        "Output tray: " + keyword(data.num_bin > 0 ? data.bin[data.bin_default] : nullptr),
        "Staple / punch: " + keyword(DefaultText(attrs.get(), kFinishingPreset).c_str()),
        "Print type: " + keyword(DefaultText(attrs.get(), kPrintType).c_str()),
        "Pages per sheet: " + keyword(DefaultText(attrs.get(), kNumberUp).c_str()),
    };
    double width = 595, height = 842;
    if (pwg_media_t* pwg = pwgMediaForPWG(data.media_default.size_name)) {
        width = pwg->width * 72.0 / 2540.0;
        height = pwg->length * 72.0 / 2540.0;
    }
    const std::string pdf = onePagePdf(lines, width, height);
    // PAPPL removes a job's file from its temporary folder when the job ends.
    std::snprintf(buffer, size, "%s/pdftopjl-app-testpage-XXXXXX.pdf", papplGetTempDir());
    const int fd = mkstemps(buffer, 4);
    if (fd < 0) return nullptr;
    const bool written = write(fd, pdf.data(), pdf.size()) == static_cast<ssize_t>(pdf.size());
    close(fd);
    if (!written) {
        unlink(buffer);
        return nullptr;
    }
    return buffer;
}

}  // namespace pdftopjl::app
