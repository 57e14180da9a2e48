// What the export tables share (portable C++ only): servers, trace file, folders, one way to call.
#pragma once

#include <gtest/gtest.h>
#include <zemuser.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <type_traits>

#include "support/library_helpers.h"
#include "support/multipart_reference.h"
#include "support/scripted_server.h"

using namespace testing_support;
namespace fs = std::filesystem;
using WideString = std::basic_string<ZEMWideChar>;

#ifndef _WIN32  // Windows keeps the settings in the registry
// Sessions write the user's HTTP/1.1 settings into a folder of this program's own, below the
// chosen store or the build tree: other suites running side by side hold them off meanwhile.
// Every run starts with none stored.
inline const std::string kSettingsFolder =
    std::string(std::getenv("ZEMUSER_SETTINGS_DIR") != nullptr ? std::getenv("ZEMUSER_SETTINGS_DIR")
                                                               : ZEMUSER_BINARY_DIR "/tests") +
    "/settings-" + program_invocation_short_name;
inline const std::string kHttp11File =
    kSettingsFolder +
    "/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet "
    "Settings.reg";
inline const ScopedEnv kSettingsKept("ZEMUSER_SETTINGS_DIR",
                                     (fs::remove(kHttp11File), kSettingsFolder));
#endif

// Under WinINet, which meets some rows in its own way (ZEMWideChar is wchar_t on Windows alone).
constexpr bool kWindows = std::is_same_v<ZEMWideChar, wchar_t>;

inline OwnedHandle BeginHandle() {
    return OwnedHandle(ZEMTransferBegin());
}

// A loopback URL where nothing listens: every send is refused.
inline std::string RefusedUrl(const std::string& path = "/x") {
    return "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + path;
}

inline WideString Widen(const std::string& ascii) {
    return WideString(ascii.begin(), ascii.end());
}

// `text` with every `key` replaced by `value`.
inline std::string Replaced(std::string text, const std::string& key, const std::string& value) {
    for (std::size_t at = 0; (at = text.find(key, at)) != std::string::npos; at += value.size()) {
        text.replace(at, key.size(), value);
    }
    return text;
}

// Every regular file below `root`, relative to it, in UTF-8.
inline std::set<std::string> FilesBelow(const fs::path& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).u8string());
    }
    return files;
}

// Waits until a file shows up in `folder`.
inline bool AwaitFileIn(const std::string& folder) {
    return PollUntil([&] { return !fs::is_empty(folder); }, std::chrono::seconds(20),
                     std::chrono::milliseconds(2));
}

// A server that sends the head and the first bytes of a long body at once, raises `started`
// once the client has read them, then trickles the rest over minutes until the client goes.
// With `holdReply` it raises `started` when the request has arrived and answers nothing.
class StreamingServer {
  public:
    static constexpr std::size_t kLength = 1000000, kFirst = 3000;
    explicit StreamingServer(bool holdReply = false)
        : body_(PatternText(kLength, 5)), server_([this, holdReply](ScriptedConnection& c) {
              c.ReadRequest();
              if (holdReply) {
                  started_.Raise();
                  c.ReadUntilClosed(std::chrono::seconds(60));
                  return;
              }
              c.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kLength) + "\r\n\r\n" +
                     body_.substr(0, kFirst));
              if (c.AwaitClientRead()) started_.Raise();
              c.Trickle(body_.substr(kFirst), 100, std::chrono::milliseconds(20));
          }) {}
    std::string url() const { return server_.url("/slow"); }
    const std::string& body() const { return body_; }
    bool AwaitStarted(int count) { return started_.AwaitAtLeast(count); }

  private:
    std::string body_;
    EventCount started_;
    ScriptedServer server_;
};

// Every export that carries a transfer, called one way.
enum Call { Get, Get2, Get3, Post, Post3, Url, UrlW, Named, Up, UpW, Kiv, KivW, KivUp, KivUpW };
constexpr int32_t kNone = INT32_MIN;  // a null buffer (out-pointer for Get3 and Post3)

inline std::string Name(Call call) {
    // clang-format off
    static const char* const kNames[] = {"get", "get2", "get3", "post", "post3", "url-download",
        "wide-url-download", "normal-download", "url-upload", "wide-url-upload",
        "conference-download", "wide-conference-download", "conference-upload",
        "wide-conference-upload"};
    // clang-format on
    return kNames[call];
}
inline bool InMemory(Call call) {
    return call <= Post3;
}
inline bool IsUpload(Call call) {
    return call == Up || call == UpW || call == KivUp || call == KivUpW;
}

struct Outcome {
    int32_t result = 0, status = 77, length = -7;
    // The host's buffer after the call (its size + 2 bytes, '#' before: the fetches' and
    // ZEMNormalDownloadFile's name), or the block handed out with its terminator ("<none>").
    std::string buffer;
};

// Performs `call` on `handle`: the in-memory calls with a buffer of `size` bytes; the file calls
// on `local`, a download target or an upload source (`wide` for the W calls, else `local`
// widened), with the session "s" and the server file "n" (wide: "né"). The posts and the URL
// file calls send the fields z=26 and a=1.
inline Outcome Perform(Call call, TransferHandle handle, const char* url, int32_t size,
                       const std::string& local = "", WideString wide = {}) {
    const PostFields fields{{"z", "26"}, {"a", "1"}};
    const ZEMWideChar serverName[] = {'n', 0xE9, 0};
    if (wide.empty()) wide = Widen(local);
    Outcome out;
    if (call == Get3 || call == Post3) {
        char* raw = nullptr;
        char** wanted = size == kNone ? nullptr : &raw;
        out.result = call == Get3
                         ? ZEMUrlGet3(url, &out.status, wanted, &out.length, handle)
                         : ZEMUrlPost3(url, &fields, &out.status, wanted, &out.length, handle);
        HandedBuffer handed(raw);
        out.buffer =
            raw != nullptr ? std::string(raw, static_cast<std::size_t>(out.length) + 1) : "<none>";
        return out;
    }
    out.buffer.assign(static_cast<std::size_t>(size > 0 ? size : 0) + 2, '#');
    char* buffer = size == kNone ? nullptr : &out.buffer[0];
    const int32_t n = size == kNone ? 100 : size;
    const char* path = local.c_str();
    const int32_t up = IsUpload(call);
    out.result = call == Get     ? ZEMUrlGet(url, &out.status, buffer, n, handle)
                 : call == Get2  ? ZEMUrlGet2(url, &out.status, buffer, n, handle)
                 : call == Post  ? ZEMUrlPost(url, &fields, &out.status, buffer, n, handle)
                 : call == Named ? ZEMNormalDownloadFile(handle, url, &fields, path, buffer, n)
                 : call == Url || call == Up ? ZEMUrlTransferFile(handle, url, &fields, path, up)
                 : call == UrlW || call == UpW
                     ? ZEMUrlTransferFileW(handle, url, &fields, wide.c_str(), up)
                 : call == Kiv || call == KivUp
                     ? ZEMKIVTransferFile(handle, url, "s", "n", path, up)
                     : ZEMKIVTransferFileW(handle, url, "s", serverName, wide.c_str(), up);
    return out;
}
