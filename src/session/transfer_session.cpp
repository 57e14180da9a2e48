#include "session/transfer_session.h"

#include <cstdint>

#include "session/failure_report.h"
#include "session/http_version_override.h"

namespace zemuser {
namespace {

constexpr const char kOpenInternetFailed[] = "open internet failed...";
constexpr const char kConnectFailed[] = "connect failed...";
constexpr const char kUnknownException[] = "unknown exception...";

std::uint32_t DefaultPort(ConnectMode mode) {
    return mode == ConnectMode::ModeHttps ? 443 : 80;
}

}  // namespace

TransferSession::TransferSession() {
    HttpVersionOverride::Instance().Acquire();
}

TransferSession::~TransferSession() {
    ClearFields();
    ClearCookies();
    HttpVersionOverride::Instance().Release();
}

std::optional<Failure> TransferSession::OpenConnection(const char* host, std::uint16_t port,
                                                       const char* user, const char* password,
                                                       const char* agent) {
    platform::ErrorCode code = platform::kNoError;
    auto root = platform::OpenInternet(agent, &code);
    m_hInternet.Store(root);
    if (!root) return Failure{kOpenInternetFailed, code};
    auto connection = root->Connect(host, port, user, password, &code);
    m_hConnect.Store(connection);
    if (!connection) return Failure{kConnectFailed, code};
    code = platform::AttemptConnect();
    if (code != platform::kNoError) return Failure{kConnectFailed, code};
    return std::nullopt;
}

bool TransferSession::Connect(const char* host, std::uint32_t port, const char* user,
                              const char* password, ConnectMode mode, const char* agent) {
    std::optional<Failure> failure;
    try {
        const std::uint32_t effectivePort = port != 0 ? port : DefaultPort(mode);
        failure =
            OpenConnection(host, static_cast<std::uint16_t>(effectivePort), user, password, agent);
        if (!failure) {
            m_host = host;
            m_port = effectivePort;
            m_mode = static_cast<std::uint32_t>(mode);
            if (user != nullptr) m_user = user;
            if (password != nullptr) m_password = password;
            ClearCookies();
            ClearFields();
            return true;
        }
    } catch (...) {  // memory ran out
        failure = Failure{kUnknownException};
    }
    m_hInternet.CloseAndClear();
    m_hConnect.CloseAndClear();
    ReportConnectionFailure(host, static_cast<std::int32_t>(port), static_cast<std::uint32_t>(mode),
                            *failure);
    return false;
}

bool TransferSession::SendRequest(const char* path, RequestKind kind, const char* referrer) {
    std::optional<Failure> failure;
    try {
        RequestResult result = RequestResult::Unanswered();
        switch (kind) {
            case RequestKind::RequestGet:
                result = Get(path, referrer);
                break;
            case RequestKind::RequestForm:
                result = PostForm(path, referrer);
                break;
            case RequestKind::RequestMultipart:
                result = PostMultipart(path, referrer);
                break;
        }
        if (result.answered()) {
            m_lastPath = path;
            return true;
        }
        failure = result.failure();
    } catch (...) {
        failure = Failure{kUnknownException};
    }
    m_hRequest.CloseAndClear();
    if (failure) {
        ReportRequestFailure(m_host.c_str(), static_cast<std::int32_t>(m_port), m_mode, path,
                             *failure);
    }
    return false;
}

void TransferSession::CloseHandles() {
    m_cancelled = true;
    m_hRequest.CloseAndClear();
    m_hConnect.CloseAndClear();
    m_hInternet.CloseAndClear();
}

void TransferSession::ClearFields() {
    m_fields.clear();
}

void TransferSession::ClearCookies() {
    m_cookies.clear();
}

void TransferSession::SetProxyCredentials(const char* user, const char* password) {
    m_proxyUser = user != nullptr ? user : "";
    m_proxyPassword = password != nullptr ? password : "";
}

void TransferSession::AddFormField(const char* name, std::int32_t value) {
    m_fields.push_back(FormField::FromInteger(name, value));
}

void TransferSession::AddFormField(const char* name, const char* value, bool isFile) {
    m_fields.push_back(FormField::FromText(name, value, isFile));
}

void TransferSession::AddFormField(const char* name, const platform::WideChar* value, bool isFile) {
    m_fields.push_back(FormField::FromWideText(name, value, isFile));
}

}  // namespace zemuser
