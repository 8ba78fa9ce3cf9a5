// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "ticket/job_ticket.hpp"
#include "ticket/printer_profile.hpp"

// The ticket and the profile as bytes, for a job run in a process of its
// own: typed records of a type and a payload over a pipe, between two
// processes of the same program (so native byte order).  A payload that does
// not read back whole is refused, never half taken.
namespace pdftopjl {

// Fields appended to a payload.
class RecordBuilder {
public:
    void u8(uint8_t value) { bytes_.push_back(static_cast<char>(value)); }
    void i32(int32_t value) { raw(&value, sizeof value); }
    void i64(int64_t value) { raw(&value, sizeof value); }
    void text(std::string_view value);
    std::string_view view() const { return bytes_; }
    std::string& bytes() { return bytes_; }

private:
    void raw(const void* data, size_t size);
    std::string bytes_;
};

// Fields read from a payload in the order they were appended; every read
// after one that ran past the end fails.
class RecordParser {
public:
    explicit RecordParser(std::string_view bytes) : rest_(bytes) {}
    bool u8(uint8_t* value);
    bool i32(int32_t* value) { return raw(value, sizeof *value); }
    bool i64(int64_t* value) { return raw(value, sizeof *value); }
    bool text(std::string* value);
    // True when every read succeeded and nothing is left over.
    bool complete() const { return ok_ && rest_.empty(); }
    bool ok() const { return ok_; }

private:
    bool raw(void* data, size_t size);
    std::string_view rest_;
    bool ok_ = true;
};

void AppendTicket(RecordBuilder& out, const JobTicket& ticket);
bool ParseTicket(RecordParser& in, JobTicket* ticket);
void AppendProfile(RecordBuilder& out, const PrinterProfile& profile);
bool ParseProfile(RecordParser& in, PrinterProfile* profile);

// A record's header on the pipe: its type and the payload's size.
inline constexpr uint32_t kMaxRecordPayload = 16u << 20;
std::string FramedRecord(uint32_t type, std::string_view payload);
// Writes the record whole; false when it is too large or the write failed.
bool WriteRecord(int fd, uint32_t type, std::string_view payload);

// Records taken from the bytes of a pipe as they arrive.
class RecordStream {
public:
    void feed(const char* data, size_t size) { pending_.append(data, size); }
    // The next whole record, or nothing yet; `broken` once a header claims
    // more than any record holds.
    struct Record {
        uint32_t type;
        std::string payload;
    };
    std::optional<Record> next();
    bool broken() const { return broken_; }
    // Bytes of a record not yet whole.
    bool partial() const { return !pending_.empty(); }

private:
    std::string pending_;
    bool broken_ = false;
};

}  // namespace pdftopjl
