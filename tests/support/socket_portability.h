// The few socket calls the scripted servers make, the same on POSIX and on Winsock, where a
// socket fits an int too and no send raises SIGPIPE.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
constexpr int kNoSignal = 0, kShutWrite = SD_SEND, kShutBoth = SD_BOTH;
#else
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
constexpr int kNoSignal = MSG_NOSIGNAL, kShutWrite = SHUT_WR, kShutBoth = SHUT_RDWR;
#endif

namespace testing_support {

#ifdef _WIN32
inline void SetBlocking(int fd, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ioctlsocket(static_cast<SOCKET>(fd), FIONBIO, &nonBlocking);
}
inline int OpenSocket(bool blocking = true) {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    const int fd = started ? static_cast<int>(socket(AF_INET, SOCK_STREAM, 0)) : -1;
    if (fd >= 0) SetBlocking(fd, blocking);
    return fd;
}
inline int AcceptSocket(int listening) {  // a socket accepted here would inherit non-blocking
    const int fd = static_cast<int>(accept(static_cast<SOCKET>(listening), nullptr, nullptr));
    if (fd >= 0) SetBlocking(fd, true);
    return fd;
}
inline void CloseSocket(int fd) {
    closesocket(static_cast<SOCKET>(fd));
}
inline int PollSockets(pollfd* fds, unsigned count, int timeout) {
    return WSAPoll(fds, count, timeout);
}
#else
inline int OpenSocket(bool blocking = true) {
    return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
}
inline int AcceptSocket(int listening) {
    return accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
}
inline void CloseSocket(int fd) {
    close(fd);
}
inline int PollSockets(pollfd* fds, unsigned count, int timeout) {
    return poll(fds, count, timeout);
}
#endif
inline pollfd PollIn(int fd) {
    pollfd wanted{};
    wanted.fd = fd;
    wanted.events = POLLIN;
    return wanted;
}

}  // namespace testing_support
