// SPDX-License-Identifier: Apache-2.0
// Writes each model's PPD into a folder, for the build to install: the
// table in src/models is the only description of the printers.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "models/ppd_writer.hpp"

namespace {

std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    for (const pdftopjl::PrinterModel& model : pdftopjl::Models()) {
        const std::string path = std::string(argv[1]) + "/" + pdftopjl::PpdFileName(model);
        const std::string ppd = pdftopjl::WritePpd(model);
        // Unchanged files keep their time, so nothing that depends on them is redone.
        if (contentOf(path) == ppd) continue;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << ppd;
        if (!out.flush()) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], path.c_str());
            return 1;
        }
    }
    return 0;
}
