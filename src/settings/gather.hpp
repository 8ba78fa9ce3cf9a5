#pragma once

#include "settings/print_options.hpp"

// Fills the whole record from the PPD and the job's options.  Returns 1.
int GetPrintOptions(char* argv[], PrintOptions* options);

// The parts of option gathering, in the order GetPrintOptions runs them.
void GetPPDOptions(PPDOption* ppd);
void GetTicketFromPDE(char* argv[], PrintOptions* options);
void PrintTypeGetTicketFromPDE(char* argv[], PrintTypeOption* printType);
void KVRGetTicketFromPDE(char* argv[], KVROption* kvr);
void FeaturesGetTicketFromPDE(char* argv[], FeaturesOption* features);

// True when the printer takes its texts in UTF-8: the PPD's
// ZRPrinterLanguageEncoding is exactly "UTF-8".
bool IsUTF8Encoding(const char* printerLanguageEncoding);

// The same, read from the job's PPD (not UTF-8 when it cannot be opened).
bool PPDIsUTF8Mode();
