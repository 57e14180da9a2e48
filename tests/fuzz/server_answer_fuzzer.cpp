// Server answers through the real internet layer: a scripted loopback server answers every
// request of one exported call with the input's bytes (the first byte picks the call). Every call
// must return one of its documented values within a bound set by the time-outs, and leave nothing
// behind (no stray file, no leak).
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "support/scripted_server.h"
#include "zemuser.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Short time-outs keep a stalled transfer short; the server never stalls, so a call that runs
// this long is a hang.
constexpr char kTimeoutMs[] = "300";
constexpr auto kLongestCall = std::chrono::seconds(10);
constexpr std::int32_t kNameOutSize = 64;
// The trace file starts afresh now and then, so that long runs do not fill the disk.
constexpr unsigned kInputsPerTraceFile = 2000;

struct Environment {
    fuzz::TempFolder folder{"zemuser-fuzz-server"};
    std::string url;  // of the input's server
    std::string uploadFile = folder.File("upload.txt");
    std::string bodyFile = folder.File("body.bin");
    std::string downloads = folder.File("downloads");
    PostFields fields{{"act", "download"}, {"session_id", "42"}};
};

Environment& Env() {
    static Environment environment;
    return environment;
}

// A buffer that the library hands out: as long as the result says, then a zero byte.
void CheckHandedOut(std::int32_t result, std::int32_t status, char* buffer, std::int32_t length,
                    std::size_t answerSize) {
    if (result == -1) {
        FUZZ_CHECK(status == 0 && buffer == nullptr && length == -7);
        return;
    }
    FUZZ_CHECK(result >= 0 && result == length && buffer != nullptr);
    FUZZ_CHECK(buffer[length] == '\0' && static_cast<std::size_t>(length) <= answerSize);
    ZEMReleaseBuffer(buffer);
}

void FetchIntoBuffer(std::int32_t size, std::size_t answerSize) {
    // Exactly the room the interface asks for: the bytes and a terminating zero.
    std::vector<char> room(static_cast<std::size_t>(size) + 1, '\x55');
    std::int32_t status = -7;
    const std::int32_t result = ZEMUrlGet2(Env().url.c_str(), &status, room.data(), size, nullptr);
    if (result >= 0) {
        FUZZ_CHECK(result <= size && room[static_cast<std::size_t>(result)] == '\0');
        FUZZ_CHECK(static_cast<std::size_t>(result) <= answerSize);
    } else if (result == -1) {
        FUZZ_CHECK(status == 0);
    } else {
        FUZZ_CHECK(-static_cast<std::int64_t>(result) > size);  // too long for the buffer
    }
}

// Whatever name the server announces, the body lands inside the download folder as one plain
// file, and only there. `announced` is the name handed to the host, when the call hands one.
void CheckDownloads(std::int32_t result, const std::string* announced) {
    Environment& env = Env();
    FUZZ_CHECK(result == 0 || result == 1);
    std::vector<fs::path> stored;
    for (const auto& entry : fs::directory_iterator(env.downloads)) stored.push_back(entry.path());
    FUZZ_CHECK(stored.size() == static_cast<std::size_t>(result));
    if (result == 1) {
        FUZZ_CHECK(fs::is_regular_file(stored[0]));
        const std::string file = stored[0].filename().string();
        if (announced != nullptr) {
            FUZZ_CHECK(announced->empty() ? file == "unknown" : file.rfind(*announced, 0) == 0);
        }
        fs::remove(stored[0]);
    }
    for (const auto& entry : fs::directory_iterator(env.folder.Path())) {
        const std::string file = entry.path().filename().string();
        FUZZ_CHECK(file == "upload.txt" || file == "downloads" || file == "trace.txt" ||
                   file == "settings");
    }
}

void HandleCall(unsigned call, const std::string& answer) {
    Environment& env = Env();
    TransferHandle handle = ZEMTransferBegin();
    FUZZ_CHECK(handle != nullptr);
    if (call == 0) {
        char name[kNameOutSize];
        const std::int32_t result = ZEMNormalDownloadFile(
            handle, env.url.c_str(), &env.fields, env.downloads.c_str(), name, kNameOutSize);
        // Cut at the buffer's size, without a terminator, when the name is longer.
        const std::string announced(name, strnlen(name, kNameOutSize));
        FUZZ_CHECK(announced.find('/') == std::string::npos);
        CheckDownloads(result, &announced);
    } else if (call == 1) {
        const std::u16string folder(env.downloads.begin(), env.downloads.end());
        CheckDownloads(ZEMUrlTransferFileW(handle, env.url.c_str(), &env.fields, folder.c_str(), 0),
                       nullptr);
    } else if (call == 2) {
        const std::int32_t result =
            ZEMUrlTransferFile(handle, env.url.c_str(), &env.fields, env.uploadFile.c_str(), 1);
        FUZZ_CHECK(result == 0 || (result == 1 && answer.find("OK") != std::string::npos));
    } else {
        const std::int32_t result = ZEMKIVTransferFile(handle, env.url.c_str(), "42", "report.txt",
                                                       env.bodyFile.c_str(), 0);
        // A body is kept only whole and not empty; a failed one leaves no file.
        FUZZ_CHECK(result == 0 || result == 1);
        FUZZ_CHECK(fs::exists(env.bodyFile) == (result == 1));
        FUZZ_CHECK(result == 0 || fs::file_size(env.bodyFile) <= answer.size());
        fs::remove(env.bodyFile);
    }
    ZEMTransferEnd(handle);
}

void RunCall(unsigned selector, const std::string& answer) {
    std::int32_t status = -7, length = -7;
    char* buffer = nullptr;
    switch (selector % 8) {
        case 0:
            FetchIntoBuffer(selector / 8 % 2 ? 16 : 4096, answer.size());
            break;
        case 1:
            CheckHandedOut(ZEMUrlGet3(Env().url.c_str(), &status, &buffer, &length, nullptr),
                           status, buffer, length, answer.size());
            break;
        case 2:
            CheckHandedOut(
                ZEMUrlPost3(Env().url.c_str(), &Env().fields, &status, &buffer, &length, nullptr),
                status, buffer, length, answer.size());
            break;
        case 3:  // without a buffer: the announced length, whatever it is
            ZEMUrlGet2(Env().url.c_str(), &status, nullptr, 0, nullptr);
            break;
        default:
            HandleCall(selector % 8 - 4, answer);
    }
}

// Runs `call` with a server that answers every request with `answer`.
void WithServer(const std::string& answer, const std::function<void()>& call) {
    testing_support::ScriptedServer server([&answer](testing_support::ScriptedConnection& c) {
        if (!c.ReadRequest(std::chrono::seconds(1)).empty()) c.Send(answer);
    });
    Env().url = server.url("/fuzz/path?q=1");
    call();
}

// Proves that the library's connections go through the loopback guard before any fuzzed
// answer can send it elsewhere.
void CheckGuardIsActive() {
    std::int32_t status = 0, length = 0;
    char* buffer = nullptr;
    WithServer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", [&] {
        FUZZ_CHECK(ZEMUrlGet3(Env().url.c_str(), &status, &buffer, &length, nullptr) == 2);
    });
    FUZZ_CHECK(std::string(buffer) == "ok" && fuzz::LoopbackConnects() > 0);
    ZEMReleaseBuffer(buffer);
    // TEST-NET-1: reserved for documentation, never a real host.
    WithServer("HTTP/1.0 302 Found\r\nLocation: http://192.0.2.1/\r\n\r\n",
               [&] { ZEMUrlGet3(Env().url.c_str(), &status, &buffer, &length, nullptr); });
    FUZZ_CHECK(fuzz::RefusedConnects() > 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    setenv("ZEMUSER_RECEIVE_TIMEOUT_MS", kTimeoutMs, 1);
    setenv("ZEMUSER_CONNECT_TIMEOUT_MS", kTimeoutMs, 1);
    for (const char* name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "ZEMUSER_DEBUG_OUTPUT"}) {
        unsetenv(name);
    }
    Environment& env = Env();
    setenv("ZEMUSER_SETTINGS_DIR", env.folder.File("settings").c_str(), 1);
    fuzz::WriteFileBytes(env.uploadFile, "contents of the upload\n");
    fs::create_directory(env.downloads);
    ZEMUser_SetTraceLevel(0);
    ZEMUser_SetTraceFile(env.folder.File("trace.txt").c_str());
    CheckGuardIsActive();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static unsigned inputs = 0;
    if (++inputs % kInputsPerTraceFile == 0) {
        ZEMUser_SetTraceFile(Env().folder.File("trace.txt").c_str());
    }
    const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
    WithServer(answer, [&] {
        const Clock::time_point start = Clock::now();
        RunCall(data[0], answer);
        FUZZ_CHECK(Clock::now() - start < kLongestCall);
    });
    return 0;
}
