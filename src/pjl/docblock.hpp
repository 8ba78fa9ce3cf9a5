// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "pjl/header.hpp"
#include "pjl/writer.hpp"
#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

namespace pdftopjl {

// The document block: name, hold and passcode, user and job name, copies,
// quality, colour, collation, trapping, tray, paper, media type, feed
// direction, duplex, finishing and pages per sheet.
void WriteDocumentBlock(const JobTicket& ticket, const PrinterProfile& printer,
                        const HeaderTexts& texts, PjlWriter& out);

}  // namespace pdftopjl
