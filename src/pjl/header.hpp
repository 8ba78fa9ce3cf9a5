// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "host/host_address.hpp"
#include "pjl/writer.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

namespace pdftopjl {

// The ticket's texts as the header carries them: in the printer's code set
// (or rebuilt as UTF-8 for a UTF-8 printer), cut to the printer's fields,
// the document name fitted to its panel.  Encoded once, when the job starts,
// so that a text the printer cannot take is reported before any work.
struct HeaderTexts {
    std::string documentName;  // DNAME, and JOBNAME where the title names the job
    std::string userName;      // USERNAME, empty for none
    std::string jobName;       // JOBNAME, empty for none
    bool jobNameIsTitle = false;
    std::string numberUp;      // NLPP
    // The owner blocks' identity, with the account already in its place.
    Accounting accounting;
};

HeaderTexts EncodeHeaderTexts(const JobTicket& ticket, const PrinterProfile& printer);

struct HeaderInputs {
    const JobTicket& ticket;
    const PrinterProfile& printer;
    const HeaderTexts& texts;
    const HostIdentity& host;
    time_t now;
    int64_t fileSize;  // bytes of the PDF that follows
    // The printer's answers reach the job (a back channel): it is asked for
    // its state and its changes.
    bool askStatus = false;
};

// The whole header: universal exit and job line, the status requests when
// asked, string code set, comments, owner and document blocks, FSIZ and the
// switch to PDF.
void WriteJobHeader(const HeaderInputs& in, PjlWriter& out);

// Universal exit, the end of the status changes when the header asked for
// them, and end of job.
void WriteJobTrailer(PjlWriter& out, bool statusAsked = false);

// A stored job is held under the passcode the job gave, or not sent at all:
// true when it can be, false after an error saying why (a passcode that is not
// 4 to 8 digits, one sent encrypted, or only the queue's default, which every
// user can read).  Checked before the document is read.
bool StoredJobPasscodeUsable(const JobTicket& ticket);

}  // namespace pdftopjl
