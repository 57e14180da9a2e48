// Steps that Get, PostForm and PostMultipart share: opening the request, adding headers,
// setting cookies, and answering the certificate and proxy prompts of a failed send.
#include <cstdio>
#include <string>

#include "session/failure_report.h"
#include "session/request_constants.h"
#include "session/transfer_session.h"

using namespace request;

namespace {

constexpr DWORD kDialogFlags = FLAGS_ERROR_UI_FILTER_FOR_ERRORS |
                               FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS |
                               FLAGS_ERROR_UI_FLAGS_GENERATE_DATA;

// Each confirmed redirect sends its request from inside the one that was redirected, so a
// server that redirects every request must not nest them without end (the stack would
// overflow). The same bound as for the redirects the internet layer follows by itself.
constexpr int kMostConfirmedRedirects = 10;
// The redirects the request chain now running on this thread has followed.
thread_local int confirmedRedirects = 0;

}  // namespace

void TransferSession::BeginRequest(const char* verb, const char* path, const char* referrer,
                                   DWORD flags) {
    if (!IsOpenHandle(m_hConnect)) throw kHandleNotOpened;
    m_cancelled = false;
    OpenRequest(verb, path, referrer, m_mode == ModeHttps ? flags | kSecureFlags : flags);
    AddHeader(kAcceptHeader, HTTP_ADDREQ_FLAG_REPLACE);
}

HINTERNET TransferSession::OpenRequest(const char* verb, const char* path, const char* referrer,
                                       DWORD flags) {
    LPCSTR acceptTypes[] = {"*/*", nullptr};
    m_hRequest =
        HttpOpenRequestA(m_hConnect, verb, path, "HTTP/1.0", referrer, acceptTypes, flags, 0);
    if (!IsOpenHandle(m_hRequest)) throw kRequestFailedDots;
    return m_hRequest;
}

void TransferSession::AddHeader(const char* header, DWORD modifiers) {
    if (!HttpAddRequestHeadersA(m_hRequest, header,
                                static_cast<DWORD>(std::char_traits<char>::length(header)),
                                modifiers)) {
        throw kAdditionalHeaderFailed;
    }
}

void TransferSession::SetCookies(const char* path) {
    if (m_cookies.Empty()) return;
    std::string url = m_mode == ModeHttps ? "https://" : "http://";
    url += m_host;
    bool defaultPort = (m_mode == ModeHttp && m_port == INTERNET_DEFAULT_HTTP_PORT) ||
                       (m_mode == ModeHttps && m_port == INTERNET_DEFAULT_HTTPS_PORT);
    if (!defaultPort) {
        char port[16];
        std::snprintf(port, sizeof(port), ":%d", static_cast<int>(m_port));
        url += port;
    }
    url += path;
    for (const CookieEntry& cookie : m_cookies) {
        if (!InternetSetCookieA(url.c_str(), cookie.name.c_str(), cookie.value.c_str())) {
            throw kAddCookieFailed;
        }
    }
}

void TransferSession::SelectClientCertificate() {
    LPVOID certificate = nullptr;
    InternetErrorDlg(GetDesktopWindow(), m_hRequest, ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED,
                     kDialogFlags, &certificate);
    // The option takes the pointer value the dialog handed back, four bytes of it as on the
    // 32-bit platform.
    InternetSetOptionA(m_hRequest, INTERNET_OPTION_SECURITY_SELECT_CLIENT_CERT, &certificate, 4);
}

void TransferSession::IgnoreUnknownAuthority() {
    DWORD flags = 0;
    DWORD length = sizeof(flags);
    InternetQueryOptionA(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &flags, &length);
    flags |= SECURITY_FLAG_IGNORE_UNKNOWN_CA;
    InternetSetOptionA(m_hRequest, INTERNET_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
}

void TransferSession::AnswerCertificatePrompt(DWORD error) {
    if (error == ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED) SelectClientCertificate();
    if (error == ERROR_INTERNET_INVALID_CA) IgnoreUnknownAuthority();
}

DWORD TransferSession::ShowProxyDialog() {
    return InternetErrorDlg(GetDesktopWindow(), m_hRequest, 407, kDialogFlags, nullptr);
}

bool TransferSession::ApplyProxyCredentials() {
    HINTERNET connection = m_hConnect;
    HINTERNET request = m_hRequest;
    // The length counts the terminating zero.
    auto set = [&](DWORD option, const std::string& text) {
        if (connection == nullptr) return;
        DWORD length = static_cast<DWORD>(text.size() + 1);
        InternetSetOptionA(connection, option, const_cast<char*>(text.c_str()), length);
        if (request != nullptr) {
            InternetSetOptionA(request, option, const_cast<char*>(text.c_str()), length);
        }
    };
    set(INTERNET_OPTION_PROXY_USERNAME, m_proxyUser);
    set(INTERNET_OPTION_PROXY_PASSWORD, m_proxyPassword);
    return true;
}

bool TransferSession::FollowRedirect(HINTERNET request) {
    if (confirmedRedirects >= kMostConfirmedRedirects) return false;
    char location[1025] = {};
    DWORD length = 1024;
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, location, &length, nullptr)) return false;
    struct Nesting {
        Nesting() { ++confirmedRedirects; }
        ~Nesting() { --confirmedRedirects; }
        Nesting(const Nesting&) = delete;
        Nesting& operator=(const Nesting&) = delete;
    } nesting;
    return SendRequest(location, RequestGet, nullptr);
}

void TransferSession::ReportOnRequest(const char* text) {
    ReportRequestFailure(m_host.c_str(), static_cast<std::int32_t>(m_port), m_mode,
                         m_lastPath.c_str(), text);
}
