#include "fuzz_support.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

namespace fuzz {
namespace {

// The C library's own function of that name.
template <typename Function>
Function Next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    FUZZ_CHECK(found != nullptr);
    return reinterpret_cast<Function>(found);
}

bool IsLoopback(const sockaddr* address, socklen_t length) {
    if (address == nullptr) return false;
    if (address->sa_family == AF_UNIX) return true;
    if (address->sa_family == AF_INET && length >= sizeof(sockaddr_in)) {
        return (ntohl(reinterpret_cast<const sockaddr_in*>(address)->sin_addr.s_addr) >> 24) == 127;
    }
    return false;
}

}  // namespace

std::atomic<std::uint64_t> loopbackConnects{0}, refusedConnects{0};

}  // namespace fuzz

extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    static const auto next = fuzz::Next<int (*)(int, const sockaddr*, socklen_t)>("connect");
    if (!fuzz::IsLoopback(address, length)) {
        ++fuzz::refusedConnects;
        errno = ENETUNREACH;
        return -1;
    }
    ++fuzz::loopbackConnects;
    return next(fd, address, length);
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    using GetAddrInfo = int (*)(const char*, const char*, const addrinfo*, addrinfo**);
    static const auto next = fuzz::Next<GetAddrInfo>("getaddrinfo");
    addrinfo numericOnly{};
    if (hints != nullptr) numericOnly = *hints;
    numericOnly.ai_flags |= AI_NUMERICHOST;
    return next(node, service, &numericOnly, result);
}
