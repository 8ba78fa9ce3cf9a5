#include "settings/docname.hpp"

char StdDocumentName[256];
char PTStdDocumentName[256];

void InvalidateStdDocumentNameForProductType(char*[], bool) {}
void InvalidatePrintTypeDocumentNameForProductType(char*[]) {}
