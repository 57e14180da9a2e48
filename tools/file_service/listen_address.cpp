#include "listen_address.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <memory>

namespace {

struct AddressListFreer {
    void operator()(addrinfo* list) const { freeaddrinfo(list); }
};

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(ipv4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
        return IN6_IS_ADDR_LOOPBACK(&ipv6->sin6_addr);
    }
    return false;
}

}  // namespace

bool IsLoopbackOnly(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;  // as the server resolves it: "" is the wildcard
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) return false;
    std::unique_ptr<addrinfo, AddressListFreer> list(found);
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (!IsLoopback(entry->ai_addr)) return false;
    }
    return found != nullptr;
}
