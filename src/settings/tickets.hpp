#pragma once

#include <cups/cups.h>

#include <cstdint>

// Reads one ticket from the parsed job options into a destination of `width`
// bytes (4 for integer fields).  Returns 1 when the ticket was found, 0 when
// absent (CheckTicketKey always returns 1).
using TicketReader = int (*)(const char* key, int numOptions, cups_option_t* options,
                             void* destination, int width);

// One row of a ticket table: which option fills which staging field, and how.
struct TicketData {
    const char* key;
    void* destination;
    int32_t width;
    TicketReader reader;
};

int CheckTicketKey(const char* key, int numOptions, cups_option_t* options, void* destination,
                   int width);
int GetTicketInteger(const char* key, int numOptions, cups_option_t* options, void* destination,
                     int width);
int GetTicketStringConvertedToPrtLang(const char* key, int numOptions, cups_option_t* options,
                                      void* destination, int width);
int GetTicketStringConvertedToPrtLangForUTF8(const char* key, int numOptions,
                                             cups_option_t* options, void* destination,
                                             int width);
int GetTicketPasswordStringConvertedToEncryption(const char* key, int numOptions,
                                                 cups_option_t* options, void* destination,
                                                 int width);
int GetNumberUpTicketString(const char* key, int numOptions, cups_option_t* options,
                            void* destination, int width);

// Runs `rows` rows of a table against the job's options (argv[5]).  Returns 1.
int GetTicketFromArray(char* argv[], const TicketData* table, int rows);

// A ticket text read as a decimal integer: optional leading blanks and sign,
// then digits up to the first other character; 0 without digits.  Values
// beyond the 32-bit range saturate.
int32_t ParseTicketInteger(const char* text);

// Undoes the numeric escape "/72/105" -> "Hi" in place; `size` bounds the text.
void numstrtochar(char* text, int size);

// Writes value's decimal digits right-aligned into buffer (size bytes, the
// last one the terminating zero); returns the first digit, or an empty text
// when the digits do not fit.
char* itoa(int value, char* buffer, int size);

constexpr int kTicketScratchSize = 1024;

constexpr int PrintTypeTicketDataNum = 6;
constexpr int KVRTicketDataNumCommon = 20;
constexpr int KVRTicketDataNumCommonForUTF8 = 24;
constexpr int KVRTicketDataNumAdmin = 8;
constexpr int FeaturesTicketDataNum = 32;

extern const TicketData PrintTypeticketData[PrintTypeTicketDataNum];
extern const TicketData PrintTypeticketDataForUTF8[PrintTypeTicketDataNum];
extern const TicketData KVRticketDataCommon[KVRTicketDataNumCommon];
extern const TicketData KVRticketDataCommonForUTF8[KVRTicketDataNumCommonForUTF8];
extern const TicketData KVRticketDataAdmin[KVRTicketDataNumAdmin];
extern const TicketData KVRticketDataAdminForUTF8[KVRTicketDataNumAdmin];
extern const TicketData FeaturesticketData[FeaturesTicketDataNum];
