// The POSIX socket calls of the scripted servers on Winsock too, where a socket fits an int, no
// send raises SIGPIPE, no handle is inherited, and WSAStartup comes first.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>

namespace testing_support {

constexpr int MSG_NOSIGNAL = 0, SOCK_CLOEXEC = 0, SOCK_NONBLOCK = 1 << 30;
constexpr int SHUT_WR = SD_SEND, SHUT_RDWR = SD_BOTH;

inline int WithMode(SOCKET fd, u_long nonBlocking) {  // -1 for no socket
    if (fd == INVALID_SOCKET) return -1;
    ioctlsocket(fd, FIONBIO, &nonBlocking);
    return static_cast<int>(fd);
}
inline int socket(int family, int type, int protocol) {
    static const int started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) return -1;
    return WithMode(::socket(family, type & ~SOCK_NONBLOCK, protocol), (type & SOCK_NONBLOCK) != 0);
}
inline int accept4(int listening, sockaddr* address, int* length, int) {
    return WithMode(::accept(listening, address, length), 0);  // not the listening one's mode
}
inline int close(int fd) {
    return closesocket(fd);
}
inline int poll(pollfd* fds, unsigned count, int timeout) {
    return WSAPoll(fds, count, timeout);
}

}  // namespace testing_support
#else
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif
using SocketOf = decltype(pollfd::fd);  // int, or Winsock's SOCKET, for a pollfd
