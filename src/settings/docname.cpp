#include "settings/docname.hpp"

char StdDocumentName[256];
char PTStdDocumentName[256];
