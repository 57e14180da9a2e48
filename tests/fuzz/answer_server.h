// A loopback server that plays an untrusted one: every connection is answered with the same
// bytes, whatever they are. It reads the request head and the body its Content-Length
// announces, sends the answer, closes its side and waits briefly for the client to close.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

namespace fuzz {

// A descriptor closed with the object.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }

  private:
    int fd_;
};

class AnswerServer {
  public:
    // Listens on 127.0.0.1 on a port of the system's choice; aborts when it cannot.
    AnswerServer();
    ~AnswerServer();
    AnswerServer(const AnswerServer&) = delete;
    AnswerServer& operator=(const AnswerServer&) = delete;

    std::uint16_t Port() const { return port_; }
    // The bytes sent on every later connection.
    void SetAnswer(std::string answer);

  private:
    void Serve();
    void AnswerConnection(int connection);
    std::string Answer();

    Fd listener_;
    Fd wakeRead_;
    Fd wakeWrite_;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::string answer_;
    std::thread thread_;
};

}  // namespace fuzz
