#pragma once

#include <cstdint>
#include <cstdio>

#include "settings/print_options.hpp"

// Longest line the printer takes, line feed included.
constexpr size_t kPJLLineMax = 254;

// Bytes a line never carries from a name or value: those that could end the
// line or the job (control bytes, DEL) and, inside double quotes, the quote.
inline bool PJLDropsByte(unsigned char c, bool quoted)
{
    return c < 0x20 || c == 0x7F || (quoted && c == '"');
}

// Where the job stream goes: standard output, unless a test redirects it.
FILE* PJLOutput();
void SetPJLOutput(FILE* stream);

// One "@PJL SET name=value" (kind "SET") or "@PJL SET JOBATTR="@name=value""
// (kind "ATTR") line; other kinds write nothing.  A SET value that starts and
// ends with a double quote is a quoted value.
void MakePJLCommand(const char* kind, const char* name, const char* value);
void PutPJLComment(const char* text);

void MakeCommonComments();
void OutputPJLPrinterLanguageEncoding(const PrintOptions* options);
void OutputFileSizeCommand(int64_t fileSize);
void PutEnterLanguage();
void PutPJLTrailer();
void PutPJLTrailerEnd();

// The whole header.  Both return 1.
int OutputKPJLCommand(char* argv[], PrintOptions* options, int64_t fileSize);
int PutPJLCommand(char* argv[], PrintOptions* options, int64_t fileSize);

void OutputKPJLTrailer(char* argv[], PrintOptions* options);
