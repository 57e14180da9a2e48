// The network failing under the exports: a reset in the middle of a body, a server that goes
// while a large upload is being written, heads that trickle in or never come. Each call ends with
// its failure value and its failure report within its time-out, and no signal reaches the host.
#include <signal.h>
#include <sys/socket.h>

#include <chrono>

#include "fault_support.h"

namespace {

using namespace fault_testing;
using Clock = std::chrono::steady_clock;

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
    const ChildEnd end = RunInChild(
        [&] {
            signal(SIGPIPE, SIG_DFL);
            sigset_t unblocked;
            sigemptyset(&unblocked);
            sigprocmask(SIG_SETMASK, &unblocked, nullptr);
            ChildChecks check;
            OwnedHandle handle(ZEMTransferBegin());
            const PostFields none, large{{"big", std::string(kSize, 'p')}};
            check(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1) == 0);
            std::int32_t status = -1, length = 0;
            char* reply = nullptr;
            check(ZEMUrlPost3(url.c_str(), &large, &status, &reply, &length, nullptr) == -1);
            check(status == 0);
            return check.first;
        },
        nullptr, std::chrono::seconds(120));
    ExpectChildChecksHeld(end);
}

// Every attempt ends with the receive time-out (a trickle does not stretch it) and the call
// fails with its report; an upload makes one attempt.
void ExpectReceiveTimeouts(ScriptedServer& server) {
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", std::to_string(kReceiveTimeout.count()));
    const std::string url = server.url("/slow");
    TraceFile trace;
    std::int32_t status = -1, length = kGetAttempts;
    char* reply = nullptr;
    auto start = Clock::now();
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr), -1);
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
    OwnedHandle handle(ZEMTransferBegin());
    const PostFields none;
    start = Clock::now();
    EXPECT_EQ(
        ZEMUrlTransferFile(handle.get(), url.c_str(), &none, folder.File("up.bin").c_str(), 1), 0);
    EXPECT_LT(Clock::now() - start, kReceiveTimeout + kSlack);
    EXPECT_TRUE(trace.Contains("ZEMUrlUploadFile Failed\n"));
}

struct Row {
    const char* name;
    ScriptedServer::Script server;
    void (*expect)(ScriptedServer&);
};

// clang-format off
const Row kRows[] = {
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

class NetworkFaults : public ::testing::TestWithParam<Row> {};

TEST_P(NetworkFaults, CallsFailCleanlyWithinTheirTimeOut) {
    ScriptedServer server(GetParam().server);
    GetParam().expect(server);
}

INSTANTIATE_TEST_SUITE_P(Network, NetworkFaults, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
