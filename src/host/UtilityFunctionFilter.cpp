#include "host/UtilityFunctionFilter.hpp"

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
#include <string_view>

#include "driver/output.hpp"
#include "encoding/unicode.hpp"
#include "settings/gather.hpp"

namespace {

constexpr char _IPv4_LocalHost_sign_[] = "127.0.0.1";
constexpr char _IPv6_LocalHost_sign_[] = "fe80::1";

constexpr size_t kHostNameSize = 97;
constexpr size_t kHostNameReadSize = 256;
constexpr size_t kUTF8HostNameUnits = 32;
constexpr size_t kAddressTextSize = 46;

// Enough for any real host; a longer answer is cut, not refused.
constexpr uint32_t kMaxAddresses = 64;

HostNameSource gHostNameSource;
AddressResolver gAddressResolver;

[[noreturn]] void consistencyCheckFailed(const char* function, int line, const char* expression)
{
    char text[512];
    snprintf(text, sizeof text,
             "Assertion failed: (%s), function %s, file UtilityFunctionFilter, line %d.\n",
             expression, function, line);
    Utlfputs(text, stderr);
    abort();
}

}  // namespace

#define HOST_CHECK(expression) \
    ((expression) ? (void)0 : consistencyCheckFailed(__func__, __LINE__, #expression))

// Where the address selection writes; set by getHostAddress for one lookup.
static char* outString = nullptr;
static int32_t outStringLen = 0;
static int32_t result = 0;

void SetHostNameSource(HostNameSource source) { gHostNameSource = std::move(source); }

void SetAddressResolver(AddressResolver resolver) { gAddressResolver = std::move(resolver); }

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

int readHostName(char* name, size_t size)
{
    if (gHostNameSource) return gHostNameSource(name, size);
    return gethostname(name, size);
}

}  // namespace

void getHostName(char* hostName)
{
    if (hostName == nullptr) return;
    std::memset(hostName, 0, kHostNameSize);

    char name[kHostNameReadSize] = {};
    if (readHostName(name, sizeof name - 1) != 0) return;
    name[sizeof name - 1] = '\0';

    if (PPDIsUTF8Mode()) cutToUTF16Units(name, sizeof name, kUTF8HostNameUnits);
    std::memcpy(hostName, name, strnlen(name, kHostNameSize - 1));
}

namespace {

void copyAddressText(const char* text)
{
    if (outString == nullptr || outStringLen < 1) return;
    std::strncpy(outString, text, static_cast<size_t>(outStringLen) - 1);
}

}  // namespace

void MyPrintAddressArray(const AddressList* addresses, const char* hostName)
{
    HOST_CHECK(hostName != NULL);
    if (addresses == nullptr || addresses->empty()) return;

    for (const ResolvedAddress& entry : *addresses) {
        const sockaddr* addr =
            entry.length != 0 ? reinterpret_cast<const sockaddr*>(&entry.storage) : NULL;
        HOST_CHECK(addr != NULL);

        char text[kAddressTextSize] = {};
        const socklen_t length =
            entry.length < sizeof entry.storage ? entry.length : sizeof entry.storage;
        if (getnameinfo(addr, length, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0) {
            result = 0;
            continue;
        }
        if (std::strchr(text, '.') != nullptr && std::strcmp(text, _IPv4_LocalHost_sign_) != 0) {
            copyAddressText(text);
            result = 1;
            return;
        }
        if (std::strchr(text, ':') != nullptr && std::strstr(text, _IPv6_LocalHost_sign_) == nullptr)
            copyAddressText(text);
        result = 1;
    }
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

bool writeAll(int fd, const void* data, size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(fd, bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

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
        if (!writeAll(fd, &record, sizeof record)) _exit(1);
        ++count;
    }
    WireRecord end{};
    end.length = kEndRecord;
    _exit(writeAll(fd, &end, sizeof end) ? 0 : 1);
}

// Reads the child's answer until it closes the pipe; false on the time limit,
// a read error or an answer larger than any complete one.
bool readAnswer(int fd, int timeoutMs, std::vector<unsigned char>* answer)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    constexpr size_t kMaxAnswer = (kMaxAddresses + 1) * sizeof(WireRecord);
    unsigned char chunk[4096];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        pollfd pfd{fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return false;
        if (ready == 0) return false;
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

int LookupAllAddresses(const char* hostName, addrinfo** answer)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    // One entry per address, as a host resolution lists them.
    hints.ai_socktype = SOCK_STREAM;
    return getaddrinfo(hostName, nullptr, &hints, answer);
}

bool MyResolveNameToAddress(const char* hostName, HostLookup* host, HostLookupFunction lookup)
{
    HOST_CHECK(hostName != NULL);
    HOST_CHECK(host != NULL);
    if (lookup == nullptr) lookup = LookupAllAddresses;

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        close(fds[0]);
        runLookupChild(hostName, fds[1], lookup);
    }
    close(fds[1]);
    host->pid = pid;
    host->fd = fds[0];
    return true;
}

void MyHostCleanup(HostLookup* host)
{
    HOST_CHECK(host != NULL);
    if (host->fd >= 0) close(host->fd);
    host->fd = -1;
    if (host->pid > 0) {
        // Until it is reaped the child's id cannot be reused, so this never
        // hits another process.
        kill(host->pid, SIGKILL);
        while (waitpid(host->pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    host->pid = -1;
}

bool ResolveHostAddresses(const char* hostName, AddressList* addresses, int timeoutMs,
                          HostLookupFunction lookup)
{
    if (hostName == nullptr || addresses == nullptr) return false;
    addresses->clear();
    HostLookup host;
    if (!MyResolveNameToAddress(hostName, &host, lookup)) return false;
    std::vector<unsigned char> answer;
    const bool complete = readAnswer(host.fd, timeoutMs, &answer);
    MyHostCleanup(&host);
    if (complete && decodeAnswer(answer, addresses)) return true;
    addresses->clear();
    return false;
}

int getHostAddress(const char* hostName, char* buffer, int length)
{
    result = 0;
    if (hostName == nullptr || buffer == nullptr || length < 1) return 0;
    for (const char* p = hostName; *p != '\0'; ++p)
        if (static_cast<unsigned char>(*p) >= 0x80) return 0;

    outString = buffer;
    outStringLen = length;
    std::memset(buffer, 0, static_cast<size_t>(length));

    AddressList addresses;
    const bool resolved = gAddressResolver
                              ? gAddressResolver(hostName, &addresses)
                              : ResolveHostAddresses(hostName, &addresses, kHostLookupTimeoutMs);
    if (resolved) MyPrintAddressArray(&addresses, hostName);
    return result;
}
