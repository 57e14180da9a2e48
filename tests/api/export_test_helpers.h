// What the export tests share: the library's trace routed to a file they read back, handles and
// handed-out buffers that release themselves, servers that answer every request alike, and the
// multipart body a request should carry, built independently of the library.
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

using testing_support::HttpResponse;
using testing_support::ParsedRequest;
using testing_support::ParseRequest;
using testing_support::ReadFileBytes;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

// Every session of the library writes the user's HTTP/1.1 settings; the suite keeps them in the
// build tree instead of the real user's store, unless the caller chose a folder.
inline void KeepSettingsInBuildTree() {
    setenv("ZEMUSER_SETTINGS_DIR", ZEMUSER_BINARY_DIR "/tests/api_tests_settings", 0);
}

// The library's trace in a temporary file at the given threshold, for one test.
class TraceFile {
  public:
    explicit TraceFile(std::int32_t level = 0) : path_(folder_.File("trace.txt")) {
        ZEMUser_SetTraceLevel(level);
        ZEMUser_SetTraceFile(path_.c_str());
    }
    ~TraceFile() {
        ZEMUser_SetTraceFile(nullptr);
        ZEMUser_SetTraceLevel(0);
    }
    TraceFile(const TraceFile&) = delete;
    TraceFile& operator=(const TraceFile&) = delete;

    std::string Text() const { return ReadFileBytes(path_); }
    // The lines without the failure reports of the engine, whose platform texts are not the
    // exports' concern: their lines start with "[", and the platform's text brings its own line
    // end, which leaves an empty line after it.
    std::string OwnLines() const {
        std::istringstream in(Text());
        std::string line, kept;
        while (std::getline(in, line)) {
            if (!line.empty() && line.front() != '[') kept += line + "\n";
        }
        return kept;
    }
    bool Contains(const std::string& text) const { return Text().find(text) != std::string::npos; }

  private:
    TempDir folder_;
    std::string path_;
};

struct HandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using OwnedHandle = std::unique_ptr<void, HandleEnder>;
inline OwnedHandle BeginHandle() {
    return OwnedHandle(ZEMTransferBegin());
}

struct BufferReleaser {
    void operator()(char* buffer) const { ZEMReleaseBuffer(buffer); }
};
using HandedBuffer = std::unique_ptr<char, BufferReleaser>;

// Reads each request and answers it with `response`.
inline ScriptedServer::Script Answer(std::string response) {
    return [response](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send(response);
    };
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

// The multipart body as a server must receive it.
constexpr const char kDelimiter[] = "----MULTI-PARTS-FORM-DATA-BOUNDARY";
inline std::string TextPart(const std::string& name, const std::string& value) {
    return std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" + name +
           "\"\r\n\r\n" + value + "\r\n";
}
// A file that could not be opened gives the header alone.
inline std::string FilePart(const std::string& name, const std::string& fileName,
                            const std::string* content) {
    std::string part = std::string(kDelimiter) + "\r\nContent-Disposition: form-data; name=\"" +
                       name + "\"; filename=\"" + fileName + "\"\r\n\r\n";
    if (content != nullptr) part += *content + "\r\n";
    return part;
}
inline std::string ClosingDelimiter() {
    return std::string(kDelimiter) + "--\r\n";
}

// Runs the host probe (a host process of its own, see probes/host_probe.cpp) with its settings
// in `settings` and gives what it printed.
inline std::string RunHostProbe(const TempDir& settings, const std::string& commands) {
    const std::string command = "ZEMUSER_SETTINGS_DIR='" + settings.path() +
                                "' " ZEMUSER_BINARY_DIR "/tests/host_probe " + commands;
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return "popen failed";
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) output += line;
    const int status = pclose(pipe);
    if (status != 0) output += "exit status " + std::to_string(status) + "\n";
    return output;
}

// The one request a server received, parsed; a failed expectation when there is not exactly one.
inline ParsedRequest OnlyRequest(const ScriptedServer& server) {
    const std::vector<std::string> requests = server.requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? ParsedRequest{} : ParseRequest(requests.front());
}

}  // namespace export_testing
