// SPDX-License-Identifier: Apache-2.0
// PAPPL 1.3 browses and resolves DNS-SD services with the avahi client it
// made at start-up, without checking that it has one: when avahi-daemon (or
// the system bus) is not there, that client is null, and avahi aborts the
// whole server on its "client" assertion (the Add Printer page, `devices`,
// opening a dnssd: device).  These definitions in the executable come before
// libavahi-client's: with no client they fail as avahi does for other
// errors, which PAPPL handles; with one they hand over to avahi.
#include <avahi-client/lookup.h>
#include <dlfcn.h>

#include <cerrno>

namespace {

// Avahi's own `Function`, or a failure (null, errno set) without a client.
template <auto Function, typename... Args>
auto forward(const char* name, AvahiClient* client, Args... args)
{
    static auto* real = reinterpret_cast<decltype(Function)>(dlsym(RTLD_NEXT, name));
    if (client == nullptr || real == nullptr) {
        errno = ENOTCONN;
        return decltype(real(client, args...)){};
    }
    return real(client, args...);
}

}  // namespace

extern "C" {

AvahiServiceBrowser* avahi_service_browser_new(AvahiClient* client, AvahiIfIndex interface,
                                               AvahiProtocol protocol, const char* type, const char* domain,
                                               AvahiLookupFlags flags, AvahiServiceBrowserCallback callback,
                                               void* userdata)
{
    return forward<&avahi_service_browser_new>("avahi_service_browser_new", client, interface, protocol, type,
                                                domain, flags, callback, userdata);
}

AvahiServiceResolver* avahi_service_resolver_new(AvahiClient* client, AvahiIfIndex interface,
                                                 AvahiProtocol protocol, const char* name, const char* type,
                                                 const char* domain, AvahiProtocol aprotocol,
                                                 AvahiLookupFlags flags, AvahiServiceResolverCallback callback,
                                                 void* userdata)
{
    return forward<&avahi_service_resolver_new>("avahi_service_resolver_new", client, interface, protocol, name,
                                                 type, domain, aprotocol, flags, callback, userdata);
}

AvahiRecordBrowser* avahi_record_browser_new(AvahiClient* client, AvahiIfIndex interface, AvahiProtocol protocol,
                                             const char* name, uint16_t clazz, uint16_t type,
                                             AvahiLookupFlags flags, AvahiRecordBrowserCallback callback,
                                             void* userdata)
{
    return forward<&avahi_record_browser_new>("avahi_record_browser_new", client, interface, protocol, name, clazz,
                                               type, flags, callback, userdata);
}

}  // extern "C"
