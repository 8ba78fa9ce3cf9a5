// SPDX-License-Identifier: Apache-2.0
#include "cups/printer_state.hpp"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

namespace pdftopjl {

namespace {

struct ReasonName {
    uint32_t reason;
    const char* keyword;
    bool jobOnly;  // holds only while a job prints
};

// The keywords and severities CUPS's network backends give the same
// conditions from SNMP, so that a condition both see shows once.  cupsd
// itself clears offline-report after a network job.
constexpr ReasonName kReasonNames[] = {
    {kReasonMediaEmpty, "media-empty-warning", false}, {kReasonMediaNeeded, "media-needed-error", true},
    {kReasonMediaJam, "media-jam-warning", false},       {kReasonDoorOpen, "door-open-report", false},
    {kReasonTonerLow, "toner-low-report", false},     {kReasonOffline, "offline-report", true},
    {kReasonOtherWarning, "other-warning", false},     {kReasonOther, "other-error", false},
};

// "STATE: +a,b\n" for the reasons in `reasons`, nothing when there are none.
std::string stateLine(char sign, uint32_t reasons)
{
    std::string line;
    for (const ReasonName& name : kReasonNames)
        if ((reasons & name.reason) != 0) line += (line.empty() ? "" : ",") + std::string(name.keyword);
    return line.empty() ? line : std::string("STATE: ") + sign + line + "\n";
}

constexpr uint32_t kAllReasons = [] {
    uint32_t all = 0;
    for (const ReasonName& name : kReasonNames) all |= name.reason;
    return all;
}();

constexpr uint32_t kJobOnlyReasons = [] {
    uint32_t some = 0;
    for (const ReasonName& name : kReasonNames)
        if (name.jobOnly) some |= name.reason;
    return some;
}();

}  // namespace

bool BackChannelOffered(const char* deviceUri, int fd)
{
    if (deviceUri == nullptr) return false;
    const std::string_view uri = deviceUri;
    // dnssd (and its other name, mdns) runs the backend of the service it
    // finds: socket for a raw printer's.
    const bool socketPrinter = uri.starts_with("socket:") ||
                               ((uri.starts_with("dnssd:") || uri.starts_with("mdns:")) &&
                                uri.find("._pdl-datastream.") != std::string_view::npos);
    if (!socketPrinter && !uri.starts_with("usb:")) return false;
    struct stat st;
    return fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

bool LaterDocumentFollows(const char* spoolFile)
{
    if (spoolFile == nullptr) return false;
    const std::string_view path = spoolFile;
    const size_t name = path.rfind('/') + 1;  // 0 without a folder
    const size_t dash = path.rfind('-');
    if (dash == std::string_view::npos || dash < name || path.substr(name, 1) != "d" ||
        path.find_first_not_of("0123456789", name + 1) != dash || dash == name + 1 || path.size() - dash < 4 ||
        path.find_first_not_of("0123456789", dash + 1) != std::string_view::npos || path.size() - dash > 6)
        return false;
    std::string next = std::to_string(std::strtol(spoolFile + dash + 1, nullptr, 10) + 1);
    next.insert(0, next.size() < 3 ? 3 - next.size() : 0, '0');
    struct stat st;
    return stat((std::string(path.substr(0, dash + 1)) + next).c_str(), &st) == 0;
}

std::string CupsPrinterState::Update(const PrinterCondition& now)
{
    const uint32_t was = known_ ? reasons_ : kAllReasons & ~now.reasons;
    std::string lines = stateLine('-', was & ~now.reasons) + stateLine('+', now.reasons & ~(known_ ? reasons_ : 0));
    // A printer that is fine when the job starts has nothing to say.
    if (now.text != text_ && (known_ || now.reasons != 0)) lines += "INFO: " + now.text + "\n";
    known_ = true;
    reasons_ = now.reasons;
    text_ = now.text;
    return lines;
}

std::string CupsPrinterState::EndJob()
{
    const std::string lines = stateLine('-', reasons_ & kJobOnlyReasons);
    reasons_ &= ~kJobOnlyReasons;
    return lines;
}

}  // namespace pdftopjl
