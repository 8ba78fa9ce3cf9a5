// SPDX-License-Identifier: Apache-2.0
// libcups linked into the filter from its archive brings calls into Avahi
// (printer discovery) and GSSAPI (Kerberos authentication), which the filter
// never reaches: it only reads the PPD, options and files.  Loading those
// libraries and the dozen they need costs a small job a fifth of its time,
// so they are loaded only if a call ever comes, and the call goes on to the
// real function; a library that cannot be loaded answers as an absent
// service does.
#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/simple-watch.h>
#include <avahi-common/strlst.h>
#include <dlfcn.h>

#include <cstdint>

namespace {

constexpr char kAvahiClient[] = "libavahi-client.so.3";
constexpr char kAvahiCommon[] = "libavahi-common.so.3";
constexpr char kGssapi[] = "libgssapi_krb5.so.2";

// The function `name` of `library`, loaded now; null when it cannot be.
template <typename Function>
Function loaded(const char* library, const char* name)
{
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    return handle != nullptr ? reinterpret_cast<Function>(dlsym(handle, name)) : nullptr;
}

}  // namespace

#define REAL(library, name) static const auto real = loaded<decltype(&name)>(library, #name)

extern "C" {

AvahiClient* avahi_client_new(const AvahiPoll* poll, AvahiClientFlags flags,
                              AvahiClientCallback callback, void* userdata, int* error)
{
    REAL(kAvahiClient, avahi_client_new);
    if (real != nullptr) return real(poll, flags, callback, userdata, error);
    if (error != nullptr) *error = AVAHI_ERR_NO_DAEMON;
    return nullptr;
}

void avahi_client_free(AvahiClient* client)
{
    REAL(kAvahiClient, avahi_client_free);
    if (real != nullptr) real(client);
}

AvahiServiceResolver* avahi_service_resolver_new(AvahiClient* client, AvahiIfIndex interface,
                                                 AvahiProtocol protocol, const char* name,
                                                 const char* type, const char* domain,
                                                 AvahiProtocol aprotocol, AvahiLookupFlags flags,
                                                 AvahiServiceResolverCallback callback, void* userdata)
{
    REAL(kAvahiClient, avahi_service_resolver_new);
    return real != nullptr ? real(client, interface, protocol, name, type, domain, aprotocol, flags,
                                  callback, userdata)
                           : nullptr;
}

int avahi_service_resolver_free(AvahiServiceResolver* resolver)
{
    REAL(kAvahiClient, avahi_service_resolver_free);
    return real != nullptr ? real(resolver) : AVAHI_ERR_NO_DAEMON;
}

void avahi_free(void* p)
{
    REAL(kAvahiCommon, avahi_free);
    if (real != nullptr) real(p);
}

AvahiSimplePoll* avahi_simple_poll_new(void)
{
    REAL(kAvahiCommon, avahi_simple_poll_new);
    return real != nullptr ? real() : nullptr;
}

void avahi_simple_poll_free(AvahiSimplePoll* s)
{
    REAL(kAvahiCommon, avahi_simple_poll_free);
    if (real != nullptr) real(s);
}

const AvahiPoll* avahi_simple_poll_get(AvahiSimplePoll* s)
{
    REAL(kAvahiCommon, avahi_simple_poll_get);
    return real != nullptr ? real(s) : nullptr;
}

int avahi_simple_poll_iterate(AvahiSimplePoll* s, int sleepTime)
{
    REAL(kAvahiCommon, avahi_simple_poll_iterate);
    return real != nullptr ? real(s, sleepTime) : -1;
}

void avahi_simple_poll_quit(AvahiSimplePoll* s)
{
    REAL(kAvahiCommon, avahi_simple_poll_quit);
    if (real != nullptr) real(s);
}

void avahi_simple_poll_set_func(AvahiSimplePoll* s, AvahiPollFunc func, void* userdata)
{
    REAL(kAvahiCommon, avahi_simple_poll_set_func);
    if (real != nullptr) real(s, func, userdata);
}

AvahiStringList* avahi_string_list_find(AvahiStringList* l, const char* key)
{
    REAL(kAvahiCommon, avahi_string_list_find);
    return real != nullptr ? real(l, key) : nullptr;
}

int avahi_string_list_get_pair(AvahiStringList* l, char** key, char** value, size_t* size)
{
    REAL(kAvahiCommon, avahi_string_list_get_pair);
    return real != nullptr ? real(l, key, value, size) : -1;
}

// GSSAPI as RFC 2744 gives it: handles are pointers, status words 32 bits.
using OM_uint32 = uint32_t;
struct gss_OID_desc {
    OM_uint32 length;
    void* elements;
};
using gss_OID = gss_OID_desc*;
struct gss_buffer_desc {
    size_t length;
    void* value;
};
using gss_buffer_t = gss_buffer_desc*;
using gss_name_t = void*;
using gss_ctx_id_t = void*;
using gss_cred_id_t = void*;
using gss_channel_bindings_t = void*;
constexpr OM_uint32 kGssFailure = 13u << 16;  // GSS_S_FAILURE

// The host-based service name type, 1.2.840.113554.1.2.1.4, as the library
// itself defines it.
static gss_OID_desc hostBasedService = {10, const_cast<char*>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x01\x04")};
gss_OID GSS_C_NT_HOSTBASED_SERVICE = &hostBasedService;

OM_uint32 gss_import_name(OM_uint32* minor, gss_buffer_t name, gss_OID type, gss_name_t* out)
{
    REAL(kGssapi, gss_import_name);
    if (real != nullptr) return real(minor, name, type, out);
    if (minor != nullptr) *minor = 0;
    return kGssFailure;
}

OM_uint32 gss_init_sec_context(OM_uint32* minor, gss_cred_id_t credentials, gss_ctx_id_t* context,
                               gss_name_t target, gss_OID mechanism, OM_uint32 flags,
                               OM_uint32 time, gss_channel_bindings_t bindings, gss_buffer_t input,
                               gss_OID* actualMechanism, gss_buffer_t output, OM_uint32* returnedFlags,
                               OM_uint32* timeReceived)
{
    REAL(kGssapi, gss_init_sec_context);
    if (real != nullptr)
        return real(minor, credentials, context, target, mechanism, flags, time, bindings, input,
                    actualMechanism, output, returnedFlags, timeReceived);
    if (minor != nullptr) *minor = 0;
    return kGssFailure;
}

OM_uint32 gss_delete_sec_context(OM_uint32* minor, gss_ctx_id_t* context, gss_buffer_t output)
{
    REAL(kGssapi, gss_delete_sec_context);
    if (real != nullptr) return real(minor, context, output);
    if (minor != nullptr) *minor = 0;
    return kGssFailure;
}

OM_uint32 gss_release_buffer(OM_uint32* minor, gss_buffer_t buffer)
{
    REAL(kGssapi, gss_release_buffer);
    if (real != nullptr) return real(minor, buffer);
    if (minor != nullptr) *minor = 0;
    return kGssFailure;
}

OM_uint32 gss_release_name(OM_uint32* minor, gss_name_t* name)
{
    REAL(kGssapi, gss_release_name);
    if (real != nullptr) return real(minor, name);
    if (minor != nullptr) *minor = 0;
    return kGssFailure;
}

}  // extern "C"
