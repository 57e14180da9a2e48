// A request of the transport: one WinINet request handle.
#pragma once

#include <memory>

#include "platform/http_transport.h"
#include "platform/windows/http/internet_handle.h"

namespace zemuser::platform::windows {

class WinInetRequest final : public HttpRequest {
  public:
    explicit WinInetRequest(std::shared_ptr<InternetHandle> handle);
    ~WinInetRequest() override;

    // Null once the request or its connection is closed.
    HINTERNET Handle() const { return handle_->Get(); }

    ErrorCode AddHeader(const char* line, HeaderMode mode) override;
    SendResult Send(const char* extraHeaders, const void* body, std::uint32_t length) override;
    SendResult StartSend(std::uint32_t bodyLength) override;
    ErrorCode WriteBody(const void* data, std::uint32_t size) override;
    SendResult EndSend() override;
    void AcceptUnknownAuthority() override;
    void ChooseClientCertificate() override;
    bool AskProxyCredentials() override;
    ErrorCode QueryHeader(AnswerHeader header, char* buffer, std::uint32_t* length) override;
    ErrorCode Read(void* buffer, std::uint32_t size, std::uint32_t* count) override;
    void Close() override;

  private:
    std::shared_ptr<InternetHandle> handle_;
    // A read that failed after it had delivered bytes: the next read reports it.
    ErrorCode pendingReadFailure_ = kNoError;
};

}  // namespace zemuser::platform::windows
