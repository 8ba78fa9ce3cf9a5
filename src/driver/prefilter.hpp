#pragma once

#include <cstddef>

// Finding and starting the system's PDF layout filter (the pre-filter): the
// printer's PPD names, in cupsFilter, the type its own filter accepts; the
// CUPS conversion tables name the program that turns that type into the
// system's layout-applied PDF type.

// One conversion table: a root directory taken from the environment (or its
// default) and the table's place under it.
struct ConversionTable {
    const char* rootVariable;
    const char* rootDefault;
    const char* directory;  // "" or "mime/"
    const char* name;
};

// The tables, searched in this order; the first acceptable line wins.
extern const ConversionTable cupsDirectory[4];
// Entry 0 is the destination type.
extern const char* const mimeTypeFormat[1];
// A conversion line: source type, destination type, cost, program.  The
// bracket expressions hold the whitespace characters themselves.
extern const char RegexPattern[];

constexpr size_t kPrefilterPathSize = 64;
constexpr size_t kProgramNameSize = 16;

// Finds the pre-filter.  1 with its full path in prefilterPath (size bytes,
// zero-filled by the caller); -1 after a message when there is none.
int PrepFormat(char* prefilterPath, size_t size);

// Searches the tables for srcFormat.  Fills prefilterPath, or leaves it
// untouched when no program can be chosen (after "get srcFormat error\n" for
// an empty source type).
void ChooseFilter(const char* srcFormat, char* prefilterPath, size_t size);

// Searches one table.  1 with the program's name in programName (size bytes):
// the table holds an acceptable line; 0: it holds none or cannot be read;
// -1: the first acceptable line names a program too long for the buffer.
int BestFilter(const char* tablePath, const char* srcFormat, const char* dstFormat,
               char* programName, size_t size);

// Replaces the calling process with the pre-filter, passing on this filter's
// arguments 0 to 5 and, when present, 6; returns only when it cannot be
// started.
void ExecuteFilter(const char* prefilterPath, int argc, char* argv[]);
