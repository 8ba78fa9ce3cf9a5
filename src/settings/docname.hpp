#pragma once

#include <cstdint>

// The job title in the printer code set, and the fitted document name that the
// header carries (printer code set, or UTF-8 in UTF-8 mode).  256 bytes each.
extern char StdDocumentName[256];
extern char PTStdDocumentName[256];

// Allowed byte ranges of a document name: single bytes, then two-byte values
// (first byte * 256 + second byte); inclusive, at most 10 of each consulted.
struct DocuNameValidateRanges {
    int32_t count;
    int32_t range[10][2];  // low, high
};

struct DocuNameValidateData {
    DocuNameValidateRanges singleByte;
    DocuNameValidateRanges twoByte;
};

extern const DocuNameValidateData docuNameValidateDataScale;
extern const DocuNameValidateData docuNameValidateDataScaleForProduct03;
extern const DocuNameValidateData docuNameValidateDataScaleForProduct03UTF8;

// Cuts StdDocumentName to 32 columns and sets PTStdDocumentName from it (the
// printer code set), or from the job title (utf8Mode), then validates it.
void InvalidateStdDocumentNameForProductType(char* argv[], bool utf8Mode);

// UTF-8 mode: fits PTStdDocumentName to the product type's unit limit and
// validates it.
void InvalidatePrintTypeDocumentNameForProductType(char* argv[]);

// 1 when the whole zero-terminated text is made of allowed units, else 0.
int ValidateDada(const char* text, const DocuNameValidateData* table);

// 1 when the two bytes at position form a value in one of the two-byte ranges.
int ISWordValid(const char* position, const DocuNameValidateRanges* twoByte);
