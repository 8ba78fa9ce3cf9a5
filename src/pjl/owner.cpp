// SPDX-License-Identifier: Apache-2.0
#include "pjl/owner.hpp"

#include <cstdio>

#include "encoding/convert.hpp"
#include "job/text.hpp"

namespace pdftopjl {

namespace {

// User and passcode texts travel in buffers of this size; the passcode fields
// are wider, so their texts are cut here (the line limit cuts them further).
constexpr size_t kOwnerTextSize = 255;

std::string ownerText(std::string_view value) { return std::string(value.substr(0, kOwnerTextSize - 1)); }

std::string codedText(const std::string& text)
{
    char converted[kOwnerTextSize] = {};
    ConvertToPrinterCodeSet(text.c_str(), converted, sizeof converted);
    return converted;
}

void putDateAndTime(const Accounting& kvr, time_t now, PjlWriter& out)
{
    struct tm local {};
    localtime_r(&now, &local);
    char text[64];
    if (!kvr.printDate.empty()) {
        out.comment("DATE=" + kvr.printDate);
    } else {
        snprintf(text, sizeof text, "DATE=%02d/%02d/%d", local.tm_mon + 1, local.tm_mday,
                 local.tm_year + 1900);
        out.comment(text);
    }
    if (!kvr.printTime.empty()) {
        out.comment("TIME=" + kvr.printTime);
    } else {
        snprintf(text, sizeof text, "TIME=%02d:%02d:%02d", local.tm_hour, local.tm_min,
                 local.tm_sec);
        out.comment(text);
    }
}

void putClientName(const OwnerInputs& in, PjlWriter& out)
{
    const Accounting& kvr = in.accounting;
    if (!kvr.clientName.empty()) {
        out.attr("CNAM", in.utf8Mode ? kvr.clientName : codedText(kvr.clientName));
    } else if (!kvr.clientHostName.empty()) {
        out.attr("CNAM", kvr.clientHostName);
    } else {
        out.attr("CNAM", in.host.name);
    }
}

void putHostAddress(const OwnerInputs& in, PjlWriter& out)
{
    const Accounting& kvr = in.accounting;
    if (!kvr.clientAddress.empty())
        out.attr("HOAD", kvr.clientAddress);
    else if (!in.host.address.empty())
        out.attr("HOAD", HostAddressValue(in.host.address));
}

void writeOwnerBlock(const OwnerInputs& in, const std::string& user, const std::string& second,
                     PjlWriter& out)
{
    putDateAndTime(in.accounting, in.now, out);
    putClientName(in, out);
    const std::string owner = !user.empty() ? user : std::string(in.requestingUser);
    out.attr("JOAU", codedText(owner));
    putHostAddress(in, out);
    out.attr("JOEP", second);
}

}  // namespace

std::string HostAddressValue(std::string_view address)
{
    std::string value = "I";
    while (!address.empty()) {
        const size_t dot = address.find('.');
        const std::string_view piece = address.substr(0, dot);
        address = dot == std::string_view::npos ? std::string_view() : address.substr(dot + 1);
        if (piece.empty()) continue;
        char hex[16];
        snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(ParseDecimalInt32(piece)));
        value += hex;
    }
    return value.substr(0, kOwnerTextSize - 1);
}

void WriteOwnerBlocks(const OwnerInputs& in, PjlWriter& out)
{
    const Accounting& kvr = in.accounting;
    std::string user;
    std::string second;

    // The identity entered for this job, in a block of its own.
    auto putEnteredIdentity = [&] {
        if (kvr.adminUserInputRadio != 1) return;
        user = ownerText(kvr.inputUserId);
        if (!user.empty()) second = ownerText(kvr.inputUserPassword);
        writeOwnerBlock(in, user, second, out);
    };

    if (kvr.manageType == 1) {
        putEnteredIdentity();
        if (kvr.adminUserIdListCtrl == 2)
            user = ownerText(kvr.adminUserId);
        else if (kvr.adminUserIdListCtrl == 1)
            user = ownerText(kvr.loginName);
        if (!user.empty()) second = ownerText(kvr.adminPassword);
    } else if (kvr.manageType == 2) {
        putEnteredIdentity();
        if (kvr.adminUserIdListCtrl == 2)
            user = ownerText(kvr.userId);
        else if (kvr.adminUserIdListCtrl == 1)
            user = ownerText(kvr.loginName);
        second = ownerText(kvr.password);
    }
    writeOwnerBlock(in, user, second, out);
}

}  // namespace pdftopjl
