#include "platform/posix/http/proxy_choice.h"

#include <arpa/inet.h>

#include <cstdlib>
#include <cstring>

#include "platform/posix/http/text_rules.h"

namespace zemuser::platform::http {
namespace {

// The first variable that is set; set but empty still counts, and means "none".
std::string FirstSet(std::initializer_list<const char*> names) {
    for (const char* name : names) {
        if (const char* value = std::getenv(name)) return value;
    }
    return std::string();
}

struct Address {
    int family = 0;
    unsigned char bytes[16] = {};
};

bool ParseAddress(const std::string& text, Address* address) {
    for (int family : {AF_INET, AF_INET6}) {
        if (inet_pton(family, text.c_str(), address->bytes) == 1) {
            address->family = family;
            return true;
        }
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

// Names match on whole labels: "example.com" covers "www.example.com", not "badexample.com".
bool NameMatches(const std::string& host, std::string token) {
    if (!token.empty() && token.front() == '.') token.erase(0, 1);
    if (!token.empty() && token.back() == '.') token.pop_back();
    if (token.empty() || token.size() > host.size()) return false;
    if (token.size() == host.size()) return EqualsIgnoreCase(token, host);
    const std::size_t start = host.size() - token.size();
    return host[start - 1] == '.' && EqualsIgnoreCase(host.substr(start), token);
}

bool HostBypassesProxy(std::string host, const std::string& noProxy) {
    if (noProxy.empty()) return false;
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

}  // namespace

ProxyChoice ChooseProxy(bool secure, const std::string& host) {
    const std::string proxy =
        secure ? FirstSet({"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
               : FirstSet({"http_proxy", "all_proxy", "ALL_PROXY"});
    ProxyChoice choice;
    if (proxy.empty() || HostBypassesProxy(host, FirstSet({"no_proxy", "NO_PROXY"}))) {
        return choice;
    }
    choice.url = proxy;
    const std::size_t separator = proxy.find("://");
    const std::string scheme =
        separator == std::string::npos ? "http" : ToLower(proxy.substr(0, separator));
    choice.speaksHttp = scheme == "http" || scheme == "https";
    return choice;
}

}  // namespace zemuser::platform::http
