#include "answer_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {
namespace {

// Our own requests are small; anything beyond these is not waited for.
constexpr std::size_t kLongestHead = std::size_t{64} * 1024;
constexpr std::size_t kLongestBody = std::size_t{1024} * 1024;
constexpr int kHeadWaitMs = 1000;
constexpr int kBodyWaitMs = 500;
constexpr int kSendWaitMs = 1000;
// After the answer: long enough for the client to read it and close first, so that unread
// request bytes never turn the close into a reset; short enough to keep inputs fast.
constexpr int kCloseWaitMs = 100;

[[noreturn]] void Die(const char* what) {
    std::perror(what);
    std::abort();
}

// Waits up to `waitMs` for bytes and appends them; false on close, error or time-out.
bool ReadSome(int fd, std::string* into, int waitMs) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, waitMs) <= 0) return false;
    char buffer[4096];
    const ssize_t count = ::recv(fd, buffer, sizeof buffer, 0);
    if (count <= 0) return false;
    into->append(buffer, static_cast<std::size_t>(count));
    return true;
}

std::size_t AnnouncedLength(std::string_view head) {
    std::string lower(head);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    constexpr std::string_view kName = "\r\ncontent-length:";
    const std::size_t at = lower.find(kName);
    if (at == std::string::npos) return 0;
    const unsigned long long length = std::strtoull(lower.c_str() + at + kName.size(), nullptr, 10);
    return length < kLongestBody ? static_cast<std::size_t>(length) : kLongestBody;
}

// False when the client closed or stalled before its head was complete.
bool ReadRequest(int fd) {
    std::string request;
    std::size_t headEnd;
    while ((headEnd = request.find("\r\n\r\n")) == std::string::npos) {
        if (request.size() > kLongestHead || !ReadSome(fd, &request, kHeadWaitMs)) return false;
    }
    const std::size_t total =
        headEnd + 4 + AnnouncedLength(std::string_view(request).substr(0, headEnd));
    while (request.size() < total) {
        if (!ReadSome(fd, &request, kBodyWaitMs)) break;  // answered all the same
    }
    return true;
}

void SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        pollfd ready{fd, POLLOUT, 0};
        if (::poll(&ready, 1, kSendWaitMs) <= 0) return;
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
}

}  // namespace

AnswerServer::AnswerServer() : listener_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (!listener_.valid()) Die("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        Die("bind");
    }
    if (::listen(listener_.get(), 64) != 0) Die("listen");
    socklen_t length = sizeof address;
    if (::getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        Die("getsockname");
    }
    port_ = ntohs(address.sin_port);

    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0) Die("pipe2");
    wakeRead_ = Fd(wake[0]);
    wakeWrite_ = Fd(wake[1]);
    thread_ = std::thread([this] { Serve(); });
}

AnswerServer::~AnswerServer() {
    const char stop = 's';
    if (::write(wakeWrite_.get(), &stop, 1) != 1) Die("write");
    thread_.join();
}

void AnswerServer::SetAnswer(std::string answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer_ = std::move(answer);
}

std::string AnswerServer::Answer() {
    std::lock_guard<std::mutex> lock(mutex_);
    return answer_;
}

void AnswerServer::Serve() {
    for (;;) {
        pollfd ready[2] = {{listener_.get(), POLLIN, 0}, {wakeRead_.get(), POLLIN, 0}};
        if (::poll(ready, 2, -1) < 0) {
            if (errno == EINTR) continue;
            Die("poll");
        }
        if (ready[1].revents != 0) return;
        Fd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.valid()) AnswerConnection(connection.get());
    }
}

void AnswerServer::AnswerConnection(int connection) {
    if (!ReadRequest(connection)) return;
    SendAll(connection, Answer());
    ::shutdown(connection, SHUT_WR);
    std::string ignored;
    while (ReadSome(connection, &ignored, kCloseWaitMs) && ignored.size() < kLongestBody) {
    }
}

}  // namespace fuzz
