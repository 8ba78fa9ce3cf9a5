#pragma once

// The job title in the printer code set, and the fitted document name that the
// header carries (printer code set, or UTF-8 in UTF-8 mode).  256 bytes each.
extern char StdDocumentName[256];
extern char PTStdDocumentName[256];
