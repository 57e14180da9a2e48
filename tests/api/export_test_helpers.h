// What the export tests share: handles and handed-out buffers that release themselves, and the
// support library's trace file, answering servers and multipart reference.
#pragma once

#include <gtest/gtest.h>
#include <zemuser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZEMUSER_TEST_UNDER_TSAN 1
#endif
#if __has_feature(address_sanitizer)
#define ZEMUSER_TEST_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define ZEMUSER_TEST_UNDER_TSAN 1
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZEMUSER_TEST_UNDER_ASAN 1
#endif

namespace export_testing {

using testing_support::Answer;
using testing_support::ClosingDelimiter;
using testing_support::FilePart;
using testing_support::HandedBuffer;
using testing_support::HttpResponse;
using testing_support::kDelimiter;
using testing_support::OwnedHandle;
using testing_support::ParsedRequest;
using testing_support::ParseRequest;
using testing_support::ReadFileBytes;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;
using testing_support::TextPart;
using testing_support::TraceFile;
using testing_support::WriteFileBytes;

// Every session of the library writes the user's HTTP/1.1 settings; the suite keeps them in the
// build tree instead of the real user's store, unless the caller chose a folder.
inline void KeepSettingsInBuildTree() {
    setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/api_tests_settings", 0);
}

inline OwnedHandle BeginHandle() {
    return OwnedHandle(ZEMTransferBegin());
}

// A URL on a loopback port where nothing listens: every send is refused.
inline std::string RefusedUrl(const std::string& path = "/x") {
    return "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + path;
}

// Bytes 0..255 repeating, so that misplaced or lost bytes show.
inline std::string PatternBytes(std::size_t size, unsigned seed = 0) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return bytes;
}

// ASCII text as UTF-16 code units, for composing wide paths.
inline std::u16string Widen(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// The user agent the POST requests name, and the type of every multipart body.
constexpr const char kPostAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)";
constexpr const char kMultipartType[] =
    "multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY";

// Runs the host probe (a host process of its own, see probes/host_probe.cpp) with its settings
// in `settings` and gives what it printed.
inline std::string RunHostProbe(const TempDir& settings, const std::string& commands) {
    return testing_support::RunCommand("ZEMUSER_SETTINGS_DIR='" + settings.path() +
                                       "' " ZEMUSER_BINARY_DIR "/tests/host_probe " + commands);
}

// The one request a server received, parsed; a failed expectation when there is not exactly one.
inline ParsedRequest OnlyRequest(const ScriptedServer& server) {
    const std::vector<std::string> requests = server.requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? ParsedRequest{} : ParseRequest(requests.front());
}

}  // namespace export_testing
