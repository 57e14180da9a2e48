// Which proxy, if any, a request goes through. The environment is read with the rules of the
// transfer library itself, so a request and a command-line transfer in the same environment
// take the same road: lower-case http_proxy only (an upper-case HTTP_PROXY is ignored on
// purpose), https_proxy or HTTPS_PROXY, then all_proxy or ALL_PROXY; no_proxy or NO_PROXY.
#pragma once

#include <string>

#include "platform/posix/windows_types.h"

namespace platform::internet {

struct ProxySettings {
    DWORD accessType = 0;  // INTERNET_OPEN_TYPE_*
    std::string proxy;     // for INTERNET_OPEN_TYPE_PROXY
    std::string bypass;
};

struct ProxyChoice {
    std::string url;          // empty: straight to the server
    bool speaksHttp = false;  // an HTTP proxy: plain requests take the absolute form
};

ProxyChoice ChooseProxy(const ProxySettings& settings, bool secure, const std::string& host);

// True when `host` matches the no-proxy list ("*", names matched on whole labels, addresses
// with an optional prefix length).
bool HostBypassesProxy(const std::string& host, const std::string& noProxy);

}  // namespace platform::internet
