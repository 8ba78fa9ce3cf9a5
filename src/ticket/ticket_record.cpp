// SPDX-License-Identifier: Apache-2.0
#include "ticket/ticket_record.hpp"

#include <strings.h>

#include <cstring>
#include <type_traits>

#include "job/fd.hpp"

namespace pdftopjl {

namespace {

struct RecordHeader {
    uint32_t type;
    uint32_t size;
};

// Every field of the ticket, in record order: the one list both directions
// read, so that a field is sent exactly when it is read back.
template <typename Visit, typename Ticket>
void ticketFields(Visit& v, Ticket& t)
{
    v(t.jobId), v(t.user), v(t.title), v(t.productType), v(t.copies), v(t.collation);
    v(t.held.type), v(t.held.passcode), v(t.held.userName), v(t.held.jobNameSource), v(t.held.jobName);
    v(t.held.userNameIsText), v(t.held.jobNameIsText);
    v(t.passcodeIssue);
    auto& a = t.accounting;
    v(a.manageType), v(a.adminUserIdListCtrl), v(a.adminUserInputRadio), v(a.userId), v(a.password);
    v(a.adminUserId), v(a.adminPassword), v(a.inputUserId), v(a.inputUserPassword), v(a.loginName);
    v(a.accountId), v(a.clientName), v(a.clientHostName), v(a.clientAddress), v(a.printDate), v(a.printTime);
    v(t.tray), v(t.paper), v(t.mediaType), v(t.bypassFeedEdge), v(t.sides), v(t.colour), v(t.quality);
    v(t.trapping), v(t.outputBin), v(t.finishing.staple), v(t.finishing.punch), v(t.finishing.orientation);
    auto& l = t.layout;
    v(l.numberUp), v(l.dialogPagesPerSheet), v(l.numberUpLayout), v(l.pageRanges), v(l.orientation);
    v(l.landscape), v(l.fitToPage), v(l.fitPlot), v(l.scaling), v(l.scalingPercent), v(l.naturalScalingPercent);
    v(l.position), v(l.pageLeft), v(l.pageRight), v(l.pageTop), v(l.pageBottom), v(l.pageSet), v(l.mirror);
    v(l.pageBorder), v(l.outputOrder), v(l.dialogScaling), v(l.dialogPageToPaperMapping), v(l.pageSize);
    v(l.media), v(l.sides), v(l.duplex), v(l.collate), v(l.documentHandling);
    v(t.halfTurn), v(t.raster), v(t.dialogCopies), v(t.dialogTotalSides);
}

template <typename Visit, typename Profile>
void profileFields(Visit& v, Profile& p)
{
    v(p.queueName), v(p.described), v(p.codeSet), v(p.bypassTrayName), v(p.landscape), v(p.filterInputType), v(p.laidOutBefore);
}

// A field added to either struct must be added to its list above too.
static_assert(sizeof(JobTicket) == 1608, "a JobTicket field is missing from ticketFields");
static_assert(sizeof(PrinterProfile) == 120, "a PrinterProfile field is missing from profileFields");

struct Append {
    RecordBuilder& out;
    void operator()(const std::string& value) { out.text(value); }
    void operator()(int32_t value) { out.i32(value); }
    void operator()(bool value) { out.u8(value ? 1 : 0); }
    template <typename T>
    void operator()(const std::optional<T>& value)
    {
        out.u8(value ? 1 : 0);
        if (value) (*this)(*value);
    }
    template <typename E>
        requires std::is_enum_v<E>
    void operator()(E value)
    {
        static_assert(sizeof(E) == 1);
        out.u8(static_cast<uint8_t>(value));
    }
};

struct Parse {
    RecordParser& in;
    void operator()(std::string& value) { in.text(&value); }
    void operator()(int32_t& value) { in.i32(&value); }
    void operator()(bool& value)
    {
        uint8_t byte = 0;
        if (in.u8(&byte)) value = byte != 0;
    }
    template <typename T>
    void operator()(std::optional<T>& value)
    {
        uint8_t present = 0;
        if (!in.u8(&present)) return;
        value.reset();
        if (present != 0) (*this)(value.emplace());
    }
    template <typename E>
        requires std::is_enum_v<E>
    void operator()(E& value)
    {
        uint8_t byte = 0;
        if (in.u8(&byte)) value = static_cast<E>(byte);
    }
};

}  // namespace

void RecordBuilder::raw(const void* data, size_t size)
{
    bytes_.append(static_cast<const char*>(data), size);
}

void RecordBuilder::text(std::string_view value)
{
    const auto size = static_cast<uint32_t>(value.size());
    raw(&size, sizeof size);
    bytes_.append(value);
}

bool RecordParser::raw(void* data, size_t size)
{
    if (!ok_ || rest_.size() < size) return ok_ = false;
    std::memcpy(data, rest_.data(), size);
    rest_.remove_prefix(size);
    return true;
}

bool RecordParser::u8(uint8_t* value) { return raw(value, 1); }

bool RecordParser::text(std::string* value)
{
    uint32_t size = 0;
    if (!raw(&size, sizeof size)) return false;
    if (rest_.size() < size) return ok_ = false;
    value->assign(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return true;
}

void AppendTicket(RecordBuilder& out, const JobTicket& ticket)
{
    Append append{out};
    ticketFields(append, ticket);
}

bool ParseTicket(RecordParser& in, JobTicket* ticket)
{
    Parse parse{in};
    ticketFields(parse, *ticket);
    return in.ok();
}

void AppendProfile(RecordBuilder& out, const PrinterProfile& profile)
{
    Append append{out};
    profileFields(append, profile);
}

bool ParseProfile(RecordParser& in, PrinterProfile* profile)
{
    Parse parse{in};
    profileFields(parse, *profile);
    return in.ok();
}

std::string FramedRecord(uint32_t type, std::string_view payload)
{
    std::string whole(sizeof(RecordHeader), '\0');
    const RecordHeader header{type, static_cast<uint32_t>(payload.size())};
    std::memcpy(whole.data(), &header, sizeof header);
    whole.append(payload);
    return whole;
}

bool WriteRecord(int fd, uint32_t type, std::string_view payload)
{
    if (payload.size() > kMaxRecordPayload) return false;
    // One write, so that a small record is never split by another writer.
    std::string whole = FramedRecord(type, payload);
    const bool ok = job::WriteAll(fd, whole.data(), whole.size());
    explicit_bzero(whole.data(), whole.size());
    return ok;
}

std::optional<RecordStream::Record> RecordStream::next()
{
    if (broken_ || pending_.size() < sizeof(RecordHeader)) return std::nullopt;
    RecordHeader header;
    std::memcpy(&header, pending_.data(), sizeof header);
    if (header.size > kMaxRecordPayload) {
        broken_ = true;
        return std::nullopt;
    }
    if (pending_.size() - sizeof header < header.size) return std::nullopt;
    Record record{header.type, pending_.substr(sizeof header, header.size)};
    pending_.erase(0, sizeof header + header.size);
    return record;
}

}  // namespace pdftopjl
