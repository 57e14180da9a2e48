// Closing a handle from another thread while a call blocks on it: the call returns at once
// with the cancelled code, nothing leaks, and the host never sees SIGPIPE.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>

#include "net/internet_test_helpers.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::Send;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using Clock = std::chrono::steady_clock;

// Generous for a loaded two-core machine; the close itself wakes the call at once.
constexpr auto kCancelBound = std::chrono::milliseconds(500);

// Runs `blocking` on this thread, closes `handle` from another one after `delay`, and returns
// how long the blocking call went on after the close.
template <typename Call>
std::chrono::milliseconds CloseDuring(
    HINTERNET handle, Call blocking,
    std::chrono::milliseconds delay = std::chrono::milliseconds(200)) {
    std::atomic<Clock::rep> closedAt{0};
    std::thread closer([&] {
        std::this_thread::sleep_for(delay);
        closedAt = Clock::now().time_since_epoch().count();
        EXPECT_TRUE(InternetCloseHandle(handle));
    });
    blocking();
    const auto returnedAt = Clock::now();
    closer.join();
    return std::chrono::duration_cast<std::chrono::milliseconds>(
        returnedAt - Clock::time_point(Clock::duration(closedAt.load())));
}

// Holds every connection open without answering until the server is destroyed.
ScriptedServer::Script Silent() {
    return [](ScriptedConnection& connection) {
        connection.ReadUntilClosed(std::chrono::seconds(10));
    };
}

TEST(InternetCancelTest, CloseDuringSendReturnsCancelled) {
    const int descriptors = testing_support::CountOpenDescriptors();
    {
        ScriptedServer server(Silent());
        Connection connection(server.port());
        HINTERNET request =
            HttpOpenRequestA(connection.get(), "GET", "/", "HTTP/1.0", nullptr, nullptr, 0, 0);
        BOOL sent = TRUE;
        DWORD error = 0;
        const auto late = CloseDuring(request, [&] {
            sent = Send(request);
            error = GetLastError();
        });
        EXPECT_FALSE(sent);
        EXPECT_EQ(error, ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_LT(late, kCancelBound);
        RecordProperty("send_close_latency_ms", static_cast<int>(late.count()));
    }
    EXPECT_EQ(testing_support::CountOpenDescriptors(), descriptors);
}

TEST(InternetCancelTest, CloseDuringBlockedReadKeepsTheBytesThatArrived) {
    const int descriptors = testing_support::CountOpenDescriptors();
    {
        ScriptedServer server([](ScriptedConnection& connection) {
            if (connection.ReadRequest().empty()) return;
            connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\nfirst");
            connection.ReadUntilClosed(std::chrono::seconds(10));
        });
        Connection connection(server.port());
        HINTERNET request =
            HttpOpenRequestA(connection.get(), "GET", "/", "HTTP/1.0", nullptr, nullptr, 0, 0);
        ASSERT_TRUE(Send(request));
        char buffer[4096];
        DWORD got = 0;
        BOOL read = TRUE;
        DWORD error = 0;
        const auto late = CloseDuring(request, [&] {
            read = InternetReadFile(request, buffer, sizeof buffer, &got);
            error = GetLastError();
        });
        // The bytes that had arrived are delivered; the closed handle fails the next read.
        EXPECT_TRUE(read);
        EXPECT_EQ(std::string(buffer, got), "first");
        (void)error;
        EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &got));
        EXPECT_LT(late, kCancelBound);
        std::printf("close during a blocked read returned after %lld ms\n",
                    static_cast<long long>(late.count()));
        RecordProperty("read_close_latency_ms", static_cast<int>(late.count()));
    }
    EXPECT_EQ(testing_support::CountOpenDescriptors(), descriptors);
}

TEST(InternetCancelTest, CloseDuringSlowBodyAndDuringUpload) {
    {  // the body trickles; closing the connection handle ends the request's read
        ScriptedServer server([](ScriptedConnection& connection) {
            if (connection.ReadRequest().empty()) return;
            connection.Trickle(
                "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(5000, 's'), 50,
                std::chrono::milliseconds(20));
        });
        Connection connection(server.port());
        InternetHandle request = connection.Open("GET", "/");
        ASSERT_TRUE(Send(request.get()));
        std::string buffer(100000, '\0');
        DWORD got = 0;
        BOOL read = TRUE;
        const auto late = CloseDuring(connection.get(), [&] {
            read = InternetReadFile(request.get(), buffer.data(), 100000, &got);
        });
        // What had trickled in is delivered; the next read reports the cancellation.
        EXPECT_TRUE(read);
        EXPECT_GT(got, 0u);
        // Closing the connection ended the request under it as well.
        EXPECT_FALSE(InternetReadFile(request.get(), buffer.data(), 100000, &got));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        EXPECT_LT(late, kCancelBound);
    }
    {  // a server that never reads: the write blocks until the close
        ScriptedServer server([](ScriptedConnection& connection) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            (void)connection;
        });
        Connection connection(server.port());
        HINTERNET request =
            HttpOpenRequestA(connection.get(), "POST", "/", "HTTP/1.0", nullptr, nullptr, 0, 0);
        const std::string body(64u << 20, 'w');
        INTERNET_BUFFERSA buffers{};
        buffers.dwBufferTotal = static_cast<DWORD>(body.size());
        ASSERT_TRUE(HttpSendRequestExA(request, &buffers, nullptr, 0, 0));
        DWORD written = 0;
        BOOL wrote = TRUE;
        const auto late = CloseDuring(request, [&] {
            wrote =
                InternetWriteFile(request, body.data(), static_cast<DWORD>(body.size()), &written);
        });
        EXPECT_FALSE(wrote);
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_OPERATION_CANCELLED);
        EXPECT_LT(late, kCancelBound);
    }
}

bool SigpipePending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

bool SigpipeBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

// The default action of SIGPIPE ends the process, so merely finishing proves it never came.
TEST(InternetCancelTest, PeerClosingDuringUploadRaisesNoSigpipe) {
    ASSERT_EQ(std::signal(SIGPIPE, SIG_DFL), SIG_DFL);
    {  // plain
        ScriptedServer server([](ScriptedConnection& connection) {
            char head[512];
            (void)recv(connection.fd(), head, sizeof head, 0);
            connection.Reset();
        });
        Connection connection(server.port());
        InternetHandle request = connection.Open("POST", "/");
        const std::string body(32u << 20, 'p');
        INTERNET_BUFFERSA buffers{};
        buffers.dwBufferTotal = static_cast<DWORD>(body.size());
        ASSERT_TRUE(HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0));
        DWORD written = 0;
        EXPECT_FALSE(InternetWriteFile(request.get(), body.data(), static_cast<DWORD>(body.size()),
                                       &written));
        const DWORD error = GetLastError();
        EXPECT_TRUE(error == ERROR_INTERNET_CONNECTION_RESET ||
                    error == ERROR_INTERNET_CONNECTION_ABORTED)
            << error;
    }
    {  // TLS: a server that answers without reading the body and closes at once
        testing_support::ScopedEnv trust("SSL_CERT_FILE",
                                         testing_support::TestCertificates::Get().caFile);
        testing_support::NginxServer nginx(
            "location /drop { lingering_close off; return 200 \"early\"; }");
        Connection connection(nginx.httpsPort(testing_support::CertificateKind::Good));
        InternetHandle request = connection.Open("POST", "/drop", INTERNET_FLAG_SECURE);
        const std::string body(32u << 20, 't');
        INTERNET_BUFFERSA buffers{};
        buffers.dwBufferTotal = static_cast<DWORD>(body.size());
        ASSERT_TRUE(HttpSendRequestExA(request.get(), &buffers, nullptr, 0, 0));
        DWORD written = 0;
        InternetWriteFile(request.get(), body.data(), static_cast<DWORD>(body.size()), &written);
        HttpEndRequestA(request.get(), nullptr, 0, 0);
    }
    EXPECT_FALSE(SigpipePending());
    EXPECT_FALSE(SigpipeBlocked());
}

}  // namespace
