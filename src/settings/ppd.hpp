#pragma once

#include <cups/ppd.h>

#include <memory>

struct PpdCloser {
    void operator()(ppd_file_t* ppd) const
    {
        if (ppd != nullptr) ppdClose(ppd);
    }
};
using PpdHandle = std::unique_ptr<ppd_file_t, PpdCloser>;

// Opens the printer's PPD named by the environment variable PPD.  Empty when
// the variable is unset or the file cannot be read or parsed.
PpdHandle OpenJobPPD();

// First attribute, in file order, whose name begins with `name` (compared over
// strlen(name) bytes); the specifier is ignored.  Null when none matches.
ppd_attr_t* ppdFindAttr_ALT(ppd_file_t* ppd, const char* name, const char* spec);
