// The session and connection objects of the transport, and the calls that need no object.
#include <new>
#include <string>
#include <utility>

#include "platform/http_transport.h"
#include "platform/windows/http/internet_handle.h"
#include "platform/windows/http/wininet_request.h"

namespace zemuser::platform::windows {
namespace {

void SetFailure(ErrorCode* failure, ErrorCode code) {
    if (failure != nullptr) *failure = code;
}

DWORD OpenFlagsOf(const RequestLine& line) {
    DWORD flags = 0;
    if (line.reload) flags |= INTERNET_FLAG_RELOAD;
    if (!line.writeToCache) flags |= INTERNET_FLAG_NO_CACHE_WRITE;
    if (line.keepConnection) flags |= INTERNET_FLAG_KEEP_CONNECTION;
    if (line.formSubmission) flags |= INTERNET_FLAG_FORMS_SUBMIT;
    if (line.secure) flags |= INTERNET_FLAG_SECURE;
    if (!line.checkCertificateName) flags |= INTERNET_FLAG_IGNORE_CERT_CN_INVALID;
    if (!line.checkCertificateDate) flags |= INTERNET_FLAG_IGNORE_CERT_DATE_INVALID;
    return flags;
}

class WinInetConnection final : public HttpConnection {
  public:
    explicit WinInetConnection(std::shared_ptr<InternetHandle> handle)
        : handle_(std::move(handle)) {}
    ~WinInetConnection() override { handle_->Close(); }

    std::shared_ptr<HttpRequest> OpenRequest(const RequestLine& line, ErrorCode* failure) override {
        HINTERNET connection = handle_->Get();
        if (connection == nullptr) {
            SetFailure(failure, kClosedObject);
            return nullptr;
        }
        // Made before the request is opened, so that no handle is left behind without owner.
        std::shared_ptr<InternetHandle> handle;
        std::shared_ptr<WinInetRequest> request;
        try {
            handle = std::make_shared<InternetHandle>(handle_);
            request = std::make_shared<WinInetRequest>(handle);
        } catch (const std::bad_alloc&) {
            SetFailure(failure, ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        LPCSTR acceptTypes[] = {line.acceptType, nullptr};
        HINTERNET opened = HttpOpenRequestA(
            connection, line.verb, line.target, line.version, line.referrer,
            line.acceptType != nullptr ? acceptTypes : nullptr, OpenFlagsOf(line), 0);
        if (!handle->Adopt(opened)) {
            SetFailure(failure, LastFailure());
            return nullptr;
        }
        return request;
    }

    void SetProxyCredentials(const std::string& user, const std::string& password,
                             HttpRequest* request) override {
        HINTERNET connection = handle_->Get();
        if (connection == nullptr) return;
        // Only this backend makes the requests the engine holds.
        HINTERNET requestHandle =
            request != nullptr ? static_cast<WinInetRequest*>(request)->Handle() : nullptr;
        // The connection first, then the request, for each text; the length counts the zero.
        auto set = [&](DWORD option, const std::string& text) {
            const auto length = static_cast<DWORD>(text.size() + 1);
            InternetSetOptionA(connection, option, const_cast<char*>(text.c_str()), length);
            if (requestHandle != nullptr) {
                InternetSetOptionA(requestHandle, option, const_cast<char*>(text.c_str()), length);
            }
        };
        set(INTERNET_OPTION_PROXY_USERNAME, user);
        set(INTERNET_OPTION_PROXY_PASSWORD, password);
    }

    void Close() override { handle_->Close(); }

  private:
    std::shared_ptr<InternetHandle> handle_;
};

class WinInetSession final : public InternetSession {
  public:
    explicit WinInetSession(std::shared_ptr<InternetHandle> handle) : handle_(std::move(handle)) {}
    ~WinInetSession() override { handle_->Close(); }

    std::shared_ptr<HttpConnection> Connect(const char* host, std::uint16_t port, const char* user,
                                            const char* password, ErrorCode* failure) override {
        HINTERNET session = handle_->Get();
        if (session == nullptr) {
            SetFailure(failure, kClosedObject);
            return nullptr;
        }
        std::shared_ptr<InternetHandle> handle;
        std::shared_ptr<WinInetConnection> connection;
        try {
            handle = std::make_shared<InternetHandle>(handle_);
            connection = std::make_shared<WinInetConnection>(handle);
        } catch (const std::bad_alloc&) {
            SetFailure(failure, ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
        HINTERNET opened =
            InternetConnectA(session, host, port, user, password, INTERNET_SERVICE_HTTP, 0, 0);
        if (!handle->Adopt(opened)) {
            SetFailure(failure, LastFailure());
            return nullptr;
        }
        return connection;
    }

    void Close() override { handle_->Close(); }

  private:
    std::shared_ptr<InternetHandle> handle_;
};

}  // namespace
}  // namespace zemuser::platform::windows

namespace zemuser::platform {

using windows::InternetHandle;
using windows::LastFailure;

std::shared_ptr<InternetSession> OpenInternet(const char* agent, ErrorCode* failure) {
    std::shared_ptr<InternetHandle> handle;
    std::shared_ptr<InternetSession> session;
    try {
        handle = std::make_shared<InternetHandle>(nullptr);
        session = std::make_shared<windows::WinInetSession>(handle);
    } catch (const std::bad_alloc&) {
        windows::SetFailure(failure, ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (!handle->Adopt(InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0))) {
        windows::SetFailure(failure, LastFailure());
        return nullptr;
    }
    return session;
}

ErrorCode AttemptConnect() {
    return InternetAttemptConnect(0);
}

ErrorCode SetCookie(const char* url, const char* name, const char* value) {
    return InternetSetCookieA(url, name, value) ? kNoError : LastFailure();
}

}  // namespace zemuser::platform
