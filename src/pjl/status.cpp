// SPDX-License-Identifier: Apache-2.0
#include "pjl/status.hpp"

#include <charconv>

namespace pdftopjl {

namespace {

// A message longer than this is no status message: it is dropped unread.
constexpr size_t kMessageMax = 4096;

// The message kinds that carry the device's state.
constexpr std::string_view kDeviceMessages[] = {"@PJL INFO STATUS", "@PJL USTATUS DEVICE", "@PJL USTATUS TIMED"};

}  // namespace

PjlStatus ParsePjlStatus(std::string_view answer)
{
    PjlStatus status;
    while (!answer.empty()) {
        const size_t end = answer.find_first_of("\r\n\f");
        std::string_view line = answer.substr(0, end);
        answer = end == std::string_view::npos ? std::string_view{} : answer.substr(end + 1);
        if (line.starts_with("CODE=")) {
            const std::string_view value = line.substr(5);
            const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), status.code);
            status.valid = ec == std::errc() && ptr == value.data() + value.size() && status.code >= 10000 &&
                           status.code <= 99999;
        } else if (line.starts_with("DISPLAY=")) {
            std::string_view value = line.substr(8);
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
                value = value.substr(1, value.size() - 2);
            // The panel's text reaches web pages and CUPS's status lines:
            // printable ASCII only.
            for (const char ch : value.substr(0, 64))
                if (ch >= 0x20 && ch < 0x7f) status.display += ch;
        } else if (line.starts_with("ONLINE=")) {
            status.online = line.substr(7) != "FALSE";
        }
    }
    return status;
}

PrinterCondition ConditionOf(const PjlStatus& status, bool colour)
{
    const int code = status.code;
    const int group = code / 1000;
    // Texts from the printer's panel are shown only where no better one is
    // known, and never as a reason.
    const std::string display = status.display.empty() ? "code " + std::to_string(code) : status.display;
    const char* tonerLow = colour ? "Toner low" : "Toner low: black";
    PrinterCondition c;
    if (group == 10) {
        if (code == 10006) c = {kReasonTonerLow, tonerLow};
        else if (code == 10023) c.text = "Printing";
        else c.text = "Ready";
    } else if (code == 40021) {
        c = {kReasonDoorOpen, "Door open"};
    } else if (code == 40038) {
        c = {kReasonTonerLow, tonerLow};
    } else if (group == 41) {
        // 41xyy: load paper into tray x (size yy).
        const int tray = code / 100 % 10;
        c = {kReasonMediaEmpty | kReasonMediaNeeded,
             tray > 0 ? "Tray " + std::to_string(tray) + " is empty" : "Out of paper"};
    } else if (group == 42 || group == 44) {
        c = {kReasonMediaJam, "Paper jam"};
    } else if (group == 30 || group == 35) {
        c = {kReasonOtherWarning, "Warning: " + display};
    } else {
        c = {kReasonOther, "The printer needs attention: " + display};
    }
    if (!status.online) {
        c.reasons |= kReasonOffline;
        c.text = c.text == "Ready" ? "Offline" : "Offline; " + c.text;
    }
    return c;
}

std::vector<PjlStatus> PjlStatusStream::Feed(std::string_view bytes)
{
    std::vector<PjlStatus> found;
    for (size_t end; !bytes.empty(); bytes.remove_prefix(end + 1)) {
        end = bytes.find('\f');
        if (end == std::string_view::npos) {
            // A message that never ends is not kept growing: the rest of it
            // is passed over.
            if (pending_.size() + bytes.size() > kMessageMax) {
                pending_.clear();
                overlong_ = true;
            } else if (!overlong_) {
                pending_.append(bytes);
            }
            break;
        }
        std::string_view message = bytes.substr(0, end);
        if (overlong_) {
            overlong_ = false;
            continue;
        }
        if (!pending_.empty()) {
            pending_.append(message);
            message = pending_;
        }
        // Whatever precedes the message's first line (line ends, a NUL a
        // device pads with) is not part of it.
        if (const size_t start = message.find("@PJL"); start != std::string_view::npos && message.size() <= kMessageMax) {
            message.remove_prefix(start);
            const std::string_view kind = message.substr(0, message.find_first_of("\r\n"));
            for (const std::string_view device : kDeviceMessages)
                if (kind == device || (kind.starts_with(device) && kind[device.size()] == ' ')) {
                    if (PjlStatus status = ParsePjlStatus(message); status.valid) found.push_back(std::move(status));
                    break;
                }
        }
        pending_.clear();
    }
    return found;
}

}  // namespace pdftopjl
