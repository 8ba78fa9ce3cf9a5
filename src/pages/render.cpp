#include "pages/render.hpp"

int PreProcess(PdfDocInfo* /*info*/, char* /*stagedPath*/)
{
    return 0;
}
