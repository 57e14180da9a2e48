#include "platform/posix/http/proxy_choice.h"

#include <algorithm>
#include <cstdlib>

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

// The no-proxy list as the transfer library documents it: "*" covers every host, a name covers
// itself and the names under it ("example.com" covers "www.example.com", not
// "badexample.com"), an address covers only itself.
bool HostBypassesProxy(std::string_view host, std::string_view list) {
    if (!host.empty() && host.back() == '.') host.remove_suffix(1);
    const bool isAddress = host.find(':') != std::string_view::npos ||
                           host.find_first_not_of("0123456789.") == std::string_view::npos;
    while (!list.empty()) {
        const std::size_t end = std::min(list.find_first_of(", \t"), list.size());
        std::string_view token = list.substr(0, end);
        list.remove_prefix(std::min(end + 1, list.size()));
        if (token == "*") return true;
        if (token.size() > 2 && token.front() == '[' && token.back() == ']') {
            token = token.substr(1, token.size() - 2);
        }
        if (!token.empty() && token.front() == '.') token.remove_prefix(1);
        if (!token.empty() && token.back() == '.') token.remove_suffix(1);
        if (token.empty() || token.size() > host.size()) continue;
        const std::size_t start = host.size() - token.size();
        const bool wholeLabels = start == 0 || (!isAddress && host[start - 1] == '.');
        if (wholeLabels && EqualsIgnoreCase(host.substr(start), token)) return true;
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
