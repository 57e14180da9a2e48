// URL splitting on any text (no crash, the limits), and on URLs assembled from parts the fuzzer
// picks (scheme and host in any case, user information, ports in and out of range, dot segments,
// unsafe bytes, query, fragment, blanks around) against the canonical parts worked out here.
#include <fuzzer/FuzzedDataProvider.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "session/connect_mode.h"
#include "session/url_split.h"

namespace {

using namespace zemuser;

constexpr std::size_t kLongestPart = 2083;

struct Split {
    explicit Split(const std::string& url)
        : ok(SplitUrl(url.c_str(), &service, &host, &path, &port)) {}
    std::uint32_t service = 0;
    std::string host, path;
    std::uint16_t port = 0;
    bool ok;
};

std::string Pick(FuzzedDataProvider& in, const std::string& letters, std::size_t least,
                 std::size_t most) {
    std::string text(in.ConsumeIntegralInRange(least, most), ' ');
    for (char& c : text) c = letters[in.ConsumeIntegralInRange<std::size_t>(0, letters.size() - 1)];
    return text;
}

std::string RandomCase(FuzzedDataProvider& in, std::string text) {
    for (char& c : text) c = in.ConsumeBool() ? static_cast<char>(std::toupper(c)) : c;
    return text;
}

// Segments joined with "." and ".." applied (never above the root) and unsafe bytes as %XX.
std::string CanonicalPath(const std::vector<std::string>& segments) {
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const bool dots = segments[i] == "." || segments[i] == "..";
        if (segments[i] == ".." && !kept.empty()) kept.pop_back();
        if (!dots) kept.push_back(segments[i]);
        if (dots && i + 1 == segments.size()) kept.emplace_back();  // "/a/.." is "/"
    }
    std::string path = kept.empty() ? "/" : "";
    for (const std::string& segment : kept) {
        path += '/';
        for (unsigned char c : segment) {
            static const char kHex[] = "0123456789ABCDEF";
            const bool unsafe = c <= 0x20 || c >= 0x7F || std::strchr("\"<>\\^`{|}", c) != nullptr;
            path += unsafe ? std::string{'%', kHex[c >> 4], kHex[c & 15]} : std::string(1, c);
        }
    }
    return path;
}

void CheckBuiltUrl(FuzzedDataProvider& in) {
    const std::string blanks = " \t\r\n\x01\x1f";
    const bool https = in.ConsumeBool();
    std::string url = Pick(in, blanks, 0, 2) + RandomCase(in, https ? "https" : "http") + "://";
    if (in.ConsumeBool()) url += Pick(in, "abc:%@!", 1, 8) + "@";  // never part of the host
    const bool named = in.ConsumeBool();
    const std::string host =
        named ? Pick(in, "abcdefghijklmnopqrstuvwxyz0123456789.-", 1, 40) : "::ffff:7f00:1";
    url += named ? RandomCase(in, host) : "[" + RandomCase(in, host) + "]";
    const int portChoice = in.ConsumeIntegralInRange(0, 2);  // none, empty, a number
    const auto number = in.ConsumeIntegralInRange<unsigned>(0, 70000);
    if (portChoice > 0) url += ":";
    if (portChoice == 2) url += std::to_string(number);
    std::vector<std::string> segments;
    for (int count = in.ConsumeIntegralInRange(0, 6); count > 0; --count) {
        const auto dots = in.ConsumeIntegralInRange<std::size_t>(0, 3);  // "." or "..", or none
        segments.push_back(dots > 0 && dots < 3
                               ? std::string(dots, '.')
                               : Pick(in, "az09-_~.!$&'()*+,;=:@ \"<>\\^`{|}\x7f\x80\xff", 1, 12));
        url += "/" + segments.back();
    }
    std::string tail = !in.ConsumeBool() ? ""
                                         : (in.ConsumeBool() ? "?" : "#") +
                                               fuzz::AsCText(in.ConsumeRandomLengthString(40));
    const std::string trailing = Pick(in, blanks, 0, 2);
    url += tail + trailing;
    if (!tail.empty()) {
        tail += trailing;
    } else if (!segments.empty()) {  // blanks at the end go, unless a query or fragment holds them
        std::string& last = segments.back();
        while (!last.empty() && static_cast<unsigned char>(last.back()) <= 0x20) last.pop_back();
    }
    const Split split(url);
    FUZZ_CHECK(split.ok == (portChoice < 2 || (number >= 1 && number <= 65535)));
    if (!split.ok) return;
    FUZZ_CHECK(split.service == (https ? ServiceHttps : ServiceHttp));
    FUZZ_CHECK(split.host == host);
    FUZZ_CHECK(split.port == (portChoice == 2 ? number : https ? 443 : 80));
    FUZZ_CHECK(split.path == CanonicalPath(segments) + tail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Any text: a failure leaves no service, and the limits hold.
    const Split any(fuzz::AsCText(fuzz::Bytes(data, size)));
    FUZZ_CHECK(any.ok || any.service == ServiceUnknown);
    FUZZ_CHECK(any.host.size() <= kLongestPart && any.path.size() <= kLongestPart);
    FuzzedDataProvider in(data, size);
    CheckBuiltUrl(in);
    return 0;
}
