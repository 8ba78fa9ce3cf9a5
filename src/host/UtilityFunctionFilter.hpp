#pragma once

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <vector>

// The local host name, at most 96 bytes, into a 97-byte buffer (empty when it
// cannot be read).  For a printer whose PPD says "UTF-8" a longer name is cut
// to 32 UTF-16 units.
void getHostName(char* hostName);

// One numeric address of hostName into outString (outStringLen bytes).
// Returns 1 or 0 as the address selection decides.
int getHostAddress(const char* hostName, char* outString, int outStringLen);

// A hung resolver must not hold up the print queue: after this long the
// lookup counts as failed.
inline constexpr int kHostLookupTimeoutMs = 3000;

// One socket address as the resolver delivered it.
struct ResolvedAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;
};
using AddressList = std::vector<ResolvedAddress>;

// The address selection over a resolved list; writes into the buffer given
// to getHostAddress and sets its result.
void MyPrintAddressArray(const AddressList* addresses, const char* hostName);

// What the lookup child runs: getaddrinfo-shaped, all families.
using HostLookupFunction = int (*)(const char* hostName, addrinfo** answer);
int LookupAllAddresses(const char* hostName, addrinfo** answer);

// A lookup in flight: the child that resolves and the pipe it answers on.
struct HostLookup {
    pid_t pid = -1;
    int fd = -1;
};

// Starts the lookup of hostName in a child process; false when it could not
// be started.
bool MyResolveNameToAddress(const char* hostName, HostLookup* host,
                            HostLookupFunction lookup = LookupAllAddresses);

// Stops (if still running) and reaps the child and closes the pipe.
void MyHostCleanup(HostLookup* host);

// The system resolver with a time limit: true and the addresses in the
// resolver's order when the lookup answered in time.  No child outlives it.
bool ResolveHostAddresses(const char* hostName, AddressList* addresses, int timeoutMs,
                          HostLookupFunction lookup = LookupAllAddresses);

// Replaceable platform pieces, so that callers can be tested without
// depending on the machine's name or network.  An empty function restores
// the system's (gethostname, ResolveHostAddresses with kHostLookupTimeoutMs).
using HostNameSource = std::function<int(char* name, size_t size)>;
using AddressResolver = std::function<bool(const char* hostName, AddressList* addresses)>;
void SetHostNameSource(HostNameSource source);
void SetAddressResolver(AddressResolver resolver);
