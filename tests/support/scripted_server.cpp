#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;

// The sockets the scripted servers hold, left out of descriptor counts. Each is added as it is
// made and removed as it is closed, both under the lock, so a count taken under the lock sees
// every server socket either here or closed.
std::mutex g_serverSocketsLock;
std::set<int> g_serverSockets;

int OpenServerSocket(int flags) {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | flags, 0);
    if (fd >= 0) g_serverSockets.insert(fd);
    return fd;
}

// The listening socket does not block, so the lock is never held while waiting.
int AcceptServerSocket(int listenFd) {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    const int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) g_serverSockets.insert(fd);
    return fd;
}

void CloseServerSocket(int fd) {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    g_serverSockets.erase(fd);
    close(fd);
}

std::string Lowercase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// Milliseconds left until `deadline`, never negative.
int MillisLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads what is available within the deadline. Returns false on EOF, error or time-out.
bool ReadSome(int fd, std::string& into, Clock::time_point deadline) {
    pollfd pfd{fd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&pfd, 1, MillisLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return false;
        char buffer[16384];
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        into.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
}

// The announced body length of a request head, 0 when there is none.
std::size_t ContentLength(const std::string& head) {
    const ParsedRequest parsed = ParseRequest(head + "\r\n\r\n");
    const std::string value = parsed.Header("Content-Length");
    if (value.empty()) return 0;
    try {
        return static_cast<std::size_t>(std::stoull(value));
    } catch (const std::exception&) {
        return 0;
    }
}

// Bytes waiting unread in the receive queue of the loopback socket bound to `local`, as the
// kernel lists it; -1 when there is no such socket.
long UnreadBytesOf(const sockaddr_in& local) {
    char address[16];
    std::snprintf(address, sizeof address, "%08X:%04X", local.sin_addr.s_addr,
                  ntohs(local.sin_port));
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the column names
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, ours, remote, state, queues;
        fields >> slot >> ours >> remote >> state >> queues;
        if (ours != address) continue;
        const auto colon = queues.find(':');
        return colon == std::string::npos ? -1 : std::stol(queues.substr(colon + 1), nullptr, 16);
    }
    return -1;
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 201:
            return "Created";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 303:
            return "See Other";
        case 304:
            return "Not Modified";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 407:
            return "Proxy Authentication Required";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

}  // namespace

// ---- EventCount ----

void EventCount::Raise() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
    raised_.notify_all();
}

bool EventCount::AwaitAtLeast(int count, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return raised_.wait_for(lock, timeout, [&] { return count_ >= count; });
}

// ---- ScriptedConnection ----

ScriptedConnection::ScriptedConnection(int fd) : ScriptedConnection(fd, nullptr) {}

ScriptedConnection::ScriptedConnection(int fd, ScriptedServer* owner) : fd_(fd), owner_(owner) {}

ScriptedConnection::~ScriptedConnection() {
    Close();
}

std::string ScriptedConnection::ReadRequest(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string::size_type headEnd;
    while ((headEnd = pending_.find("\r\n\r\n")) == std::string::npos) {
        if (fd_ < 0 || !ReadSome(fd_, pending_, deadline)) {
            std::string partial;
            partial.swap(pending_);
            return partial;
        }
    }
    const std::size_t total = headEnd + 4 + ContentLength(pending_.substr(0, headEnd));
    while (pending_.size() < total) {
        if (!ReadSome(fd_, pending_, deadline)) break;
    }
    const std::size_t taken = std::min(total, pending_.size());
    std::string request = pending_.substr(0, taken);
    pending_.erase(0, taken);
    if (owner_ != nullptr) owner_->Record(request);
    return request;
}

std::string ScriptedConnection::ReadUntilClosed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    std::string received;
    received.swap(pending_);
    while (fd_ >= 0 && ReadSome(fd_, received, deadline)) {
    }
    return received;
}

bool ScriptedConnection::Send(const std::string& bytes) {
    std::size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t done = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return false;
        sent += static_cast<std::size_t>(done);
    }
    return fd_ >= 0;
}

bool ScriptedConnection::Trickle(const std::string& bytes, std::size_t piece,
                                 std::chrono::milliseconds pause) {
    piece = std::max<std::size_t>(piece, 1);
    for (std::size_t offset = 0; offset < bytes.size(); offset += piece) {
        if (offset > 0) std::this_thread::sleep_for(pause);
        if (!Send(bytes.substr(offset, piece))) return false;
    }
    return true;
}

bool ScriptedConnection::AwaitClientRead(std::chrono::milliseconds timeout) {
    sockaddr_in client{};
    socklen_t length = sizeof client;
    if (fd_ < 0 || getpeername(fd_, reinterpret_cast<sockaddr*>(&client), &length) != 0) {
        return false;
    }
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        int unacknowledged = -1;
        if (ioctl(fd_, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged == 0 &&
            UnreadBytesOf(client) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a poll, not an ordering
    }
    return false;
}

void ScriptedConnection::Close() {
    if (fd_ < 0) return;
    // Half-close first and drain briefly: closing with unread input would send RST and could
    // destroy the answer before the peer has read it.
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + std::chrono::milliseconds(250);
    std::string discarded;
    while (ReadSome(fd_, discarded, deadline)) discarded.clear();
    Release();
}

void ScriptedConnection::Reset() {
    if (fd_ < 0) return;
    linger abortive{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    Release();
}

void ScriptedConnection::Release() {
    // The owner forgets the descriptor before it is closed, so it never shuts down a reused one.
    if (owner_ != nullptr) owner_->Forget(fd_);
    CloseServerSocket(fd_);
    fd_ = -1;
}

// ---- ScriptedServer ----

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
    listenFd_ = OpenServerSocket(SOCK_NONBLOCK);
    if (listenFd_ < 0) throw std::runtime_error("socket failed");
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listenFd_, 64) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string reason = std::strerror(errno);
        CloseServerSocket(listenFd_);
        throw std::runtime_error("scripted server cannot listen: " + reason);
    }
    port_ = ntohs(address.sin_port);
    acceptThread_ = std::thread([this] { AcceptLoop(); });
}

ScriptedServer::~ScriptedServer() {
    stopping_ = true;
    acceptThread_.join();
    {
        // Wake scripts blocked in a read or a write; their threads then close their sockets.
        std::lock_guard<std::mutex> lock(mutex_);
        for (int fd : openFds_) shutdown(fd, SHUT_RDWR);
    }
    // No new workers can appear once the accept thread has ended.
    for (auto& worker : workers_) worker.join();
    CloseServerSocket(listenFd_);
}

std::string ScriptedServer::url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
}

std::vector<std::string> ScriptedServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedServer::Record(const std::string& request) {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
}

void ScriptedServer::Forget(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    openFds_.erase(std::remove(openFds_.begin(), openFds_.end(), fd), openFds_.end());
}

void ScriptedServer::AcceptLoop() {
    while (!stopping_) {
        pollfd pfd{listenFd_, POLLIN, 0};
        if (poll(&pfd, 1, 20) <= 0) continue;
        const int fd = AcceptServerSocket(listenFd_);
        if (fd < 0) continue;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        openFds_.push_back(fd);
        workers_.emplace_back([this, fd] {
            ScriptedConnection connection(fd, this);
            try {
                script_(connection);
            } catch (...) {
                // A failing script must not take the whole test process down.
            }
        });
    }
}

// ---- helpers ----

std::function<void(ScriptedConnection&)> Answer(std::string response) {
    return [response](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send(response);
    };
}

std::string HttpResponse(int status, const std::string& body,
                         const std::vector<std::string>& extraHeaders, bool withLength) {
    std::string response =
        "HTTP/1.0 " + std::to_string(status) + " " + ReasonPhrase(status) + "\r\n";
    for (const auto& header : extraHeaders) response += header + "\r\n";
    if (withLength) response += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    response += "\r\n";
    return response + body;
}

std::string ParsedRequest::Header(const std::string& name) const {
    const std::string wanted = Lowercase(name);
    for (const auto& header : headers) {
        if (Lowercase(header.first) == wanted) return header.second;
    }
    return "";
}

int ParsedRequest::HeaderCount(const std::string& name) const {
    const std::string wanted = Lowercase(name);
    return static_cast<int>(std::count_if(headers.begin(), headers.end(), [&](const auto& h) {
        return Lowercase(h.first) == wanted;
    }));
}

ParsedRequest ParseRequest(const std::string& raw) {
    ParsedRequest parsed;
    const auto headEnd = raw.find("\r\n\r\n");
    const std::string head = raw.substr(0, headEnd);
    if (headEnd != std::string::npos) parsed.body = raw.substr(headEnd + 4);
    std::string::size_type lineStart = 0;
    bool first = true;
    while (lineStart <= head.size()) {
        auto lineEnd = head.find("\r\n", lineStart);
        if (lineEnd == std::string::npos) lineEnd = head.size();
        const std::string line = head.substr(lineStart, lineEnd - lineStart);
        if (first) {
            parsed.requestLine = line;
            first = false;
        } else if (!line.empty()) {
            const auto colon = line.find(':');
            if (colon == std::string::npos) {
                parsed.headers.emplace_back(Trim(line), "");
            } else {
                parsed.headers.emplace_back(line.substr(0, colon), Trim(line.substr(colon + 1)));
            }
        }
        lineStart = lineEnd + 2;
    }
    return parsed;
}

ScriptedServer::Script TunnelingProxy() {
    return [](ScriptedConnection& client) {
        unsigned port = 0;
        if (std::sscanf(client.ReadRequest().c_str(), "CONNECT 127.0.0.1:%u", &port) != 1) return;
        const int upstream = OpenServerSocket(0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        if (connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            client.Send("HTTP/1.0 200 Connection established\r\n\r\n")) {
            pollfd ends[2] = {{client.fd(), POLLIN, 0}, {upstream, POLLIN, 0}};
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

int CountOpenDescriptors() {
    std::lock_guard<std::mutex> lock(g_serverSocketsLock);
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        if (g_serverSockets.count(std::stoi(entry.path().filename().string())) == 0) ++count;
    }
    // The iterator's own descriptor to the folder was counted as well.
    return count - 1;
}

}  // namespace testing_support
