// What the internet-layer tests share: handles closed at the end of a scope, a root and
// connection to a loopback port, and small wrappers for queries and whole-body reads.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace internet_testing {

struct HandleCloser {
    void operator()(void* handle) const { InternetCloseHandle(handle); }
};
using InternetHandle = std::unique_ptr<void, HandleCloser>;

constexpr const char* kAgent = "TestAgent/1.0";

// A root and a connection handle to 127.0.0.1:<port>.
class Connection {
  public:
    explicit Connection(std::uint16_t port, const char* agent = kAgent,
                        DWORD access = INTERNET_OPEN_TYPE_PRECONFIG)
        : root_(InternetOpenA(agent, access, nullptr, nullptr, 0)),
          connection_(InternetConnectA(root_.get(), "127.0.0.1", port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0)) {}

    HINTERNET root() const { return root_.get(); }
    HINTERNET get() const { return connection_.get(); }

    InternetHandle Open(const char* verb, const char* object, DWORD flags = 0,
                        const char* version = "HTTP/1.0") const {
        LPCSTR accept[] = {"*/*", nullptr};
        return InternetHandle(
            HttpOpenRequestA(connection_.get(), verb, object, version, nullptr, accept, flags, 0));
    }

  private:
    InternetHandle root_;
    InternetHandle connection_;
};

inline std::string Query(HINTERNET request, DWORD level) {
    char buffer[4096] = {};
    DWORD length = sizeof buffer - 1;
    if (!HttpQueryInfoA(request, level, buffer, &length, nullptr))
        return "<" + std::to_string(GetLastError()) + ">";
    return std::string(buffer, length);
}

inline int Status(HINTERNET request) {
    return std::atoi(Query(request, HTTP_QUERY_STATUS_CODE).c_str());
}

// Reads the body in pieces of `piece` bytes; `error` gets 0 or the code of a failed read.
inline std::string ReadBody(HINTERNET request, DWORD piece = 1024, DWORD* error = nullptr) {
    std::string body;
    std::vector<char> buffer(piece);
    if (error != nullptr) *error = 0;
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request, buffer.data(), piece, &got)) {
            if (error != nullptr) *error = GetLastError();
            return body;
        }
        if (got == 0) return body;
        body.append(buffer.data(), got);
    }
}

inline BOOL Send(HINTERNET request, const std::string& headers = "", const std::string& body = "") {
    return HttpSendRequestA(
        request, headers.empty() ? nullptr : headers.c_str(), static_cast<DWORD>(headers.size()),
        body.empty() ? nullptr : const_cast<char*>(body.data()), static_cast<DWORD>(body.size()));
}

}  // namespace internet_testing
