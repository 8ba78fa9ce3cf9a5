// SPDX-License-Identifier: Apache-2.0
#include "host/host_address.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "encoding/unicode.hpp"
#include "job/output.hpp"
#include "job/log.hpp"
#include "job/cancel.hpp"
#include "job/fd.hpp"
#include "job/text.hpp"

namespace pdftopjl {

namespace {

constexpr char kIPv6LinkLocalHost[] = "fe80::1";

constexpr size_t kHostNameSize = 97;
constexpr size_t kHostNameReadSize = 256;
constexpr size_t kUTF8HostNameUnits = 32;
constexpr size_t kAddressTextSize = 46;

// Enough for any real host; a longer answer is cut, not refused.
constexpr uint32_t kMaxAddresses = 64;

[[noreturn]] void consistencyCheckFailed(const char* function, int line, const char* expression)
{
    char text[512];
    snprintf(text, sizeof text,
             "Assertion failed: (%s), function %s, file UtilityFunctionFilter, line %d.\n",
             expression, function, line);
    job::Log(job::Severity::Error, "Internal error in the host address lookup; please report it");
    job::WriteText(text, stderr);
    abort();
}

}  // namespace

#define HOST_CHECK(expression) \
    ((expression) ? (void)0 : consistencyCheckFailed(__func__, __LINE__, #expression))

namespace {

// Cuts a UTF-8 name to maxUnits UTF-16 units, never splitting a surrogate
// pair (that would drop the character and could leave the name empty).
// Text that is not UTF-8 is kept as read.
void cutToUTF16Units(char* name, size_t size, size_t maxUnits)
{
    std::u16string units;
    if (!DecodeUTF8(name, &units) || units.size() <= maxUnits) return;
    size_t keep = maxUnits;
    if (keep > 0 && units[keep - 1] >= 0xD800 && units[keep - 1] <= 0xDBFF) --keep;
    const std::string cut = EncodeUnitsAsUTF8(std::u16string_view(units).substr(0, keep));
    std::memset(name, 0, size);
    std::memcpy(name, cut.data(), std::min(cut.size(), size - 1));
}

}  // namespace

namespace {

// The name as the system gives it, up to the read size; nothing when it
// cannot be read.
std::optional<std::string> readHostName(const HostServices& services)
{
    char name[kHostNameReadSize] = {};
    const int status = services.hostName ? services.hostName(name, sizeof name - 1)
                                         : gethostname(name, sizeof name - 1);
    if (status != 0) return std::nullopt;
    return std::string(name, strnlen(name, sizeof name - 1));
}

// What a job carries of the name read: at most 96 bytes, and for a printer
// that takes UTF-8 at most 32 UTF-16 units.
std::string hostNameFor(const std::optional<std::string>& read, bool utf8Mode)
{
    if (!read) return {};
    char name[kHostNameReadSize] = {};
    std::memcpy(name, read->data(), read->size());
    if (utf8Mode) cutToUTF16Units(name, sizeof name, kUTF8HostNameUnits);
    return std::string(name, strnlen(name, kHostNameSize - 1));
}

}  // namespace

std::string LocalHostName(bool utf8Mode, const HostServices& services)
{
    return hostNameFor(readHostName(services), utf8Mode);
}

bool IsLoopbackAddress(std::string_view text)
{
    // All of 127.0.0.0/8 is loopback (Debian names the host 127.0.1.1), also
    // when written as an IPv4-mapped IPv6 address.
    if (text.starts_with("::ffff:")) text.remove_prefix(7);
    return text.starts_with("127.") || text == "::1";
}

std::string SelectHostAddress(const AddressList& addresses, const char* hostName)
{
    HOST_CHECK(hostName != NULL);
    // The outcome of the last address examined decides, as the printer's
    // tools have always reported it.
    std::string chosen;
    bool found = false;
    for (const ResolvedAddress& entry : addresses) {
        const sockaddr* addr =
            entry.length != 0 ? reinterpret_cast<const sockaddr*>(&entry.storage) : NULL;
        HOST_CHECK(addr != NULL);

        char text[kAddressTextSize] = {};
        const socklen_t length =
            entry.length < sizeof entry.storage ? entry.length : sizeof entry.storage;
        if (getnameinfo(addr, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
            found = false;
            continue;
        }
        found = true;
        // Loopback reaches no printer: never sent.
        if (IsLoopbackAddress(text)) continue;
        if (std::strchr(text, '.') != nullptr) return text;
        if (std::strstr(text, kIPv6LinkLocalHost) == nullptr) chosen = text;
    }
    return found ? chosen : std::string();
}

// The lookup runs in a child process so that a resolver that never answers
// can be stopped: a thread blocked in getaddrinfo cannot be.  The child sends
// fixed-size records and an end record; an answer without the end record is
// incomplete and counts as a failed lookup.
namespace {

struct WireRecord {
    uint32_t length;
    uint32_t reserved;
    sockaddr_storage storage;
};
constexpr uint32_t kEndRecord = UINT32_MAX;

// The filter is single-threaded when it forks, so the resolver may run here;
// the child leaves with _exit so that no stdio buffer or exit handler of the
// parent runs twice.
[[noreturn]] void runLookupChild(const char* hostName, int fd, HostLookupFunction lookup)
{
    signal(SIGPIPE, SIG_DFL);
    signal(SIGTERM, SIG_DFL);

    addrinfo* answer = nullptr;
    if (lookup(hostName, &answer) != 0) _exit(1);

    uint32_t count = 0;
    for (const addrinfo* ai = answer; ai != nullptr && count < kMaxAddresses; ai = ai->ai_next) {
        WireRecord record{};
        if (ai->ai_addr != nullptr && ai->ai_addrlen <= sizeof record.storage) {
            record.length = static_cast<uint32_t>(ai->ai_addrlen);
            std::memcpy(&record.storage, ai->ai_addr, ai->ai_addrlen);
        }
        if (!job::WriteAll(fd, &record, sizeof record)) _exit(1);
        ++count;
    }
    WireRecord end{};
    end.length = kEndRecord;
    _exit(job::WriteAll(fd, &end, sizeof end) ? 0 : 1);
}

using Clock = std::chrono::steady_clock;

// Reads the child's answer until it closes the pipe; false on the time limit,
// a read error or an answer larger than any complete one.
bool readAnswer(int fd, Clock::time_point deadline, std::vector<unsigned char>* answer)
{
    constexpr size_t kMaxAnswer = (kMaxAddresses + 1) * sizeof(WireRecord);
    unsigned char chunk[4096];
    for (;;) {
        // Rounded up: a wait cut short by a fraction of a millisecond would
        // give up before the limit.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        // A cancelled job stops waiting at once.
        if (left <= 0 || job::Cancelled()) return false;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(std::min<long long>(left, 100)));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) continue;
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        if (answer->size() + static_cast<size_t>(n) > kMaxAnswer) return false;
        answer->insert(answer->end(), chunk, chunk + n);
    }
}

bool decodeAnswer(const std::vector<unsigned char>& answer, AddressList* addresses)
{
    if (answer.empty() || answer.size() % sizeof(WireRecord) != 0) return false;
    const size_t count = answer.size() / sizeof(WireRecord);
    for (size_t i = 0; i < count; ++i) {
        WireRecord record;
        std::memcpy(&record, answer.data() + i * sizeof record, sizeof record);
        if (record.length == kEndRecord) return i + 1 == count;
        ResolvedAddress entry;
        entry.storage = record.storage;
        entry.length = static_cast<socklen_t>(record.length);
        addresses->push_back(entry);
    }
    return false;
}

}  // namespace

// The child that resolves and the pipe it answers on; stopped (if still
// running) and reaped when it goes away.
class LookupChild {
public:
    LookupChild() = default;
    ~LookupChild() { stop(); }
    LookupChild(const LookupChild&) = delete;
    LookupChild& operator=(const LookupChild&) = delete;

    // False when the child could not be started.
    bool start(const char* hostName, HostLookupFunction lookup)
    {
        HOST_CHECK(hostName != NULL);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        pid_ = fork();
        if (pid_ < 0) {
            close(fds[0]);
            close(fds[1]);
            return false;
        }
        if (pid_ == 0) {
            close(fds[0]);
            runLookupChild(hostName, fds[1], lookup);
        }
        close(fds[1]);
        fd_ = fds[0];
        return true;
    }

    int fd() const { return fd_; }

    void stop()
    {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
        if (pid_ > 0) {
            // Until it is reaped the child's id cannot be reused, so this
            // never hits another process.
            kill(pid_, SIGKILL);
            while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
};

namespace {

// The child's answer by the deadline, decoded; false when it did not come
// complete in time.
bool collectAnswer(LookupChild& child, Clock::time_point deadline, AddressList* addresses)
{
    std::vector<unsigned char> answer;
    const bool complete = readAnswer(child.fd(), deadline, &answer);
    child.stop();
    if (complete && decodeAnswer(answer, addresses)) return true;
    addresses->clear();
    return false;
}

bool lookupWanted(const std::string& hostName)
{
    for (unsigned char c : hostName)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

int LookupAllAddresses(const char* hostName, addrinfo** answer)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    // One entry per address, as a host resolution lists them.
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(hostName, nullptr, &hints, answer);
}

bool ResolveHostAddresses(const char* hostName, AddressList* addresses, int timeoutMs,
                          HostLookupFunction lookup)
{
    if (hostName == nullptr || addresses == nullptr) return false;
    addresses->clear();
    LookupChild child;
    if (!child.start(hostName, lookup != nullptr ? lookup : LookupAllAddresses)) return false;
    return collectAnswer(child, Clock::now() + std::chrono::milliseconds(timeoutMs), addresses);
}

namespace {

// The address for hostName, and whether the resolver answered at all.
std::string lookupHostAddress(const std::string& hostName, const HostServices& services, bool* answered)
{
    *answered = false;
    if (!lookupWanted(hostName)) return {};
    AddressList addresses;
    *answered = services.resolver
                    ? services.resolver(hostName.c_str(), &addresses)
                    : ResolveHostAddresses(hostName.c_str(), &addresses, kHostLookupTimeoutMs);
    return *answered ? SelectHostAddress(addresses, hostName.c_str()) : std::string();
}

}  // namespace

std::string LookupHostAddress(const std::string& hostName, const HostServices& services)
{
    bool answered = false;
    return lookupHostAddress(hostName, services, &answered);
}

HostIdentityLookup::HostIdentityLookup(const HostServices& services) : services_(services)
{
    const std::optional<std::string> read = readHostName(services);
    utf8Name_ = hostNameFor(read, true);
    codeSetName_ = hostNameFor(read, false);
    // Only a long name differs between the two; it is looked up when known
    // which one the job carries.
    if (utf8Name_ != codeSetName_ || services_.resolver || !lookupWanted(utf8Name_)) return;
    deadline_ = Clock::now() + std::chrono::milliseconds(kHostLookupTimeoutMs);
    child_ = std::make_unique<LookupChild>();
    if (!child_->start(utf8Name_.c_str(), LookupAllAddresses)) child_.reset();
}

HostIdentityLookup::~HostIdentityLookup() = default;

HostIdentity HostIdentityLookup::finish(bool utf8Mode, bool needAddress)
{
    HostIdentity host;
    host.name = utf8Mode ? utf8Name_ : codeSetName_;
    if (!needAddress) {
        child_.reset();
        return host;
    }
    bool answered = false;
    if (child_) {
        AddressList addresses;
        answered = collectAnswer(*child_, deadline_, &addresses);
        if (answered) host.address = SelectHostAddress(addresses, host.name.c_str());
        child_.reset();
    } else {
        host.address = lookupHostAddress(host.name, services_, &answered);
    }
    // A host with loopback addresses only has none to give, which is no
    // fault; a lookup that failed is worth a line for whoever debugs.
    if (!answered)
        job::Logf(job::Severity::Debug,
                  "The address lookup for this host (%s) %s; the job carries no address (HOAD)",
                  host.name.c_str(),
                  lookupWanted(host.name) ? "failed or timed out" : "was not made: the name is not ASCII");
    return host;
}

HostIdentity ResolveHostIdentity(bool utf8Mode, bool needAddress, const HostServices& services)
{
    return HostIdentityLookup(services).finish(utf8Mode, needAddress);
}

}  // namespace pdftopjl
