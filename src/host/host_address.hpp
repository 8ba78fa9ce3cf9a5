// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The job's origin: the local host name and one numeric address of it.
namespace pdftopjl {

// A hung resolver must not hold up the print queue: after this long the
// lookup counts as failed.
inline constexpr int kHostLookupTimeoutMs = 3000;

// One socket address as the resolver delivered it.
struct ResolvedAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};
using AddressList = std::vector<ResolvedAddress>;

// The platform pieces, replaceable so that callers can be tested without the
// machine's name or network: gethostname-shaped, and a resolver that answers
// true with the addresses in the resolver's order.
using HostNameSource = std::function<int(char* name, size_t size)>;
using AddressResolver = std::function<bool(const char* hostName, AddressList* addresses)>;

struct HostServices {
    HostNameSource hostName;   // empty: gethostname
    AddressResolver resolver;  // empty: the system resolver with kHostLookupTimeoutMs
};

// The local host name, at most 96 bytes (empty when it cannot be read).  For
// a printer that takes UTF-8 a longer name is cut to 32 UTF-16 units.
std::string LocalHostName(bool utf8Mode, const HostServices& services = {});

// The address a job reports for hostName, chosen from the resolver's answer:
// the first IPv4 address, else the last IPv6 address that is not fe80::1;
// loopback addresses (127.0.0.0/8, ::1) are never chosen.  Empty when none
// qualifies or the lookup failed.
std::string LookupHostAddress(const std::string& hostName, const HostServices& services = {});

// 127.0.0.0/8, ::1, and IPv4-mapped 127.x, as numeric text.
bool IsLoopbackAddress(std::string_view text);

// The choice above over a resolved list.
std::string SelectHostAddress(const AddressList& addresses, const char* hostName);

// What the lookup child runs: getaddrinfo-shaped, all families.
using HostLookupFunction = int (*)(const char* hostName, addrinfo** answer);
int LookupAllAddresses(const char* hostName, addrinfo** answer);

// The system resolver with a time limit: true and the addresses in the
// resolver's order when the lookup answered in time.  The lookup runs in a
// child process that never outlives the call.
bool ResolveHostAddresses(const char* hostName, AddressList* addresses, int timeoutMs,
                          HostLookupFunction lookup = LookupAllAddresses);

// The job's origin, looked up once per job.
struct HostIdentity {
    std::string name;
    std::string address;  // empty when not looked up or not found
};

class LookupChild;

// The same, started early: the name is read and its address lookup set going
// at once, before the job's settings are known, so that it runs while they
// are gathered and the document is staged.  finish() takes what the job needs
// and waits for what is left of the time limit (a cancel ends the wait); a
// lookup not needed or not finished is stopped.
class HostIdentityLookup {
public:
    explicit HostIdentityLookup(const HostServices& services = {});
    ~HostIdentityLookup();
    HostIdentityLookup(const HostIdentityLookup&) = delete;
    HostIdentityLookup& operator=(const HostIdentityLookup&) = delete;

    HostIdentity finish(bool utf8Mode, bool needAddress);

private:
    HostServices services_;
    std::string utf8Name_, codeSetName_;
    std::chrono::steady_clock::time_point deadline_;
    std::unique_ptr<LookupChild> child_;  // the lookup started early, if any
};

// The local host name and, when the job needs one, its address.
HostIdentity ResolveHostIdentity(bool utf8Mode, bool needAddress, const HostServices& services = {});

}  // namespace pdftopjl
