// Which proxy, if any, a request goes through. The environment is read with the transfer
// library's own rules, so a request and a command-line transfer in the same environment take
// the same road: lower-case http_proxy only (an upper-case HTTP_PROXY is ignored on purpose),
// https_proxy or HTTPS_PROXY, then all_proxy or ALL_PROXY; no_proxy or NO_PROXY.
#pragma once

#include <string>

namespace zemuser::platform::http {

struct ProxyChoice {
    std::string url;          // empty: straight to the server
    bool speaksHttp = false;  // an HTTP proxy: plain requests name the whole URL, TLS tunnels
};

ProxyChoice ChooseProxy(bool secure, const std::string& host);

}  // namespace zemuser::platform::http
