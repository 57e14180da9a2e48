// A loopback server that plays an untrusted one: every connection is answered with the same
// bytes, whatever they are. It reads the request head and the body its Content-Length
// announces, sends the answer, closes its side and waits briefly for the client to close.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/posix/unique_fd.h"

namespace fuzz {

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

    platform::posix::UniqueFd listener_;
    platform::posix::UniqueFd wakeRead_;
    platform::posix::UniqueFd wakeWrite_;
    std::uint16_t port_ = 0;
    std::mutex mutex_;
    std::string answer_;
    std::thread thread_;
};

}  // namespace fuzz
