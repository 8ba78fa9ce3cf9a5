// SPDX-License-Identifier: Apache-2.0
#pragma once
// Stand-ins for the resolver, for tests of the address selection and of the
// owner block.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/host_address.hpp"

namespace hostfakes {

using pdftopjl::AddressList;
using pdftopjl::ResolvedAddress;

// A socket address from its numeric text (IPv6 with an optional scope id);
// the empty text gives one that getnameinfo refuses (shorter than IPv4).
inline ResolvedAddress Address(const char* text, uint32_t scope = 0)
{
    ResolvedAddress a;
    if (std::strchr(text, ':') != nullptr) {
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&a.storage);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_scope_id = scope;
        EXPECT_EQ(inet_pton(AF_INET6, text, &sin6->sin6_addr), 1) << text;
        a.length = sizeof *sin6;
    } else if (*text != '\0') {
        auto* sin = reinterpret_cast<sockaddr_in*>(&a.storage);
        sin->sin_family = AF_INET;
        EXPECT_EQ(inet_pton(AF_INET, text, &sin->sin_addr), 1) << text;
        a.length = sizeof *sin;
    } else {
        a.storage.ss_family = AF_INET;
        a.length = 4;
    }
    return a;
}

// What the fake resolver answers, and the names it was asked for.
struct FakeAnswer {
    AddressList addresses;
    bool resolves = true;
    std::vector<std::string> askedFor;
};

inline FakeAnswer& Answer()
{
    static FakeAnswer answer;
    return answer;
}

// The fake resolver, starting with an empty, successful answer.
inline pdftopjl::AddressResolver UseFakeResolver()
{
    Answer() = FakeAnswer{};
    return [](const char* hostName, AddressList* addresses) {
        Answer().askedFor.emplace_back(hostName);
        *addresses = Answer().addresses;
        return Answer().resolves;
    };
}

}  // namespace hostfakes
