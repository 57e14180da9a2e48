#include "url_argument.h"

#include <string_view>

namespace {

bool HasHostAfter(std::string_view url, std::string_view scheme) {
    if (url.substr(0, scheme.size()) != scheme || url.size() == scheme.size()) return false;
    const char first = url[scheme.size()];
    return first != '/' && first != '?' && first != '#';
}

}  // namespace

// The library matches the scheme case-sensitively, so "HTTP://" is refused here too rather
// than failing later without a reason.
const CLI::Validator kUrlArgument(
    [](std::string& argument) -> std::string {
        if (HasHostAfter(argument, "http://") || HasHostAfter(argument, "https://")) return "";
        return "expected http://HOST[:PORT][/PATH] or https://HOST[:PORT][/PATH], got '" +
               argument + "'";
    },
    "");  // the argument's help already names both schemes
