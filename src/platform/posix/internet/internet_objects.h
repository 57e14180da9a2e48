// What each kind of handle holds: the root (agent, proxy choice), the connection (server,
// proxy credentials) and the request (its line, headers, flags and current exchange).
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/posix/internet/cancel_signal.h"
#include "platform/posix/internet/exchange.h"
#include "platform/posix/internet/internet_handles.h"
#include "platform/posix/internet/proxy_settings.h"
#include "platform/posix/internet/request_headers.h"
#include "platform/posix/internet/send_state.h"

namespace platform::internet {

// Proxy credentials (options 43 and 44) and the scheme the proxy last asked for.
struct ProxyCredentials {
    std::optional<std::string> user;
    std::optional<std::string> password;
};

class RootObject : public InternetObject {
  public:
    RootObject() : InternetObject(HandleKind::Root) {}
    std::string agent;
    ProxySettings proxy;
};

class ConnectionObject : public InternetObject {
  public:
    ConnectionObject() : InternetObject(HandleKind::Connection) {}
    std::shared_ptr<InternetObject> Parent() const override { return root; }

    std::shared_ptr<RootObject> root;
    std::string host;
    INTERNET_PORT port = 0;
    std::string user, password;  // server credentials given to the connect call

    std::mutex optionsMutex;  // guards the two below
    ProxyCredentials proxyCredentials;
    unsigned long proxyAuthSchemes = CURLAUTH_ANY;
};

class RequestObject : public InternetObject {
  public:
    RequestObject() : InternetObject(HandleKind::Request) {}
    std::shared_ptr<InternetObject> Parent() const override { return connection; }

    std::shared_ptr<ConnectionObject> connection;
    std::mutex callMutex;  // one call at a time works on the request's state

    std::string verb;
    std::string target;  // the object name as it goes on the request line
    bool http11 = false;
    DWORD flags = 0;
    RequestHeaders headers;
    DWORD securityFlags = 0;
    bool clientCertChosen = false;
    ProxyCredentials proxyCredentials;
    unsigned long proxyAuthSchemes = CURLAUTH_ANY;

    CancelSignal cancel;
    std::unique_ptr<Exchange> exchange;  // the current (or last) answer
    PartsInProgress parts;

  protected:
    void OnClose() override { cancel.Raise(); }
};

}  // namespace platform::internet
