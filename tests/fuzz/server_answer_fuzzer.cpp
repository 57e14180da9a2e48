// Server answers through the real internet layer: a scripted loopback server answers every
// request of one exported call with the input's bytes (the first byte picks the call). Every
// call must return one of its documented values within a bound set by the time-outs, and leave
// nothing behind (no stray file, no leak).
#include <arpa/inet.h>
#include <dlfcn.h>
#include <netdb.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <vector>

#include "faults/sound_reply.h"
#include "fuzz_support.h"
#include "support/scripted_server.h"
#include "zemuser.h"

namespace {

namespace fs = std::filesystem;
using namespace fuzz;

const TempDir folder;
const std::string upload = folder.File("upload.txt"), body = folder.File("body.bin"),
                  downloads = folder.File("downloads");
PostFields fields{{"act", "download"}, {"session_id", "42"}};
std::atomic<int> refusedConnects{0};

// Whatever name the server announces, the body lands inside the download folder as one plain
// file that starts with the name handed to the host (cut at the room, without a terminator).
void Download(TransferHandle handle, const char* url) {
    char name[64];
    const std::int32_t result =
        ZEMNormalDownloadFile(handle, url, &fields, downloads.c_str(), name, sizeof name);
    const std::vector<fs::path> stored{fs::directory_iterator(downloads), fs::directory_iterator()};
    FUZZ_CHECK((result == 0 || result == 1) && stored.size() == static_cast<std::size_t>(result));
    if (result == 0) return;
    const std::string announced(name, strnlen(name, sizeof name)), file = stored[0].filename();
    FUZZ_CHECK(fs::is_regular_file(stored[0]));
    FUZZ_CHECK(announced.empty() ? file == "unknown" : file.rfind(announced, 0) == 0);
    fs::remove(stored[0]);
}

void RunCall(unsigned selector, const std::string& answer, const char* url) {
    TransferHandle handle = ZEMTransferBegin();
    FUZZ_CHECK(handle != nullptr);
    std::int32_t status = -7, length = -7, result = 0;
    char* buffer = nullptr;
    if (selector % 6 == 0) {
        // Into exactly the room the interface asks for (the bytes and a terminating zero),
        // whose end the address sanitizer guards; a reply too long for it gives minus its size.
        const std::int32_t size = selector & 0x80 ? 16 : 4096;
        std::vector<char> room(static_cast<std::size_t>(size) + 1);
        result = ZEMUrlGet2(url, &status, room.data(), size, nullptr);
        FUZZ_CHECK(result == -1 || -result > size ||
                   (result >= 0 && result <= size && room[static_cast<std::size_t>(result)] == 0));
    } else if (selector % 6 <= 2) {  // fetched or posted into a buffer handed out
        result = selector % 6 == 1 ? ZEMUrlGet3(url, &status, &buffer, &length, handle)
                                   : ZEMUrlPost3(url, &fields, &status, &buffer, &length, handle);
        FUZZ_CHECK(SoundReply(result, buffer, length, -7) && (result != -1 || status == 0));
        FUZZ_CHECK(result <= static_cast<std::int32_t>(answer.size()));
        ZEMReleaseBuffer(buffer);
    } else if (selector % 6 == 3) {
        Download(handle, url);
    } else if (selector % 6 == 4) {
        result = ZEMUrlTransferFile(handle, url, &fields, upload.c_str(), 1);
        FUZZ_CHECK(result == 0 || (result == 1 && answer.find("OK") != std::string::npos));
    } else {
        result = ZEMKIVTransferFile(handle, url, "42", "report.txt", body.c_str(), 0);
        // A body is kept only whole and not empty; a failed one leaves no file.
        FUZZ_CHECK((result == 0 && !fs::exists(body)) ||
                   (result == 1 && fs::file_size(body) <= answer.size()));
        fs::remove(body);
    }
    ZEMTransferEnd(handle);
    for (const auto& entry : fs::directory_iterator(folder.path())) {  // nothing else left
        const std::string file = entry.path().filename();
        FUZZ_CHECK(file == "upload.txt" || file == "downloads" || file == "trace.txt" ||
                   file == "settings");
    }
}

}  // namespace

// In place of the C library's: look-ups take numeric addresses only and nothing but IPv4
// loopback is reached, so that no fuzzed redirect sends a request elsewhere.
extern "C" int connect(int fd, const sockaddr* address, socklen_t length) {
    static const auto next = reinterpret_cast<decltype(&connect)>(dlsym(RTLD_NEXT, "connect"));
    const auto* inet = reinterpret_cast<const sockaddr_in*>(address);
    if (address != nullptr && (address->sa_family == AF_UNIX ||
                               (address->sa_family == AF_INET && length >= sizeof(sockaddr_in) &&
                                ntohl(inet->sin_addr.s_addr) >> 24 == 127))) {
        return next(fd, address, length);
    }
    ++refusedConnects;
    errno = ENETUNREACH;
    return -1;
}

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    static const auto next =
        reinterpret_cast<decltype(&getaddrinfo)>(dlsym(RTLD_NEXT, "getaddrinfo"));
    addrinfo numericOnly = hints != nullptr ? *hints : addrinfo{};
    numericOnly.ai_flags |= AI_NUMERICHOST;
    return next(node, service, &numericOnly, result);
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("ZEMUSER_RECEIVE_TIMEOUT_MS", "300", 1);  // a stalled transfer stays short
    setenv("ZEMUSER_CONNECT_TIMEOUT_MS", "300", 1);
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "ZEMUSER_DEBUG_OUTPUT"}) {
        unsetenv(name);
    }
    setenv("ZEMUSER_SETTINGS_DIR", folder.File("settings").c_str(), 1);
    WriteFileBytes(upload, "contents of the upload\n");
    fs::create_directory(downloads);
    ZEMUser_SetTraceLevel(0);  // the fuzzed answers pass through the trace too
    // The guard is in place before any fuzzed answer can redirect (192.0.2.1 is reserved for
    // documentation, never a real host).
    const ScriptedServer server(
        Answer("HTTP/1.0 302 Found\r\nLocation: http://192.0.2.1/\r\n\r\n"));
    char* buffer = nullptr;
    std::int32_t status = 0, length = 0;
    ZEMUrlGet3(server.url("/").c_str(), &status, &buffer, &length, nullptr);
    FUZZ_CHECK(refusedConnects > 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // The trace file starts afresh now and then, so that long runs do not fill the disk.
    static unsigned inputs = 0;
    if (inputs++ % 2000 == 0) ZEMUser_SetTraceFile(folder.File("trace.txt").c_str());
    const std::string answer = Bytes(data + 1, size - 1);
    const ScriptedServer server(Answer(answer));
    const auto start = std::chrono::steady_clock::now();
    RunCall(data[0], answer, server.url("/fuzz/path?q=1").c_str());
    // The server never stalls: a call this long is a hang.
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(10));
    return 0;
}
