// Answers as they come off the wire: header queries and their buffer rules, body reads and
// their ends (cut short, closed, chunked), broken servers, time-outs, and bounded memory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "net/internet_test_helpers.h"
#include "platform/posix/internet/body_window.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::Query;
using internet_testing::ReadBody;
using internet_testing::Send;
using internet_testing::Status;
using testing_support::HttpResponse;
using testing_support::ScopedEnv;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;

// Sanitizers keep shadow memory for every byte touched, which shows in the resident size.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr long kGrowthBoundKb = 64 * 1024;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr long kGrowthBoundKb = 64 * 1024;
#else
constexpr long kGrowthBoundKb = 8 * 1024;
#endif
#else
constexpr long kGrowthBoundKb = 8 * 1024;
#endif

// A server that answers each connection's first request with `bytes`, then closes.
ScriptedServer::Script Raw(const std::string& bytes) {
    return [bytes](ScriptedConnection& connection) {
        if (!connection.ReadRequest().empty()) connection.Send(bytes);
    };
}

struct Fetch {
    BOOL sent = FALSE;
    DWORD sendError = 0;
    int status = 0;
    std::string body;
    DWORD readError = 0;
};

Fetch Get(std::uint16_t port, DWORD piece = 1024) {
    Connection connection(port);
    InternetHandle request = connection.Open("GET", "/");
    Fetch fetch;
    fetch.sent = Send(request.get());
    if (!fetch.sent) {
        fetch.sendError = GetLastError();
        return fetch;
    }
    fetch.status = Status(request.get());
    fetch.body = ReadBody(request.get(), piece, &fetch.readError);
    return fetch;
}

TEST(InternetResponseTest, QueriesFollowTheBufferRules) {
    const std::string disposition = "attachment; filename=\"report-2024.txt\"";
    ScriptedServer server(Raw(HttpResponse(
        200, "0123456789", {"Content-Disposition: " + disposition, "X-Twice: 1", "X-Twice: 2"})));
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/");
    HINTERNET r = request.get();

    char buffer[64];
    DWORD length = sizeof buffer;
    EXPECT_FALSE(HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE, buffer, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);  // nothing sent yet
    ASSERT_TRUE(Send(r));

    EXPECT_EQ(Query(r, HTTP_QUERY_STATUS_CODE), "200");
    EXPECT_EQ(Query(r, HTTP_QUERY_CONTENT_LENGTH), "10");
    EXPECT_EQ(Query(r, HTTP_QUERY_CONTENT_DISPOSITION), disposition);
    EXPECT_EQ(Query(r, HTTP_QUERY_LOCATION), "<12150>");

    // Too small: the size needed (with the NUL), the buffer untouched.
    std::memset(buffer, 'z', sizeof buffer);
    length = 10;
    EXPECT_FALSE(HttpQueryInfoA(r, HTTP_QUERY_CONTENT_DISPOSITION, buffer, &length, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(length, disposition.size() + 1);
    EXPECT_EQ(std::string(buffer, 10), std::string(10, 'z'));
    // Exactly the text without room for the NUL is still too small.
    length = static_cast<DWORD>(disposition.size());
    EXPECT_FALSE(HttpQueryInfoA(r, HTTP_QUERY_CONTENT_DISPOSITION, buffer, &length, nullptr));
    length = static_cast<DWORD>(disposition.size() + 1);
    ASSERT_TRUE(HttpQueryInfoA(r, HTTP_QUERY_CONTENT_DISPOSITION, buffer, &length, nullptr));
    EXPECT_EQ(length, disposition.size());
    EXPECT_EQ(buffer[length], '\0');

    // A number on request, and the occurrences of a repeated header by index.
    DWORD number = 0;
    length = sizeof number;
    ASSERT_TRUE(HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &number, &length,
                               nullptr));
    EXPECT_EQ(number, 200u);
    DWORD index = 0;
    std::strcpy(buffer, "X-Twice");
    length = sizeof buffer;
    ASSERT_TRUE(HttpQueryInfoA(r, 65535, buffer, &length, &index));
    EXPECT_EQ(std::string(buffer), "1");
    EXPECT_EQ(index, 1u);
    std::strcpy(buffer, "X-Twice");
    length = sizeof buffer;
    ASSERT_TRUE(HttpQueryInfoA(r, 65535, buffer, &length, &index));
    EXPECT_EQ(std::string(buffer), "2");
    std::strcpy(buffer, "X-Twice");
    length = sizeof buffer;
    EXPECT_FALSE(HttpQueryInfoA(r, 65535, buffer, &length, &index));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    // Queries do not consume the body.
    EXPECT_EQ(ReadBody(r), "0123456789");
    EXPECT_EQ(Query(r, HTTP_QUERY_STATUS_CODE), "200");
}

TEST(InternetResponseTest, ReadsFillTheBufferAndEndWithZero) {
    const std::string body(3000, 'b');
    ScriptedServer server([&](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        // The body trickles in, yet each read still fills its buffer.
        connection.Trickle(HttpResponse(200, body), 700, std::chrono::milliseconds(5));
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/");
    ASSERT_TRUE(Send(request.get()));
    char buffer[1024];
    DWORD got = 0;
    ASSERT_TRUE(InternetReadFile(request.get(), buffer, 1024, &got));
    EXPECT_EQ(got, 1024u);
    ASSERT_TRUE(InternetReadFile(request.get(), buffer, 1024, &got));
    EXPECT_EQ(got, 1024u);
    ASSERT_TRUE(InternetReadFile(request.get(), buffer, 1024, &got));
    EXPECT_EQ(got, 952u);
    ASSERT_TRUE(InternetReadFile(request.get(), buffer, 1024, &got));
    EXPECT_EQ(got, 0u);
    ASSERT_TRUE(InternetReadFile(request.get(), buffer, 1024, &got));
    EXPECT_EQ(got, 0u);
}

TEST(InternetResponseTest, BodyEndsOfEveryKind) {
    {  // no length: the body ends when the server closes
        ScriptedServer server(Raw(HttpResponse(200, "until close", {}, false)));
        const Fetch fetch = Get(server.port());
        EXPECT_EQ(fetch.body, "until close");
        EXPECT_EQ(fetch.readError, 0u);
    }
    {  // cut short: the bytes that came, then the failure
        ScriptedServer server(
            Raw("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1500, 'c')));
        const Fetch fetch = Get(server.port());
        EXPECT_EQ(fetch.body, std::string(1500, 'c'));
        EXPECT_EQ(fetch.readError, ERROR_INTERNET_CONNECTION_ABORTED);
    }
    {  // reset in mid-body
        ScriptedServer server([](ScriptedConnection& connection) {
            if (connection.ReadRequest().empty()) return;
            connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                            std::string(100, 'r'));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            connection.Reset();
        });
        const Fetch fetch = Get(server.port());
        EXPECT_EQ(fetch.body, std::string(100, 'r'));
        EXPECT_EQ(fetch.readError, ERROR_INTERNET_CONNECTION_RESET);
    }
    {  // chunked even though HTTP/1.0 was asked for; interim answers skipped
        ScriptedServer server(
            Raw("HTTP/1.1 100 Continue\r\n\r\n"
                "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                "5\r\nhello\r\n7\r\n, world\r\n0\r\nX-Trailer: t\r\n\r\n"));
        const Fetch fetch = Get(server.port());
        EXPECT_EQ(fetch.status, 200);
        EXPECT_EQ(fetch.body, "hello, world");
        EXPECT_EQ(fetch.readError, 0u);
    }
    {  // no body at all
        ScriptedServer server(Raw("HTTP/1.0 204 No Content\r\n\r\n"));
        const Fetch fetch = Get(server.port());
        EXPECT_EQ(fetch.status, 204);
        EXPECT_EQ(fetch.body, "");
    }
}

TEST(InternetResponseTest, BrokenServersGiveInvalidResponse) {
    const std::string answers[] = {
        "garbage instead of a status line\r\n\r\n",
        "<html>an old-style body without any head</html>",
        "HTTP/1.0 200 OK\r\nX-Big: " + std::string(200 * 1024, 'h') + "\r\n\r\nbody",
        "",  // closes without a byte
    };
    for (const std::string& answer : answers) {
        ScriptedServer server(Raw(answer));
        const Fetch fetch = Get(server.port());
        EXPECT_FALSE(fetch.sent) << answer.substr(0, 40);
        EXPECT_EQ(fetch.sendError, ERROR_HTTP_INVALID_SERVER_RESPONSE) << answer.substr(0, 40);
    }
}

TEST(InternetResponseTest, ConnectionFailuresAreNamed) {
    const std::uint16_t closedPort = testing_support::FreeLoopbackPort();
    const Fetch refused = Get(closedPort);
    EXPECT_FALSE(refused.sent);
    EXPECT_EQ(refused.sendError, ERROR_INTERNET_CANNOT_CONNECT);

    HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection =
        InternetConnectA(root, "name.invalid", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
    EXPECT_FALSE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_NAME_NOT_RESOLVED);
    InternetCloseHandle(root);
}

TEST(InternetResponseTest, SilenceEndsWithATimeout) {
    ScopedEnv timeout("ZEMUSER_RECEIVE_TIMEOUT_MS", "300");
    {  // no head
        ScriptedServer server([](ScriptedConnection& connection) {
            connection.ReadRequest();
            connection.ReadUntilClosed(std::chrono::seconds(5));
        });
        const Fetch fetch = Get(server.port());
        EXPECT_FALSE(fetch.sent);
        EXPECT_EQ(fetch.sendError, ERROR_INTERNET_TIMEOUT);
    }
    {  // a head, then a body that stalls
        ScriptedServer server([](ScriptedConnection& connection) {
            if (connection.ReadRequest().empty()) return;
            connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nabc");
            connection.ReadUntilClosed(std::chrono::seconds(5));
        });
        const Fetch fetch = Get(server.port());
        EXPECT_TRUE(fetch.sent);
        EXPECT_EQ(fetch.body, "abc");
        EXPECT_EQ(fetch.readError, ERROR_INTERNET_TIMEOUT);
    }
}

TEST(InternetResponseTest, LargeBodyKeepsMemoryBounded) {
    constexpr std::size_t kBody = 256u * 1024 * 1024;
    ScriptedServer server([](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        if (!connection.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kBody) +
                             "\r\n\r\n")) {
            return;
        }
        const std::string piece(1 << 20, 'm');
        for (std::size_t sent = 0; sent < kBody; sent += piece.size()) {
            if (!connection.Send(piece)) return;
        }
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/big");
    ASSERT_TRUE(Send(request.get()));
    const long before = testing_support::ResidentMemoryKb();
    long highest = before;
    std::size_t total = 0;
    char buffer[1024];
    for (;;) {
        DWORD got = 0;
        ASSERT_TRUE(InternetReadFile(request.get(), buffer, sizeof buffer, &got));
        if (got == 0) break;
        total += got;
        if ((total & ((16u << 20) - 1)) < sizeof buffer) {
            highest = std::max(highest, testing_support::ResidentMemoryKb());
        }
    }
    EXPECT_EQ(total, kBody);
    std::printf("256 MB read in 1024-byte pieces: resident memory grew by %ld KB\n",
                highest - before);
    RecordProperty("resident_growth_kb", static_cast<int>(highest - before));
    EXPECT_LT(highest - before, kGrowthBoundKb)
        << "resident memory grew by " << highest - before << " KB";
}

}  // namespace

namespace {

TEST(InternetBodyWindowTest, WrapsAroundAndTakesOversizePiecesWhenEmpty) {
    platform::internet::BodyWindow window(8);
    char out[16] = {};
    ASSERT_TRUE(window.Append("abcdef", 6));
    EXPECT_EQ(window.Take(out, 4), 4u);
    ASSERT_TRUE(window.Append("ghijk", 5));  // wraps past the end of the ring
    EXPECT_FALSE(window.Append("xyz", 3));   // no room: nothing stored
    EXPECT_EQ(window.Take(out, sizeof out), 7u);
    EXPECT_EQ(std::string(out, 7), "efghijk");
    ASSERT_TRUE(window.Append("0123456789AB", 12));  // empty: grows to the piece
    EXPECT_EQ(window.Take(out, sizeof out), 12u);
    EXPECT_EQ(std::string(out, 12), "0123456789AB");
}

}  // namespace
