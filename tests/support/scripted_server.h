// A loopback HTTP server of the tests, driven by a script per connection: it sends exactly the
// bytes a test chooses (broken answers too), records the requests it reads, and can stall,
// trickle, cut or reset a connection.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testing_support {

class ScriptedServer;

class ScriptedConnection {
  public:
    ScriptedConnection(int fd, ScriptedServer& owner) : fd_(fd), owner_(owner) {}
    ~ScriptedConnection() { Close(); }
    ScriptedConnection(const ScriptedConnection&) = delete;
    ScriptedConnection& operator=(const ScriptedConnection&) = delete;

    // The head up to the blank line and the body its Content-Length announces ("" when the
    // peer closed first).
    std::string ReadRequest(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::string ReadUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool Send(const std::string& bytes);
    bool Trickle(const std::string& bytes, std::size_t piece, std::chrono::milliseconds pause);
    // Waits until the client has read every byte sent so far (none unacknowledged here, none
    // unread in its socket; Linux only). False on time-out.
    bool AwaitClientRead(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Close();  // orderly close (FIN)
    void Reset();  // abortive close (RST)
    int fd() const { return fd_; }

  private:
    void Release();

    int fd_;
    ScriptedServer& owner_;
    std::string pending_;  // bytes read past the last request
};

std::function<void(ScriptedConnection&)> Answer(std::string response);

std::string HttpResponse(int status, const std::string& body,
                         const std::vector<std::string>& extraHeaders = {}, bool withLength = true);

class ScriptedServer {
  public:
    using Script = std::function<void(ScriptedConnection&)>;

    // Listens on a free 127.0.0.1 port; each connection runs `script` on its own thread and is
    // closed when the script returns.
    explicit ScriptedServer(Script script);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string url(const std::string& path = "/") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::vector<std::string> requests() const {  // read by ReadRequest, in order
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int connectionCount() const { return connections_.load(); }

  private:
    friend class ScriptedConnection;  // records its requests, forgets its socket as it closes

    Script script_;
    int listenFd_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;  // guards the three below
    std::vector<std::string> requests_;
    std::vector<std::thread> workers_;
    std::vector<int> openFds_;
};

// A count a script raises ("the request has arrived") and a test waits on.
class EventCount {
  public:
    void Raise() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++count_;
        raised_.notify_all();
    }
    bool AwaitAtLeast(int count, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
        std::unique_lock<std::mutex> lock(mutex_);
        return raised_.wait_for(lock, timeout, [&] { return count_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable raised_;
    int count_ = 0;
};

// Descriptors open in this process, except the scripted servers' sockets (Linux only).
int CountOpenDescriptors();

class ChildProcess;
// Waits until 127.0.0.1:`port` accepts; false once `process` has exited or after five seconds
// (Linux only).
bool WaitUntilAccepting(std::uint16_t port, ChildProcess& process);

// A proxy that asks for nothing and tunnels each CONNECT to the loopback port it names.
ScriptedServer::Script TunnelingProxy();

struct ParsedRequest {
    std::string requestLine;                                   // "GET /x HTTP/1.0"
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
    std::string body;
    std::string Header(const std::string& name) const;  // "" when absent (case-insensitive)
};
ParsedRequest ParseRequest(const std::string& raw);

}  // namespace testing_support
