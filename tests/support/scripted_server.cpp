#include "support/scripted_server.h"

#include <strings.h>
#ifdef __linux__
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <utility>

#include "support/portable_helpers.h"
#include "support/socket_portability.h"

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

// The scripted servers' sockets, left out of descriptor counts: made and closed under the lock,
// so a count under it sees each either here or closed.
std::mutex g_serverSocketsLock;
std::set<int> g_serverSockets;

template <typename Make>
int TrackedSocket(Make make) {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    const int fd = make();
    if (fd >= 0) g_serverSockets.insert(fd);
    return fd;
}

void CloseServerSocket(int fd) {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    g_serverSockets.erase(fd);
    close(fd);
}

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int BoundToFreePort(std::uint16_t& port, bool listening) {
    // Non-blocking: accept runs under the lock and must never wait there.
    const int fd = TrackedSocket(
        [] { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0); });
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        (listening && listen(fd, 64) != 0) ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        if (fd >= 0) CloseServerSocket(fd);
        throw std::runtime_error("no free loopback port: " + reason);
    }
    port = ntohs(address.sin_port);
    return fd;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    return first == std::string::npos
               ? ""
               : text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

// Reads what is available before `deadline`. False on end of stream, error or time-out.
bool ReadSome(int fd, std::string& into, Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd pfd{SocketOf(fd), POLLIN, 0};
    char buffer[16384];
    if (poll(&pfd, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) return false;
    const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    into.append(buffer, static_cast<std::size_t>(got));
    return true;
}

}  // namespace

std::uint16_t FreeLoopbackPort() {
    std::uint16_t port = 0;
    CloseServerSocket(BoundToFreePort(port, false));
    return port;
}

std::string ScriptedConnection::ReadRequest(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string::size_type headEnd;
    while ((headEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
        if (fd_ < 0 || !ReadSome(fd_, pending_, deadline)) return std::exchange(pending_, "");
    }
    const std::string length = ParseRequest(pending_.substr(0, headEnd)).Header("Content-Length");
    const std::size_t total = headEnd + 4 + std::strtoull(length.c_str(), nullptr, 10);
    while (pending_.size() < total && ReadSome(fd_, pending_, deadline)) {
    }
    std::string request = pending_.substr(0, total);
    pending_.erase(0, request.size());
    std::lock_guard<std::mutex> lock(owner_.mutex_);
    owner_.requests_.push_back(request);
    return request;
}

std::string ScriptedConnection::ReadUntilClosed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string received = std::exchange(pending_, "");
    while (fd_ >= 0 && ReadSome(fd_, received, deadline)) {
    }
    return received;
}

bool ScriptedConnection::Send(const std::string& bytes) {
    for (std::size_t sent = 0; fd_ >= 0 && sent < bytes.size();) {
        const ssize_t done = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done <= 0) return false;
        sent += static_cast<std::size_t>(done);
    }
    return fd_ >= 0;
}

bool ScriptedConnection::Trickle(const std::string& bytes, std::size_t piece,
                                 std::chrono::milliseconds pause) {
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        if (offset > 0) std::this_thread::sleep_for(pause);
        if (!Send(bytes.substr(offset, piece))) return false;
    }
    return true;
}

void ScriptedConnection::Close() {
    if (fd_ < 0) return;
    // Half-close and drain briefly: closing with unread input would send RST and could destroy
    // the answer before the peer has read it.
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(250);
    for (std::string discarded; ReadSome(fd_, discarded, deadline);) discarded.clear();
    Release();
}

void ScriptedConnection::Reset() {
    if (fd_ < 0) return;
    linger abortive{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abortive),
               sizeof abortive);
    Release();
}

void ScriptedConnection::Release() {
    {  // forgotten before closed, so the owner never shuts down a reused descriptor
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        auto& open = owner_.openFds_;
        open.erase(std::remove(open.begin(), open.end(), fd_), open.end());
    }
    CloseServerSocket(std::exchange(fd_, -1));
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    listenFd_ = BoundToFreePort(port_, true);
    acceptThread_ = std::thread([this] {
        while (!stopping_) {
            pollfd pfd{SocketOf(listenFd_), POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) continue;
            const int fd = TrackedSocket(
                [this] { return accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC); });
            if (fd < 0) continue;
            ++connections_;
            std::lock_guard<std::mutex> lock(mutex_);
            openFds_.push_back(fd);
            workers_.emplace_back([this, fd] {
                ScriptedConnection connection(fd, *this);
                try {
                    script_(connection);
                } catch (...) {  // a failing script must not take the test process down
                }
            });
        }
    });
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    acceptThread_.join();
    {
        // Wakes scripts blocked in a read or a write; their threads then close their sockets.
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
    }
    for (auto& worker : workers_) worker.join();  // no new ones once the accept thread ended
    CloseServerSocket(listenFd_);
}

std::function<void(ScriptedConnection&)> Answer(std::string response) {
    return [response](ScriptedConnection& connection) {
        if (!connection.ReadRequest().empty()) connection.Send(response);
    };
}

std::string HttpResponse(int status, const std::string& body,
                         const std::vector<std::string>& extraHeaders, bool withLength) {
    // Clients ignore the reason phrase.
    std::string response =
        "HTTP/1.0 " + std::to_string(status) + (status == 200 ? " OK\r\n" : " Status\r\n");
    for (const auto& header : extraHeaders) response += header + "\r\n";
    if (withLength) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    return response + "\r\n" + body;
}

std::string ParsedRequest::Header(const std::string& name) const {
    for (const auto& header : headers) {
        if (strcasecmp(header.first.c_str(), name.c_str()) == 0) return header.second;
    }
    return "";
}

ParsedRequest ParseRequest(const std::string& raw) {
    ParsedRequest parsed;
    const auto headEnd = raw.find("\r\n\r\n");
    if (headEnd != std::string::npos) parsed.body = raw.substr(headEnd + 4);
    const std::string head = raw.substr(0, headEnd);
    for (std::size_t start = 0, end = 0; start <= head.size(); start = end + 2) {
        end = std::min(head.find("\r\n", start), head.size());
        const std::string line = head.substr(start, end - start);
        const auto colon = line.find(':');
        if (start == 0) {
            parsed.requestLine = line;
        } else if (!line.empty()) {
            const bool bare = colon == std::string::npos;
            parsed.headers.emplace_back(bare ? Trim(line) : line.substr(0, colon),
                                        bare ? "" : Trim(line.substr(colon + 1)));
        }
    }
    return parsed;
}

ScriptedServer::Script TunnelingProxy() {
    return [](ScriptedConnection& client) {
        unsigned port = 0;
        if (std::sscanf(client.ReadRequest().c_str(), "CONNECT 127.0.0.1:%u", &port) != 1) return;
        const int upstream =
            TrackedSocket([] { return socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); });
        const sockaddr_in address = LoopbackAddress(static_cast<std::uint16_t>(port));
        if (connect(upstream, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
            client.Send("HTTP/1.0 200 Connection established\r\n\r\n")) {
            pollfd ends[2] = {{SocketOf(client.fd()), POLLIN, 0}, {SocketOf(upstream), POLLIN, 0}};
            char buffer[16384];
            for (bool open = true; open && poll(ends, 2, 10000) > 0;) {
                for (int i = 0; i < 2 && open; ++i) {
                    if (ends[i].revents == 0) continue;
                    const ssize_t got = recv(ends[i].fd, buffer, sizeof buffer, 0);
                    open = got > 0 && send(ends[1 - i].fd, buffer, static_cast<std::size_t>(got),
                                           MSG_NOSIGNAL) == got;
                }
            }
        }
        CloseServerSocket(upstream);
    };
}

#ifdef __linux__  // what Linux alone shows (queues, descriptors), and child processes
// Bytes unread in the receive queue of the loopback socket bound to `local`, as the kernel lists
// it; -1 when there is no such socket.
static long UnreadBytesOf(const sockaddr_in& local) {
    char wanted[16], address[16];
    std::snprintf(wanted, sizeof wanted, "%08X:%04X", local.sin_addr.s_addr, ntohs(local.sin_port));
    std::ifstream table("/proc/net/tcp");
    long unread = 0;
    for (std::string line; std::getline(table, line);) {
        if (std::sscanf(line.c_str(), "%*s %15s %*s %*s %*x:%lx", address, &unread) == 2 &&
            std::strcmp(address, wanted) == 0) {
            return unread;
        }
    }
    return -1;
}

bool ScriptedConnection::AwaitClientRead(std::chrono::milliseconds timeout) {
    sockaddr_in client{};
    socklen_t length = sizeof client;
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&client), &length) != 0) {
        return false;
    }
    return PollUntil(
        [&] {
            int unacknowledged = -1;
            return ioctl(fd_, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0 &&
                   UnreadBytesOf(client) == 0;
        },
        timeout, std::chrono::milliseconds(1));
}

bool WaitUntilAccepting(std::uint16_t port, ChildProcess& process) {
    const sockaddr_in address = LoopbackAddress(port);
    bool accepted = false;
    PollUntil(
        [&] {
            const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            accepted =
                connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            close(fd);
            return accepted || !process.Running();
        },
        std::chrono::seconds(5), std::chrono::milliseconds(20));
    return accepted;
}

int CountOpenDescriptors() {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    int count = -1;  // the iterator's own descriptor to the folder is counted as well
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        count += g_serverSockets.count(std::stoi(entry.path().filename().string())) == 0;
    }
    return count;
}
#endif

}  // namespace testing_support
