// Server answers through the real internet layer: the fuzzer plays the server on a loopback
// socket and answers every request of one export family with the input's bytes. Every call
// must return one of its documented values, within a bound set by the time-outs, and leave
// nothing behind (no stray file, no leak).
#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "answer_server.h"
#include "fuzz_support.h"
#include "loopback_guard.h"
#include "session/transfer_session.h"
#include "zemuser.h"

namespace {

using namespace zemuser;
using Clock = std::chrono::steady_clock;

// Short time-outs keep a stalled transfer short; the server never stalls, so a call that
// runs this long is a hang.
constexpr char kTimeoutMs[] = "300";
constexpr auto kLongestCall = std::chrono::seconds(10);
constexpr std::size_t kPiece = 1024;
constexpr std::uint32_t kDispositionOffered = 2056;
constexpr std::int32_t kNameOutSize = 64;
// The trace file is started afresh now and then so that long runs do not fill the disk.
constexpr unsigned kInputsPerTraceFile = 2000;

struct Environment {
    fuzz::TempFolder folder{"zemuser-fuzz-server"};
    fuzz::AnswerServer server;
    std::string url;
    std::string uploadFile = folder.File("upload.txt");
    std::string bodyFile = folder.File("body.bin");
    std::string downloadFolder = folder.File("downloads");
    std::string traceFile = folder.File("trace.txt");
    PostFields fields{{"act", "download"}, {"session_id", "42"}};
    Clock::duration longestCall{};

    Environment() {
        url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/fuzz/path?q=1";
        fuzz::WriteFileBytes(uploadFile, "contents of the upload\n");
        std::filesystem::create_directory(downloadFolder);
    }
    ~Environment() {
        std::fprintf(
            stderr, "server answers: longest call %lld ms\n",
            static_cast<long long>(
                std::chrono::duration_cast<std::chrono::milliseconds>(longestCall).count()));
    }
};

Environment& Env() {
    static Environment environment;
    return environment;
}

bool Exists(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0;
}

std::uint64_t FileSize(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? static_cast<std::uint64_t>(status.st_size) : 0;
}

// --- Session calls ---------------------------------------------------------------------------

void ReadWholeBody(TransferSession& session, std::size_t answerSize) {
    // Exactly the piece's size, so that a read past it is caught.
    auto piece = std::make_unique<char[]>(kPiece);
    std::size_t total = 0;
    for (std::uint32_t count; (count = session.ReadResponse(piece.get(), kPiece)) != 0;) {
        FUZZ_CHECK(count <= kPiece);
        total += count;
        FUZZ_CHECK(total <= answerSize);
    }
}

void CheckQueries(TransferSession& session) {
    const std::int32_t status = session.QueryStatusCode();
    FUZZ_CHECK(status >= 0 && status <= 999);
    session.QueryContentLength();  // any number the header holds

    auto disposition = std::make_unique<char[]>(kDispositionOffered);
    const std::uint32_t length =
        session.QueryContentDisposition(disposition.get(), kDispositionOffered);
    // A header that fits comes back zero-terminated; one that does not reports its size.
    if (length != 0 && length < kDispositionOffered) {
        FUZZ_CHECK(disposition[length] == '\0');
    }
}

void SessionCall(unsigned kind, std::size_t answerSize) {
    Environment& env = Env();
    TransferSession session;
    FUZZ_CHECK(session.Connect("127.0.0.1", env.server.Port(), nullptr, nullptr,
                               ConnectMode::ModeHttp, kTransferAgent));
    RequestKind request = RequestKind::RequestGet;
    if (kind == 1) {
        request = RequestKind::RequestForm;
        session.AddFormField("act", "download", false);
        session.AddFormField("session_id", 42);
    } else if (kind == 2) {
        request = RequestKind::RequestMultipart;
        session.AddFormField("file_num", 1);
        session.AddFormField("file1", env.uploadFile.c_str(), true);
    }
    if (session.SendRequest("/fuzz/path?q=1", request, nullptr)) {
        CheckQueries(session);
        if (kind == 3) {
            const std::uint32_t stored = session.ResponseToFile(env.bodyFile.c_str());
            // A file is kept only when the whole body was stored.
            FUZZ_CHECK(stored <= answerSize);
            FUZZ_CHECK(Exists(env.bodyFile) == (stored != 0));
            FUZZ_CHECK(FileSize(env.bodyFile) == stored);
        } else {
            ReadWholeBody(session, answerSize);
        }
    }
    session.CloseHandles();
    std::filesystem::remove(env.bodyFile);
}

// --- Exported calls --------------------------------------------------------------------------

// A buffer that the library hands out: as long as the result says, then a zero byte.
void CheckHandedOut(std::int32_t result, std::int32_t status, char* buffer, std::int32_t length,
                    std::size_t answerSize) {
    if (result == -1) {
        FUZZ_CHECK(status == 0 && buffer == nullptr && length == -7);
        return;
    }
    FUZZ_CHECK(result >= 0 && result == length && buffer != nullptr);
    // Zero bytes of the body are kept, so only the terminator is looked for.
    FUZZ_CHECK(buffer[length] == '\0');
    FUZZ_CHECK(static_cast<std::size_t>(length) <= answerSize);
    ZEMReleaseBuffer(buffer);
}

void FetchIntoBuffer(unsigned variant, std::size_t answerSize) {
    const std::int32_t sizes[] = {0, 16, 1024, 8192};
    const std::int32_t size = sizes[variant % 4];
    // Exactly the room the interface asks for: the bytes and a terminating zero.
    std::vector<char> room(static_cast<std::size_t>(size) + 1, '\x55');
    char* buffer = size > 0 ? room.data() : nullptr;
    std::int32_t status = -7;
    const std::int32_t result = ZEMUrlGet2(Env().url.c_str(), &status, buffer, size, nullptr);
    if (buffer == nullptr) return;  // the announced length, whatever it is
    if (result >= 0) {
        FUZZ_CHECK(result <= size && room[static_cast<std::size_t>(result)] == '\0');
        FUZZ_CHECK(static_cast<std::size_t>(result) <= answerSize);
    } else if (result == -1) {
        FUZZ_CHECK(status == 0 || size < 1);
    } else {
        FUZZ_CHECK(-static_cast<std::int64_t>(result) > size);  // too long for the buffer
    }
}

void FetchHandedOut(std::size_t answerSize) {
    std::int32_t status = -7, length = -7;
    char* buffer = nullptr;
    const std::int32_t result = ZEMUrlGet3(Env().url.c_str(), &status, &buffer, &length, nullptr);
    CheckHandedOut(result, status, buffer, length, answerSize);
}

void PostHandedOut(std::size_t answerSize) {
    std::int32_t status = -7, length = -7;
    char* buffer = nullptr;
    const std::int32_t result =
        ZEMUrlPost3(Env().url.c_str(), &Env().fields, &status, &buffer, &length, nullptr);
    CheckHandedOut(result, status, buffer, length, answerSize);
}

// Whatever name the server announces, the body lands inside the download folder as one plain
// file, and only there. `announced` is the name handed to the host, when the call hands one.
void CheckDownloadFolder(std::int32_t result, const std::string* announced) {
    Environment& env = Env();
    FUZZ_CHECK(result == 0 || result == 1);
    std::vector<std::filesystem::path> stored;
    for (const auto& entry : std::filesystem::directory_iterator(env.downloadFolder)) {
        stored.push_back(entry.path());
    }
    FUZZ_CHECK(stored.size() == static_cast<std::size_t>(result));
    if (result == 1) {
        FUZZ_CHECK(std::filesystem::is_regular_file(stored[0]));
        const std::string file = stored[0].filename().string();
        if (announced != nullptr) {
            FUZZ_CHECK(announced->empty() ? file == "unknown" : file.rfind(*announced, 0) == 0);
        }
        std::filesystem::remove(stored[0]);
    }
    for (const auto& entry : std::filesystem::directory_iterator(env.folder.Path())) {
        const std::string file = entry.path().filename().string();
        FUZZ_CHECK(file == "upload.txt" || file == "downloads" || file == "trace.txt" ||
                   file == "settings");
    }
}

void NormalDownload(TransferHandle handle) {
    Environment& env = Env();
    auto name = std::make_unique<char[]>(kNameOutSize);
    const std::int32_t result = ZEMNormalDownloadFile(
        handle, env.url.c_str(), &env.fields, env.downloadFolder.c_str(), name.get(), kNameOutSize);
    // Cut at the buffer's size without a terminator when the name is longer.
    const std::string announced(name.get(), strnlen(name.get(), kNameOutSize));
    FUZZ_CHECK(announced.find('/') == std::string::npos);
    CheckDownloadFolder(result, &announced);
}

// The wide download joins the announced name, converted from the narrow code page.
void WideDownload(TransferHandle handle) {
    Environment& env = Env();
    std::u16string folder(env.downloadFolder.begin(), env.downloadFolder.end());
    const std::int32_t result =
        ZEMUrlTransferFileW(handle, env.url.c_str(), &env.fields, folder.c_str(), 0);
    CheckDownloadFolder(result, nullptr);
}

void Upload(TransferHandle handle, const std::string& answer) {
    Environment& env = Env();
    const std::int32_t result =
        ZEMUrlTransferFile(handle, env.url.c_str(), &env.fields, env.uploadFile.c_str(), 1);
    FUZZ_CHECK(result == 0 || result == 1);
    if (result == 1) FUZZ_CHECK(answer.find("OK") != std::string::npos);
}

void ConferenceDownload(TransferHandle handle, std::size_t answerSize) {
    Environment& env = Env();
    const std::int32_t result =
        ZEMKIVTransferFile(handle, env.url.c_str(), "42", "report.txt", env.bodyFile.c_str(), 0);
    FUZZ_CHECK(result == 0 || result == 1);
    // A body is kept only whole and not empty; a failed one leaves no file.
    FUZZ_CHECK(Exists(env.bodyFile) == (result == 1));
    FUZZ_CHECK(FileSize(env.bodyFile) <= answerSize);
    std::filesystem::remove(env.bodyFile);
}

void HandleCall(unsigned mode, const std::string& answer) {
    TransferHandle handle = ZEMTransferBegin();
    FUZZ_CHECK(handle != nullptr);
    if (mode == 7) NormalDownload(handle);
    if (mode == 8) Upload(handle, answer);
    if (mode == 9) ConferenceDownload(handle, answer.size());
    if (mode == 10) WideDownload(handle);
    ZEMTransferEnd(handle);
}

constexpr unsigned kModes = 11;

void RunCall(unsigned selector, const std::string& answer) {
    const unsigned mode = selector % kModes;
    if (mode < 4) {
        SessionCall(mode, answer.size());
    } else if (mode == 4) {
        FetchIntoBuffer(selector / kModes, answer.size());
    } else if (mode == 5) {
        FetchHandedOut(answer.size());
    } else if (mode == 6) {
        PostHandedOut(answer.size());
    } else {
        HandleCall(mode, answer);
    }
}

// Proves that the library's connections go through the loopback guard before any fuzzed
// answer can send it elsewhere.
void CheckGuardIsActive() {
    Environment& env = Env();
    env.server.SetAnswer("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
    std::int32_t status = 0, length = 0;
    char* buffer = nullptr;
    FUZZ_CHECK(ZEMUrlGet3(env.url.c_str(), &status, &buffer, &length, nullptr) == 2);
    FUZZ_CHECK(std::string(buffer) == "ok");
    ZEMReleaseBuffer(buffer);
    FUZZ_CHECK(fuzz::LoopbackConnects() > 0);

    // TEST-NET-1: reserved for documentation, never a real host.
    env.server.SetAnswer("HTTP/1.0 302 Found\r\nLocation: http://192.0.2.1/\r\n\r\n");
    ZEMUrlGet3(env.url.c_str(), &status, &buffer, &length, nullptr);
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
    ZEMUser_SetTraceLevel(0);
    ZEMUser_SetTraceFile(env.traceFile.c_str());
    CheckGuardIsActive();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static unsigned inputs = 0;
    if (++inputs % kInputsPerTraceFile == 0) ZEMUser_SetTraceFile(Env().traceFile.c_str());

    const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
    Env().server.SetAnswer(answer);
    const Clock::time_point start = Clock::now();
    RunCall(data[0], answer);
    const Clock::duration took = Clock::now() - start;
    FUZZ_CHECK(took < kLongestCall);
    if (took > Env().longestCall) Env().longestCall = took;
    return 0;
}
