#include "loopback_guard.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<std::uint64_t> loopbackConnects{0};
std::atomic<std::uint64_t> refusedConnects{0};

bool IsLoopback(const sockaddr* address, socklen_t length) {
    if (address == nullptr) return false;
    if (address->sa_family == AF_UNIX) return true;
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6 && length >= sizeof(sockaddr_in6)) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    }
    return false;
}

// The C library's own function of that name.
template <typename Function>
Function Next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (found == nullptr) {
        std::fprintf(stderr, "loopback guard: no %s to forward to\n", name);
        std::abort();
    }
    return reinterpret_cast<Function>(found);
}

}  // namespace

namespace fuzz {

std::uint64_t LoopbackConnects() {
    return loopbackConnects.load();
}
std::uint64_t RefusedConnects() {
    return refusedConnects.load();
}

}  // namespace fuzz

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    static const auto next = Next<int (*)(int, const sockaddr*, socklen_t)>("connect");
    if (!IsLoopback(address, length)) {
        ++refusedConnects;
        errno = ENETUNREACH;
        return -1;
    }
    ++loopbackConnects;
    return next(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = Next<GetAddrInfo>("getaddrinfo");
    addrinfo numericOnly{};
    if (hints != nullptr) numericOnly = *hints;
    numericOnly.ai_flags |= AI_NUMERICHOST;
    return next(node, service, &numericOnly, result);
}
