#include "pjl/owner.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "encoding/convert.hpp"
#include "host/UtilityFunctionFilter.hpp"
#include "pjl/blocks.hpp"
#include "pjl/writer.hpp"
#include "settings/decimal.hpp"

namespace {

// User and passcode texts travel in buffers of this size; the passcode fields
// are wider, so their texts are cut here (the line limit cuts them further).
constexpr size_t kOwnerTextSize = 255;
constexpr size_t kHostNameSize = 97;
constexpr size_t kAddressSize = 255;

OwnerClock gOwnerClock = nullptr;

using OwnerText = char[kOwnerTextSize];

void setOwnerText(OwnerText& text, std::string_view value)
{
    std::memset(text, 0, kOwnerTextSize);
    std::memcpy(text, value.data(), std::min(value.size(), kOwnerTextSize - 1));
}

const char* requestingUser(char* argv[])
{
    if (argv == nullptr || argv[0] == nullptr || argv[1] == nullptr || argv[2] == nullptr)
        return "";
    return argv[2];
}

void putDateAndTime(const KVROption& kvr)
{
    const time_t now = gOwnerClock != nullptr ? gOwnerClock() : time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);

    char text[kOwnerTextSize];
    if (!kvr.printDate.empty())
        snprintf(text, sizeof text, "DATE=%s", kvr.printDate.c_str());
    else
        snprintf(text, sizeof text, "DATE=%02d/%02d/%d", local.tm_mon + 1, local.tm_mday,
                 local.tm_year + 1900);
    PutPJLComment(text);

    if (!kvr.printTime.empty())
        snprintf(text, sizeof text, "TIME=%s", kvr.printTime.c_str());
    else
        snprintf(text, sizeof text, "TIME=%02d:%02d:%02d", local.tm_hour, local.tm_min,
                 local.tm_sec);
    PutPJLComment(text);
}

void putClientName(const PrintOptions& options)
{
    const KVROption& kvr = options.kvr;
    if (!kvr.macHostName.empty()) {
        if (options.ppd.printerLanguageEncoding == "UTF-8") {
            MakePJLCommand("ATTR", "CNAM", kvr.macHostName.c_str());
        } else {
            char converted[kOwnerTextSize] = {};
            ConvertUTF8ToEncoding(kvr.macHostName.c_str(), converted, sizeof converted);
            MakePJLCommand("ATTR", "CNAM", converted);
        }
    } else if (!kvr.hostNameString.empty()) {
        MakePJLCommand("ATTR", "CNAM", kvr.hostNameString.c_str());
    } else {
        char hostName[kHostNameSize];
        getHostName(hostName);
        MakePJLCommand("ATTR", "CNAM", hostName);
    }
}

void putHostAddress(const KVROption& kvr)
{
    if (!kvr.ipAddress.empty()) {
        MakePJLCommand("ATTR", "HOAD", kvr.ipAddress.c_str());
        return;
    }
    char hostName[kHostNameSize];
    getHostName(hostName);
    char address[kAddressSize] = {};
    if (getHostAddress(hostName, address, sizeof address) != 1 || address[0] == '\0') return;

    char value[kAddressSize];
    MakeHostAddressValue(address, value, sizeof value);
    MakePJLCommand("ATTR", "HOAD", value);
}

}  // namespace

void SetOwnerClock(OwnerClock clock) { gOwnerClock = clock; }

void MakeHostAddressValue(const char* address, char* value, size_t size)
{
    if (value == nullptr || size == 0) return;
    std::memset(value, 0, size);
    size_t used = 0;
    auto append = [&](std::string_view text) {
        for (char c : text) {
            if (used + 1 >= size) return;
            value[used++] = c;
        }
    };
    append("I");
    std::string_view rest = address != nullptr ? address : "";
    while (!rest.empty()) {
        const size_t dot = rest.find('.');
        const std::string_view piece = rest.substr(0, dot);
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (piece.empty()) continue;
        char hex[16];
        snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(ParseDecimalInt32(piece)));
        append(hex);
    }
}

void OutputJobOwnerCommand(char* argv[], PrintOptions* options, const char* userText,
                           const char* secondText)
{
    const KVROption& kvr = options->kvr;
    putDateAndTime(kvr);
    putClientName(*options);

    char owner[kOwnerTextSize] = {};
    const char* user = userText != nullptr && userText[0] != '\0' ? userText : requestingUser(argv);
    ConvertUTF8ToEncoding(user, owner, sizeof owner);
    MakePJLCommand("ATTR", "JOAU", owner);

    putHostAddress(kvr);

    MakePJLCommand("ATTR", "JOEP", secondText != nullptr ? secondText : "");
}

int PutJACommand(char* argv[], PrintOptions* options)
{
    const KVROption& kvr = options->kvr;
    OwnerText userText = {};
    OwnerText secondText = {};

    // With manage type 1 or 2 the identity entered for this job may come
    // first, in a block of its own.
    auto putEnteredIdentity = [&] {
        if (kvr.adminUserInputRadio != 1) return;
        setOwnerText(userText, kvr.inputUserId.view());
        if (userText[0] != '\0') setOwnerText(secondText, kvr.inputUserPassword.view());
        OutputJobOwnerCommand(argv, options, userText, secondText);
    };

    if (kvr.manageType == 1) {
        putEnteredIdentity();
        if (kvr.adminUserIdListCtrl == 2)
            setOwnerText(userText, kvr.adminUserId.view());
        else if (kvr.adminUserIdListCtrl == 1)
            setOwnerText(userText, kvr.loginName.view());
        if (userText[0] != '\0') setOwnerText(secondText, kvr.adminPassword.view());
    } else if (kvr.manageType == 2) {
        putEnteredIdentity();
        if (kvr.adminUserIdListCtrl == 2)
            setOwnerText(userText, kvr.userId.view());
        else if (kvr.adminUserIdListCtrl == 1)
            setOwnerText(userText, kvr.loginName.view());
        setOwnerText(secondText, kvr.password.view());
    }

    OutputJobOwnerCommand(argv, options, userText, secondText);
    return 1;
}
