// SPDX-License-Identifier: Apache-2.0
// Writes one of our own test documents: make_pdf PAGES WIDTH HEIGHT OUT
#include <cstdio>
#include <cstdlib>

#include "support/fixtures.hpp"

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: make_pdf pages width height out.pdf\n");
        return 2;
    }
    testsupport::WriteFile(argv[4], testsupport::MakePdf(std::atoi(argv[1]), std::atof(argv[2]),
                                                         std::atof(argv[3])));
    return 0;
}
