// The network failing under the exports: a connection reset in the middle of a body, a server
// that closes while a large upload is still being written, headers that trickle in, a server
// that never answers, and a proxy that drops the tunnel request. Each call ends with its
// documented failure value and its failure report, within its time-out, and no signal reaches
// the host.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "fault_support.h"

namespace {

using namespace fault_testing;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::WriteFileBytes;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Sends the head and the first part of a long body, waits until the client has read it, then
// resets.
ScriptedServer::Script ResetAfter(const std::string& firstPart, std::size_t announced) {
    return [firstPart, announced](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(announced) +
                        "\r\n\r\n" + firstPart);
        connection.AwaitClientRead();
        connection.Reset();
    };
}

// A reset in the middle of a body: the in-memory calls hand over what arrived (a prefix of the
// body, never the whole), the file calls give 0 and leave no partial file, and the trace
// carries the read failure's report.
TEST(NetworkFaults, ResetInTheMiddleOfABody) {
    const std::string body = PatternText(400 * 1024, 1);
    const std::string firstPart = body.substr(0, 50 * 1024);
    ScriptedServer server(ResetAfter(firstPart, body.size()));
    const std::string url = server.url("/cut?part=1");
    TraceFile trace;
    std::int32_t status = 0;

    char* reply = nullptr;
    std::int32_t length = -7;
    const std::int32_t fetched = ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr);
    EXPECT_EQ(fetched, static_cast<std::int32_t>(firstPart.size()));
    EXPECT_EQ(length, fetched);
    EXPECT_EQ(std::string(reply != nullptr ? reply : ""), firstPart);
    ZEMReleaseBuffer(reply);
    EXPECT_NE(trace.Text().find("[ " + url.substr(0, url.find("/cut")) +
                                "/cut?part=1 ] response failed...\n"),
              std::string::npos)
        << trace.Text();

    std::string buffer(body.size() + 1, '#');
    EXPECT_EQ(ZEMUrlGet2(url.c_str(), &status, &buffer[0], static_cast<std::int32_t>(body.size()),
                         nullptr),
              static_cast<std::int32_t>(firstPart.size()));
    EXPECT_EQ(buffer.substr(0, firstPart.size() + 1), firstPart + '\0');

    const PostFields fields{{"a", "1"}};
    reply = nullptr;
    EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, &reply, &length, nullptr),
              static_cast<std::int32_t>(firstPart.size()));
    ZEMReleaseBuffer(reply);

    TempDir folder;
    const std::string target = folder.File("partial.bin");
    OwnedHandle handle(ZEMTransferBegin());
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, target.c_str(), 0), 0);
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "S", "f", target.c_str(), 0), 0);
    char name[16];
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, folder.path().c_str(), name,
                                    sizeof name),
              0);
    EXPECT_TRUE(fs::is_empty(folder.path()));
}

// The server closes (or resets) the connection while a 64 MB upload is being written. Run in a
// child whose SIGPIPE is at its default action, so a stray signal would end it: each upload
// fails cleanly and the child exits normally. A server that closes in order after shrinking its
// window to nothing leaves the writer waiting with nothing moving; the receive time-out ends it.
TEST(NetworkFaults, ServerClosingDuringALargeUploadRaisesNoSignal) {
    constexpr std::size_t kFileSize = 64u * 1024 * 1024;
    TempDir folder;
    const std::string path = folder.File("large.bin");
    WriteFileBytes(path, std::string(kFileSize, 'u'));
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset ? "reset" : "closed");
        ScriptedServer server([reset](ScriptedConnection& connection) {
            // Take the head and about a megabyte of the body, then go.
            char piece[64 * 1024];
            std::size_t taken = 0;
            while (taken < 1024 * 1024) {
                const ssize_t got = recv(connection.fd(), piece, sizeof piece, 0);
                if (got <= 0) return;
                taken += static_cast<std::size_t>(got);
            }
            if (reset) {
                connection.Reset();
            } else {
                shutdown(connection.fd(), SHUT_RDWR);
                connection.Close();
            }
        });
        const std::string url = server.url("/upload");
        ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", "5000");
        const ChildEnd end = RunInChild(
            [&]() -> int {
                signal(SIGPIPE, SIG_DFL);
                sigset_t pipe;
                sigemptyset(&pipe);
                sigaddset(&pipe, SIGPIPE);
                sigprocmask(SIG_UNBLOCK, &pipe, nullptr);
                OwnedHandle handle(ZEMTransferBegin());
                const PostFields none;
                auto start = Clock::now();
                if (ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1) != 0) {
                    return 2;
                }
                if (ZEMKIVTransferFile(handle.get(), url.c_str(), "S", nullptr, path.c_str(), 1) !=
                    0) {
                    return 3;
                }
                const PostFields large{{"big", std::string(kFileSize, 'p')}};
                std::int32_t status = -1;
                char* reply = nullptr;
                std::int32_t length = 0;
                if (ZEMUrlPost3(url.c_str(), &large, &status, &reply, &length, nullptr) != -1) {
                    return 4;
                }
                if (status != 0) return 5;
                // Three calls, each ended at the latest by the time-out of 5 s.
                return MillisSince(start) < 3 * (5000 + 5000) ? 0 : 6;
            },
            nullptr, std::chrono::seconds(120));
        EXPECT_TRUE(end.exited) << end.Describe();
        EXPECT_EQ(end.code, 0);
    }
}

// How long a call may take when each of its attempts ends with the receive time-out: the send
// loop of a GET makes up to ten of them.
constexpr long kReceiveTimeoutMs = 1000;
constexpr long kGetAttempts = 10;
constexpr long kSlackMs = 5000;

// Each connection's answer trickles in at one byte a second, or never comes: the receive
// time-out ends every attempt, and the call fails with its report.
TEST(NetworkFaults, TrickledOrMissingHeadsEndWithTheReceiveTimeout) {
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", std::to_string(kReceiveTimeoutMs));
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nOK";
    const ScriptedServer::Script trickle = [head](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Trickle(head, 1, std::chrono::seconds(1));
    };
    // A head that never ends, each header line coming well within the time-out of the one
    // before.
    const ScriptedServer::Script endless = [](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        if (!connection.Send("HTTP/1.0 200 OK\r\n")) return;
        const auto end = Clock::now() + std::chrono::seconds(60);
        while (Clock::now() < end && connection.Send("X-Slow: a\r\n")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kReceiveTimeoutMs / 2));
        }
    };
    const ScriptedServer::Script silent = [](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.ReadUntilClosed(std::chrono::seconds(30));
    };
    const ScriptedServer::Script deaf = [](ScriptedConnection& connection) {
        connection.ReadUntilClosed(std::chrono::seconds(30));  // never reads a request
    };
    struct Row {
        const char* what;
        ScriptedServer::Script script;
    };
    for (const Row& row :
         {Row{"trickling head", trickle}, Row{"endless head", endless},
          Row{"silent server", silent}, Row{"server that accepts and never answers", deaf}}) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(row.script);
        TraceFile trace;
        const std::string url = server.url("/slow");
        std::int32_t status = -1;
        char* reply = nullptr;
        std::int32_t length = -7;
        auto start = Clock::now();
        EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr), -1);
        EXPECT_LT(MillisSince(start), kGetAttempts * kReceiveTimeoutMs + kSlackMs);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(length, -7);
        EXPECT_EQ(server.connectionCount(), kGetAttempts);
        EXPECT_NE(trace.Text().find("[ " + url +
                                    " ] request failed...\n"
                                    "[12002, 0x00002ee2] The operation did not finish within "
                                    "the time allowed."),
                  std::string::npos)
            << trace.Text();

        // An upload makes one attempt.
        TempDir folder;
        const std::string path = folder.File("up.bin");
        WriteFileBytes(path, "content");
        OwnedHandle handle(ZEMTransferBegin());
        const PostFields none;
        start = Clock::now();
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1), 0);
        EXPECT_LT(MillisSince(start), kReceiveTimeoutMs + kSlackMs);
        EXPECT_NE(trace.Text().find("ZEMUrlUploadFile Failed\n"), std::string::npos);
    }
}

// A proxy that reads the tunnel request of an https URL and closes: every attempt fails at
// once, and the report names the URL that was asked for.
TEST(NetworkFaults, ProxyThatDropsTheTunnelRequest) {
    ScriptedServer proxy([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Close();
    });
    ScopedEnv httpsProxy("https_proxy", proxy.url(""));
    ScopedEnv noProxy("no_proxy", "");
    const std::string url =
        "https://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + "/secret?x=1";
    TraceFile trace;
    std::int32_t status = -1;
    const auto start = Clock::now();
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, nullptr, 0, nullptr), -1);
    EXPECT_EQ(status, 0);
    EXPECT_LT(MillisSince(start), kSlackMs * 2);
    ASSERT_FALSE(proxy.requests().empty());
    EXPECT_EQ(proxy.requests().front().rfind("CONNECT 127.0.0.1:", 0), 0u)
        << proxy.requests().front();
    EXPECT_NE(trace.Text().find("[ " + url + " ] request failed...\n"), std::string::npos)
        << trace.Text();

    TempDir folder;
    const std::string path = folder.File("up.bin");
    WriteFileBytes(path, "content");
    OwnedHandle handle(ZEMTransferBegin());
    const PostFields none;
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1), 0);
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, folder.File("d").c_str(), 0), 0);
    EXPECT_FALSE(FileExists(folder.File("d")));
}

}  // namespace
