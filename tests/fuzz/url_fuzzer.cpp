// URL splitting on any text: no crash, host and path within their limits, and for URLs built
// from known parts (the fuzzer's bytes choose them) exactly those parts back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "session/connect_mode.h"
#include "session/url_split.h"

namespace {

using namespace zemuser;

constexpr std::size_t kLongestPart = 2083;

// Any text: only the limits and the invariants of a split.
void CheckAnyText(const std::string& url) {
    std::uint32_t service = 0;
    std::string host, path;
    std::uint16_t port = 0;
    if (!SplitUrl(url.c_str(), &service, &host, &path, &port)) {
        FUZZ_CHECK(service == ServiceUnknown);
        return;
    }
    FUZZ_CHECK(host.size() <= kLongestPart && path.size() <= kLongestPart);
    if (service == ServiceHttp || service == ServiceHttps) {
        FUZZ_CHECK(port != 0);
        for (char c : host) FUZZ_CHECK(!(c >= 'A' && c <= 'Z'));  // lower-cased
        // Before the query or fragment, nothing that could split the request line is left raw.
        const std::string beforeQuery = path.substr(0, path.find_first_of("?#"));
        for (char c : beforeQuery) FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20);
    }
}

std::string Pick(FuzzedDataProvider& in, const char* alphabet, std::size_t most) {
    std::string text;
    const std::size_t length = in.ConsumeIntegralInRange<std::size_t>(1, most);
    const std::string letters(alphabet);
    for (std::size_t i = 0; i < length; ++i) {
        text += letters[in.ConsumeIntegralInRange<std::size_t>(0, letters.size() - 1)];
    }
    return text;
}

// A URL made of parts that canonicalisation leaves alone: the same parts must come back.
void CheckBuiltUrl(FuzzedDataProvider& in) {
    const bool https = in.ConsumeBool();
    const std::string host = Pick(in, "abcdefghijklmnopqrstuvwxyz0123456789.-", 40);
    const bool explicitPort = in.ConsumeBool();
    const auto port = in.ConsumeIntegralInRange<std::uint16_t>(1, 65535);
    std::string path;
    for (int segments = in.ConsumeIntegralInRange(0, 4); segments > 0; --segments) {
        path += "/" + Pick(in, "abcdefghijklmnopqrstuvwxyz0123456789-_~%", 12);
    }
    if (path.empty()) path = "/";
    if (in.ConsumeBool()) path += "?" + Pick(in, "abcdefghijklmnopqrstuvwxyz0123456789=&/.", 30);
    std::string url = https ? "https://" : "http://";
    url += host;
    if (explicitPort) url += ":" + std::to_string(port);
    url += path;

    std::uint32_t service = 0;
    std::string gotHost, gotPath;
    std::uint16_t gotPort = 0;
    FUZZ_CHECK(SplitUrl(url.c_str(), &service, &gotHost, &gotPath, &gotPort));
    FUZZ_CHECK(service == (https ? ServiceHttps : ServiceHttp));
    FUZZ_CHECK(gotHost == host);
    FUZZ_CHECK(gotPath == path);
    FUZZ_CHECK(gotPort == (explicitPort ? port : (https ? 443 : 80)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckAnyText(fuzz::AsCText(std::string(reinterpret_cast<const char*>(data), size)));
    FuzzedDataProvider in(data, size);
    CheckBuiltUrl(in);
    return 0;
}
