#include "session/transfer_session.h"

#include <cstdint>

#include "session/failure_report.h"
#include "session/http_version_override.h"

namespace {

constexpr const char kOpenInternetFailed[] = "open internet failed...";
constexpr const char kConnectFailed[] = "connect failed...";
constexpr const char kUnknownException[] = "unknown exception...";

std::uint32_t DefaultPort(ConnectMode mode) {
    return mode == ModeHttps ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
}

// Takes the handle out of the member and closes it. The exchange makes sure that a
// transferring and a cancelling thread never both close the same handle.
void CloseAndClear(std::atomic<HINTERNET>& member) {
    HINTERNET handle = member.load();
    if (!IsOpenHandle(handle)) return;
    if (member.compare_exchange_strong(handle, nullptr)) InternetCloseHandle(handle);
}

}  // namespace

bool IsOpenHandle(HINTERNET handle) {
    return handle != nullptr && handle != reinterpret_cast<HINTERNET>(INVALID_HANDLE_VALUE);
}

TransferSession::TransferSession() {
    HttpVersionOverride::Instance().Acquire();
}

TransferSession::~TransferSession() {
    ClearFields();
    ClearCookies();
    HttpVersionOverride::Instance().Release();
}

bool TransferSession::Connect(const char* host, std::uint32_t port, const char* user,
                              const char* password, ConnectMode mode, const char* agent) {
    try {
        m_hInternet = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!IsOpenHandle(m_hInternet)) throw kOpenInternetFailed;

        std::uint32_t effectivePort = port != 0 ? port : DefaultPort(mode);
        m_hConnect = InternetConnectA(m_hInternet, host, static_cast<INTERNET_PORT>(effectivePort),
                                      user, password, INTERNET_SERVICE_HTTP, 0, 0);
        if (!IsOpenHandle(m_hConnect)) throw kConnectFailed;
        if (InternetAttemptConnect(0) != 0) throw kConnectFailed;

        m_host = host;
        m_port = effectivePort;
        m_mode = mode;
        if (user != nullptr) m_user = user;
        if (password != nullptr) m_password = password;
        ClearCookies();
        ClearFields();
        return true;
    } catch (const char* text) {
        CloseAndClear(m_hInternet);
        CloseAndClear(m_hConnect);
        ReportConnectionFailure(host, static_cast<std::int32_t>(port), mode, text);
    } catch (...) {
        CloseAndClear(m_hInternet);
        CloseAndClear(m_hConnect);
        ReportConnectionFailure(host, static_cast<std::int32_t>(port), mode, kUnknownException);
    }
    return false;
}

bool TransferSession::SendRequest(const char* path, RequestKind kind, const char* referrer) {
    const char* failure = nullptr;
    try {
        bool sent = false;
        switch (kind) {
            case RequestGet:
                sent = Get(path, referrer);
                break;
            case RequestForm:
                sent = PostForm(path, referrer);
                break;
            case RequestMultipart:
                sent = PostMultipart(path, referrer);
                break;
            default:
                CloseAndClear(m_hRequest);
                return false;
        }
        if (sent) {
            m_lastPath = path;
            return true;
        }
        CloseAndClear(m_hRequest);
        return false;
    } catch (const char* text) {
        failure = text;
    } catch (...) {
        failure = kUnknownException;
    }
    CloseAndClear(m_hRequest);
    ReportRequestFailure(m_host.c_str(), static_cast<std::int32_t>(m_port), m_mode, path, failure);
    return false;
}

void TransferSession::CloseHandles() {
    m_cancelled = true;
    CloseAndClear(m_hRequest);
    CloseAndClear(m_hConnect);
    CloseAndClear(m_hInternet);
}

void TransferSession::ClearFields() {
    m_fields.Clear();
}

void TransferSession::ClearCookies() {
    m_cookies.Clear();
}

void TransferSession::SetProxyCredentials(const char* user, const char* password) {
    m_proxyUser = user != nullptr ? user : "";
    m_proxyPassword = password != nullptr ? password : "";
}

void TransferSession::AddFormField(const char* name, std::int32_t value) {
    m_fields.Append(FormField::FromInteger(name, value));
}

void TransferSession::AddFormField(const char* name, const char* value, bool isFile) {
    m_fields.Append(FormField::FromText(name, value, isFile));
}

void TransferSession::AddFormField(const char* name, const WCHAR* value, bool isFile) {
    m_fields.Append(FormField::FromWideText(name, value, isFile));
}
