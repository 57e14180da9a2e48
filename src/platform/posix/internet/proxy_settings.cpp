#include "platform/posix/internet/proxy_settings.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/internet/url_scheme.h"
#include "platform/posix/wininet.h"

namespace platform::internet {
namespace {

const char* Environment(const char* name) {
    return std::getenv(name);
}

// The proxy variable for a scheme: set but empty still counts as set, and means "none".
std::string ProxyFromEnvironment(bool secure) {
    const char* value = secure ? Environment("https_proxy") : Environment("http_proxy");
    if (value == nullptr && secure) value = Environment("HTTPS_PROXY");
    if (value == nullptr) value = Environment("all_proxy");
    if (value == nullptr) value = Environment("ALL_PROXY");
    return value == nullptr ? std::string() : std::string(value);
}

std::string NoProxyFromEnvironment() {
    const char* value = Environment("no_proxy");
    if (value == nullptr) value = Environment("NO_PROXY");
    return value == nullptr ? std::string() : std::string(value);
}

struct Address {
    int family = 0;
    unsigned char bytes[16] = {};
};

bool ParseAddress(const std::string& text, Address* address) {
    if (inet_pton(AF_INET, text.c_str(), address->bytes) == 1) {
        address->family = AF_INET;
        return true;
    }
    if (inet_pton(AF_INET6, text.c_str(), address->bytes) == 1) {
        address->family = AF_INET6;
        return true;
    }
    return false;
}

bool AddressMatches(const Address& host, std::string token) {
    int bits = -1;
    const std::size_t slash = token.find('/');
    if (slash != std::string::npos) {
        bits = static_cast<int>(std::strtol(token.c_str() + slash + 1, nullptr, 10));
        token.resize(slash);
    }
    if (token.size() > 2 && token.front() == '[' && token.back() == ']') {
        token = token.substr(1, token.size() - 2);
    }
    Address net;
    if (!ParseAddress(token, &net) || net.family != host.family) return false;
    const int width = host.family == AF_INET ? 32 : 128;
    if (bits < 0 || bits > width) bits = width;
    const int whole = bits / 8;
    if (std::memcmp(host.bytes, net.bytes, static_cast<std::size_t>(whole)) != 0) return false;
    const int remaining = bits % 8;
    if (remaining == 0) return true;
    const unsigned char mask = static_cast<unsigned char>(0xFF << (8 - remaining));
    return (host.bytes[whole] & mask) == (net.bytes[whole] & mask);
}

bool NameMatches(const std::string& host, std::string token) {
    if (!token.empty() && token.front() == '.') token.erase(0, 1);
    if (!token.empty() && token.back() == '.') token.pop_back();
    if (token.empty()) return false;
    if (token.size() == host.size()) return EqualsIgnoreCase(token, host);
    if (token.size() > host.size()) return false;
    const std::size_t start = host.size() - token.size();
    return host[start - 1] == '.' && EqualsIgnoreCase(host.substr(start), token);
}

}  // namespace

bool HostBypassesProxy(const std::string& rawHost, const std::string& noProxy) {
    if (noProxy.empty()) return false;
    if (noProxy == "*") return true;
    std::string host = rawHost;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    if (!host.empty() && host.back() == '.') host.pop_back();
    Address address;
    const bool isAddress = ParseAddress(host, &address);

    std::size_t pos = 0;
    while (pos < noProxy.size()) {
        const std::size_t end = noProxy.find_first_of(", \t;", pos);
        const std::string token =
            noProxy.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? noProxy.size() : end + 1;
        if (token.empty()) continue;
        if (token == "*" || (token == "<local>" && host.find('.') == std::string::npos)) {
            return true;
        }
        if (isAddress ? AddressMatches(address, token) : NameMatches(host, token)) return true;
    }
    return false;
}

ProxyChoice ChooseProxy(const ProxySettings& settings, bool secure, const std::string& host) {
    std::string proxy, bypass;
    switch (settings.accessType) {
        case INTERNET_OPEN_TYPE_PRECONFIG:
            proxy = ProxyFromEnvironment(secure);
            bypass = NoProxyFromEnvironment();
            break;
        case INTERNET_OPEN_TYPE_PROXY:
            proxy = settings.proxy;
            bypass = settings.bypass;
            break;
        default:
            break;
    }
    ProxyChoice choice;
    if (proxy.empty() || HostBypassesProxy(host, bypass)) return choice;
    choice.url = proxy;
    const std::size_t separator = proxy.find("://");
    const std::string scheme =
        separator == std::string::npos ? "http" : ToLower(proxy.substr(0, separator));
    choice.speaksHttp = scheme == "http" || scheme == "https";
    return choice;
}

}  // namespace platform::internet
