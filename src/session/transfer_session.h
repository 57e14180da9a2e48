// TransferSession: one internet connection, one request at a time. Every exported transfer
// connects it, sends one request through SendRequest, reads the response and closes its
// handles again. Failures travel inside as values (Failure); the operation that ends with one
// closes the handle concerned, reports it and returns false or 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "form/form_field.h"
#include "platform/http_transport.h"
#include "platform/system.h"
#include "session/connect_mode.h"
#include "session/failure.h"
#include "session/shared_handle.h"

namespace zemuser {

class TransferSession {
  public:
    TransferSession();
    virtual ~TransferSession();
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    // The four operations reached through the virtual table, in slot order.
    virtual bool Connect(const char* host, std::uint32_t port, const char* user,
                         const char* password, ConnectMode mode, const char* agent);
    virtual RequestResult PostMultipart(const char* path, const char* referrer);
    virtual RequestResult PostForm(const char* path, const char* referrer);
    virtual RequestResult Get(const char* path, const char* referrer);

    bool SendRequest(const char* path, RequestKind kind, const char* referrer);
    // Marks the session cancelled and closes request, connection and root handles. Safe to
    // call from another thread while a transfer runs on this session.
    void CloseHandles();
    void ClearFields();
    void ClearCookies();
    void SetProxyCredentials(const char* user, const char* password);
    bool ApplyProxyCredentials();
    bool FollowRedirect(platform::HttpRequest& request);

    // Form fields of the next POST.
    void AddFormField(const char* name, std::int32_t value);
    void AddFormField(const char* name, const char* value, bool isFile);
    void AddFormField(const char* name, const platform::WideChar* value, bool isFile);

    // Response queries and body reading, on the answered request.
    std::int32_t QueryStatusCode();
    std::int32_t QueryContentLength();
    std::uint32_t QueryContentDisposition(char* buffer, std::uint32_t length);
    std::uint32_t ReadResponse(void* buffer, std::uint32_t size);
    std::uint32_t ResponseToFile(const char* path);
    std::uint32_t ResponseToFile(const platform::WideChar* path);

    // Read-only views for the exports and the tests.
    bool HasOpenHandles() const {
        return m_hRequest.IsOpen() || m_hConnect.IsOpen() || m_hInternet.IsOpen();
    }
    bool IsConnected() const { return m_hConnect.IsOpen(); }
    bool HasRequest() const { return m_hRequest.IsOpen(); }
    bool Cancelled() const { return m_cancelled.load(); }
    const std::string& Host() const { return m_host; }
    const std::string& User() const { return m_user; }
    const std::string& Password() const { return m_password; }
    const std::string& LastPath() const { return m_lastPath; }
    std::uint32_t Port() const { return m_port; }
    std::uint32_t Mode() const { return m_mode; }
    const FormFieldList& Fields() const { return m_fields; }
    CookieList& Cookies() { return m_cookies; }

  private:
    // Opens the root and connection handles and checks that the machine can go online.
    std::optional<Failure> OpenConnection(const char* host, std::uint16_t port, const char* user,
                                          const char* password, const char* agent);
    // A header line a request adds before it sends, and how.
    struct HeaderLine {
        const char* text;
        platform::HeaderMode mode;
    };
    // Steps the three request operations share before they send: check the connection, clear
    // the cancelled flag, open the request (secure on an https connection), add Accept and then
    // `headers` in order, and set the session's cookies. `opened` receives the request: the
    // operation keeps using that object even when a cancel closes it and clears the slot.
    std::optional<Failure> BeginRequest(const char* verb, const char* path, const char* referrer,
                                        platform::RequestLine line,
                                        std::initializer_list<HeaderLine> headers,
                                        std::shared_ptr<platform::HttpRequest>* opened);
    std::optional<Failure> AddHeader(const char* header, platform::HeaderMode mode);
    std::optional<Failure> SetCookies(const char* path);
    // The proxy asked for credentials in an answer of attempt `attempts`: the first two apply
    // them, later ones ask the user. True when the request is to be sent once more.
    bool RetryForProxy(int attempts);
    // A send that failed for a client certificate or an unknown authority is answered so that
    // the next send can pass; other signals are left alone.
    void AnswerCertificatePrompt(platform::SendSignal signal);
    bool AskProxyCredentials();
    void ReportOnRequest(Failure failure);

    // Copies the body into the file; the byte count, or 0 when the body was empty, broken,
    // cancelled or could not be written whole.
    std::uint32_t StoreBody(platform::ReplacementFile& file);
    // Stores the body under the target's name once it is whole; traces a failure with
    // `tracePath`.
    std::uint32_t StoreResponse(platform::ReplacementFile file, const char* tracePath);

    // Shared with a cancelling thread; each user holds its own reference for a call.
    SharedHandle<platform::InternetSession> m_hInternet;
    SharedHandle<platform::HttpConnection> m_hConnect;
    SharedHandle<platform::HttpRequest> m_hRequest;
    std::string m_host;
    std::string m_user;
    std::string m_password;
    std::string m_lastPath;
    std::uint32_t m_port = 0;
    std::uint32_t m_mode = 0;
    FormFieldList m_fields;
    CookieList m_cookies;
    std::string m_proxyUser;
    std::string m_proxyPassword;
    std::atomic<bool> m_cancelled{false};
};

}  // namespace zemuser
