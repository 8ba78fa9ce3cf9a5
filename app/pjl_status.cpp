#include "pjl_status.hpp"

#include <charconv>

namespace pdftopjl::app {

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
            // The panel's text reaches web pages: printable ASCII only.
            for (const char ch : value.substr(0, 64))
                if (ch >= 0x20 && ch < 0x7f) status.display += ch;
        } else if (line.starts_with("ONLINE=")) {
            status.online = line.substr(7) != "FALSE";
        }
    }
    return status;
}

Condition ConditionOf(const PjlStatus& status, bool colour)
{
    const int code = status.code;
    const int group = code / 1000;
    // Texts from the printer's panel are shown only where no better one is
    // known, and never as a reason.
    const std::string display = status.display.empty() ? "code " + std::to_string(code) : status.display;
    Condition c;
    if (group == 10) {
        if (code == 10006) c = {PAPPL_PREASON_TONER_LOW, colour ? "Toner low" : "Toner low: black"};
        else if (code == 10023) c.text = "Printing";
        else c.text = "Ready";
    } else if (code == 40021) {
        // PAPPL 1.3 never reports door-open (and then no reasons at all).
        c = {PAPPL_PREASON_COVER_OPEN, "Door open"};
    } else if (code == 40038) {
        c = {PAPPL_PREASON_TONER_LOW, colour ? "Toner low" : "Toner low: black"};
    } else if (group == 41) {
        // 41xyy: load paper into tray x (size yy).
        const int tray = code / 100 % 10;
        c = {PAPPL_PREASON_MEDIA_EMPTY | PAPPL_PREASON_MEDIA_NEEDED,
             tray > 0 ? "Tray " + std::to_string(tray) + " is empty" : "Out of paper"};
    } else if (group == 42 || group == 44) {
        c = {PAPPL_PREASON_MEDIA_JAM, "Paper jam"};
    } else if (group == 30 || group == 35) {
        c = {PAPPL_PREASON_OTHER, "Warning: " + display};
    } else {
        c = {PAPPL_PREASON_OTHER, "The printer needs attention: " + display};
    }
    if (!status.online) {
        c.reasons |= PAPPL_PREASON_OFFLINE;
        c.text = c.text == "Ready" ? "Offline" : "Offline; " + c.text;
    }
    return c;
}

}  // namespace pdftopjl::app
