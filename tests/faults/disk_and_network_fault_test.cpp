// The disk and the network failing under the exports (disk faults in forked children, where
// limits and signals stay): what a call reports matches what reached the disk or the server; a
// failing call ends with its failure value and report within its time-out, raising no signal.
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "fault_support.h"

namespace {

using namespace fault_testing;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr rlim_t kFileSizeLimit = 4096;

struct Scene {
    const std::string small = PatternText(2000, 2), large = PatternText(64 * 1024, 3);
    const std::string content = PatternText(200 * 1024, 5);  // of the upload file
    // "/large" gives the large body, "/upload" takes an upload, anything else the small body.
    ScriptedServer server{[this](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        const std::string line = request.substr(0, request.find('\r'));
        if (request.empty()) return;
        connection.Send(HttpResponse(200, line.find("/upload") != std::string::npos  ? "OK"
                                          : line.find("/large") != std::string::npos ? large
                                                                                     : small));
    }};
    const std::string url = server.url("/small?with=a-longish-query-to-fill-the-trace");
    TempDir folder;
    const std::string trace = folder.File("trace.txt"), target = folder.File("target.bin");
    const std::string upload = folder.File("upload.bin");
    const PostFields none;
};

// The limit's signal is ignored, as a host that sets such a limit must do: at its default
// action the kernel ends the process at the first write past the limit, whoever writes.
int AtTheFileSizeLimit(const Scene& s) {
    ChildChecks check;
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    if (!check(setrlimit(RLIMIT_FSIZE, &limit) == 0)) return check.first;
    ZEMUser_SetTraceFile(s.trace.c_str());
    std::string buffer(4096, '\0');
    for (int i = 0; i < 300; ++i) {  // far more lines than the limit holds
        std::int32_t status = 0;
        check(ZEMUrlGet(s.url.c_str(), &status, &buffer[0], 4000, nullptr) == 2000);
    }
    check(buffer.compare(0, 2000, s.small) == 0);
    OwnedHandle handle(ZEMTransferBegin());
    const std::string large = s.server.url("/large"), cut = s.folder.File("large.bin");
    check(ZEMUrlTransferFile(handle.get(), large.c_str(), &s.none, cut.c_str(), 0) == 0);
    check(!fs::exists(cut));  // no truncated file
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, s.target.c_str(), 0) == 1);
    return check.first;
}

// The HTTP/1.1 values cannot be held off (the folder would lie under a file, which even root
// cannot make); every transfer works all the same.
int WithUnwritableSettings(const Scene& s) {
    WriteFileBytes(s.upload, "a file");
    setenv("ZEMUSER_SETTINGS_DIR", (s.upload + "/settings").c_str(), 1);
    ChildChecks check;
    std::int32_t status = 0, length = 0;
    char* reply = nullptr;
    check(ZEMUrlGet3(s.url.c_str(), &status, &reply, &length, nullptr) == 2000);
    check(reply != nullptr && std::string(reply) == s.small);
    ZEMReleaseBuffer(reply);
    OwnedHandle handle(ZEMTransferBegin());
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, s.target.c_str(), 0) == 1);
    return check.first;
}

// The upload file is cut or grown to `size` once the body has measured it (the file is open),
// on the engine's own thread when the body's memory is taken.
int UploadResizedTo(const Scene& s, off_t size) {
    WriteFileBytes(s.upload, s.content);
    static std::pair<std::string, off_t> resize;
    resize = {s.upload, size};
    ThreadFaults().watchBytes = s.content.size();
    ThreadFaults().watchAction = [] {
        if (::truncate(resize.first.c_str(), resize.second) != 0) std::abort();
    };
    OwnedHandle handle(ZEMTransferBegin());
    const std::string url = s.server.url("/upload");
    return ZEMUrlTransferFile(handle.get(), url.c_str(), &s.none, s.upload.c_str(), 1) == 1 ? 0 : 1;
}

// The request still went out whole and well-formed, its part carrying `sent`.
void ExpectUploaded(const Scene& s, const std::string& sent) {
    const auto requests = s.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(ParseRequest(requests[0]).body,
              TextPart("file_num", "1") + FilePart("file1", s.upload, &sent) + ClosingDelimiter());
}

struct DiskRow {
    const char* name;
    std::function<int(const Scene&)> child;
    std::function<void(const Scene&)> afterwards;
};

// clang-format off
const DiskRow kDiskRows[] = {
    {"TraceAndDownloadAtTheFileSizeLimit", AtTheFileSizeLimit, [](const Scene& s) {
        EXPECT_EQ(fs::file_size(s.trace), kFileSizeLimit);  // filled up to the limit only
        EXPECT_EQ(ReadFileBytes(s.trace).rfind("ZEMUrlGet Result Code: 200\n", 0), 0u);
        EXPECT_EQ(ReadFileBytes(s.target), s.small); }},
    {"UnwritableSettingsLeaveTransfersWorking", WithUnwritableSettings,
     [](const Scene& s) { EXPECT_EQ(ReadFileBytes(s.target), s.small); }},
    {"UploadFileCutBeforeItIsRead", [](const Scene& s) { return UploadResizedTo(s, 1000); },
     [](const Scene& s) { ExpectUploaded(s, s.content.substr(0, 1000)); }},
    {"UploadFileGrownBeforeItIsRead", [](const Scene& s) { return UploadResizedTo(s, 512000); },
     [](const Scene& s) { ExpectUploaded(s, s.content); }},  // what was measured
};
// clang-format on

class FileSystemFaults : public ::testing::TestWithParam<DiskRow> {};

TEST_P(FileSystemFaults, TransfersMatchWhatReachedTheDisk) {
    const Scene scene;
    const ChildEnd end = RunInChild([&] { return GetParam().child(scene); });
    ExpectChildChecksHeld(end);
    GetParam().afterwards(scene);
}

INSTANTIATE_TEST_SUITE_P(Disk, FileSystemFaults, ::testing::ValuesIn(kDiskRows), kRowName);

constexpr auto kReceiveTimeout = std::chrono::milliseconds(1000);
constexpr int kGetAttempts = 10;  // the send loop of a GET, each attempt ended by the time-out
constexpr auto kSlack = std::chrono::seconds(5);
const std::string kFirstPart = PatternText(50 * 1024, 1);

// Announces 400 KB, sends the first 50, waits until the client has read them, then resets.
void ResetMidBody(ScriptedConnection& connection) {
    if (connection.ReadRequest().empty()) return;
    connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 409600\r\n\r\n" + kFirstPart);
    connection.AwaitClientRead();
    connection.Reset();
}

// The call hands over what arrived, and reports the failure.
void ExpectPrefix(ScriptedServer& server) {
    const std::string url = server.url("/cut?part=1");
    TraceFile trace;
    std::int32_t status = 0, length = 0;
    char* reply = nullptr;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr), 50 * 1024);
    EXPECT_EQ(length, 50 * 1024);
    EXPECT_EQ(std::string(reply != nullptr ? reply : ""), kFirstPart);
    ZEMReleaseBuffer(reply);
    EXPECT_TRUE(trace.Contains("[ " + url + " ] response failed...\n")) << trace.Text();
}

// Takes the head and about a megabyte of the body, then goes in order or with a reset.
ScriptedServer::Script TakeSomeThenGo(bool reset) {
    return [reset](ScriptedConnection& connection) {
        char piece[64 * 1024];
        for (std::size_t taken = 0; taken < 1024 * 1024;) {
            const ssize_t got = recv(connection.fd(), piece, sizeof piece, 0);
            if (got <= 0) return;
            taken += static_cast<std::size_t>(got);
        }
        if (reset) return connection.Reset();
        shutdown(connection.fd(), SHUT_RDWR);
        connection.Close();
    };
}

// A 64 MB upload and post, in a child whose SIGPIPE is at its default action, so that a stray
// signal would end it. A server that closed in order after shrinking its window to nothing
// leaves the writer waiting with nothing moving: the receive time-out ends that.
void ExpectCleanUploadFailures(ScriptedServer& server) {
    constexpr std::size_t kSize = 64u * 1024 * 1024;
    TempDir folder;
    const std::string path = folder.File("large.bin"), url = server.url("/upload");
    WriteFileBytes(path, std::string(kSize, 'u'));
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", "5000");
    const auto child = [&] {
        signal(SIGPIPE, SIG_DFL);
        sigset_t unblocked;
        sigemptyset(&unblocked);
        sigprocmask(SIG_SETMASK, &unblocked, nullptr);
        ChildChecks check;
        const PostFields none, large{{"big", std::string(kSize, 'p')}};
        check(ZEMUrlTransferFile(OwnedHandle(ZEMTransferBegin()).get(), url.c_str(), &none,
                                 path.c_str(), 1) == 0);
        std::int32_t status = -1, length = 0;
        char* reply = nullptr;
        check(ZEMUrlPost3(url.c_str(), &large, &status, &reply, &length, nullptr) == -1);
        check(status == 0);
        return check.first;
    };
    ExpectChildChecksHeld(RunInChild(child, nullptr, std::chrono::seconds(120)));
}

// The processor time of the calling thread, where a blocking call runs, in milliseconds.
long ThreadProcessorMs() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// Every attempt ends with the receive time-out (a trickle does not stretch it) and the call
// fails with its report; an upload makes one attempt. A waiting call sleeps: it spends less
// than a quarter of its time on the processor.
void ExpectReceiveTimeouts(ScriptedServer& server) {
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", std::to_string(kReceiveTimeout.count()));
    const std::string url = server.url("/slow");
    TraceFile trace;
    std::int32_t status = -1, length = kGetAttempts;
    char* reply = nullptr;
    auto start = Clock::now();
    const long processorBefore = ThreadProcessorMs();
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr), -1);
    EXPECT_LT(
        ThreadProcessorMs() - processorBefore,
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count() / 4);
    EXPECT_LT(Clock::now() - start, kGetAttempts * kReceiveTimeout + kSlack);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(length, kGetAttempts);  // untouched
    EXPECT_EQ(server.connectionCount(), kGetAttempts);
    EXPECT_TRUE(trace.Contains("[ " + url +
                               " ] request failed...\n[12002, 0x00002ee2] The operation did not "
                               "finish within the time allowed."))
        << trace.Text();
    TempDir folder;
    WriteFileBytes(folder.File("up.bin"), "content");
    const PostFields none;
    start = Clock::now();
    EXPECT_EQ(ZEMUrlTransferFile(OwnedHandle(ZEMTransferBegin()).get(), url.c_str(), &none,
                                 folder.File("up.bin").c_str(), 1),
              0);
    EXPECT_LT(Clock::now() - start, kReceiveTimeout + kSlack);
    EXPECT_TRUE(trace.Contains("ZEMUrlUploadFile Failed\n"));
}

struct NetworkRow {
    const char* name;
    ScriptedServer::Script server;
    void (*expect)(ScriptedServer&);
};

// clang-format off
const NetworkRow kNetworkRows[] = {
    {"ResetInTheMiddleOfABody", ResetMidBody, ExpectPrefix},
    {"ServerClosingDuringALargeUpload", TakeSomeThenGo(false), ExpectCleanUploadFailures},
    {"ServerResettingDuringALargeUpload", TakeSomeThenGo(true), ExpectCleanUploadFailures},
    {"TrickledHead", [](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Trickle("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK", 1, kReceiveTimeout); },
     ExpectReceiveTimeouts},
    {"SilentServer", [](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.ReadUntilClosed(std::chrono::seconds(30)); }, ExpectReceiveTimeouts},
};
// clang-format on

class NetworkFaults : public ::testing::TestWithParam<NetworkRow> {};

TEST_P(NetworkFaults, CallsFailCleanlyWithinTheirTimeOut) {
    ScriptedServer server(GetParam().server);
    GetParam().expect(server);
}

INSTANTIATE_TEST_SUITE_P(Network, NetworkFaults, ::testing::ValuesIn(kNetworkRows), kRowName);

}  // namespace
