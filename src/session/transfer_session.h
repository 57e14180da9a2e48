// TransferSession: one internet connection, one request at a time. Every exported transfer
// connects it, sends one request through SendRequest, reads the response and closes its
// handles again. Failures inside travel as thrown constant texts and never leave the session:
// the operation that catches one closes the handle concerned, reports it and returns false or 0.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "form/form_field.h"
#include "form/form_field_list.h"
#include "platform/platform.h"
#include "session/connect_mode.h"

class TransferSession {
  public:
    TransferSession();
    virtual ~TransferSession();
    TransferSession(const TransferSession&) = delete;
    TransferSession& operator=(const TransferSession&) = delete;

    // The four operations reached through the virtual table, in slot order.
    virtual bool Connect(const char* host, std::uint32_t port, const char* user,
                         const char* password, ConnectMode mode, const char* agent);
    virtual bool PostMultipart(const char* path, const char* referrer);
    virtual bool PostForm(const char* path, const char* referrer);
    virtual bool Get(const char* path, const char* referrer);

    bool SendRequest(const char* path, RequestKind kind, const char* referrer);
    // Marks the session cancelled and closes request, connection and root handles. Safe to
    // call from another thread while a transfer runs on this session.
    void CloseHandles();
    void ClearFields();
    void ClearCookies();
    void SetProxyCredentials(const char* user, const char* password);
    bool ApplyProxyCredentials();
    bool FollowRedirect(HINTERNET request);

    // Form fields of the next POST.
    void AddFormField(const char* name, std::int32_t value);
    void AddFormField(const char* name, const char* value, bool isFile);
    void AddFormField(const char* name, const WCHAR* value, bool isFile);

    // Response queries and body reading, on the answered request.
    std::int32_t QueryStatusCode();
    std::int32_t QueryContentLength();
    std::uint32_t QueryContentDisposition(char* buffer, std::uint32_t length);
    std::uint32_t ReadResponse(void* buffer, std::uint32_t size);
    std::uint32_t ResponseToFile(const char* path);
    std::uint32_t ResponseToFile(const WCHAR* path);

    // Read-only views for the exports and the tests.
    HINTERNET InternetHandle() const { return m_hInternet.load(); }
    HINTERNET ConnectionHandle() const { return m_hConnect.load(); }
    HINTERNET RequestHandle() const { return m_hRequest.load(); }
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
    // Steps the three request operations share. BeginRequest checks the connection, clears the
    // cancelled flag, opens the request (secure on an https connection) and adds Accept.
    void BeginRequest(const char* verb, const char* path, const char* referrer, DWORD flags);
    HINTERNET OpenRequest(const char* verb, const char* path, const char* referrer, DWORD flags);
    void AddHeader(const char* header, DWORD modifiers);
    void SetCookies(const char* path);
    void SelectClientCertificate();
    void IgnoreUnknownAuthority();
    // A send that failed for a client certificate or an unknown authority is answered so that
    // the next send can pass; other errors are left alone.
    void AnswerCertificatePrompt(DWORD error);
    DWORD ShowProxyDialog();
    void ReportOnRequest(const char* text);

    // Copies the body into the open file and closes it; the byte count, or 0 when the body
    // was empty, broken, cancelled or could not be written whole.
    std::uint32_t StoreBody(HANDLE file);

    // Handles and the cancelled flag are shared with a cancelling thread without a lock.
    std::atomic<HINTERNET> m_hInternet{nullptr};
    std::atomic<HINTERNET> m_hConnect{nullptr};
    std::atomic<HINTERNET> m_hRequest{nullptr};
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

// A handle counts as open when it is neither null nor the all-ones invalid value.
bool IsOpenHandle(HINTERNET handle);
