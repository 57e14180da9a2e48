// Requests on the wire: the exact bytes of a GET and a POST, the header modifiers, bodies in
// parts, resends on one handle, cookies, and the handle rules.
#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "net/internet_test_helpers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::ReadBody;
using internet_testing::Send;
using internet_testing::Status;
using testing_support::HttpResponse;
using testing_support::ParseRequest;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;

ScriptedServer::Script AnswerWith(const std::string& response) {
    return [response](ScriptedConnection& connection) {
        while (!connection.ReadRequest().empty()) {
            if (!connection.Send(response)) return;
        }
    };
}

TEST(InternetRequestTest, GetSendsExactlyTheHeadersAsked) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "hello")));
    Connection connection(server.port());
    InternetHandle request = connection.Open(
        "GET", "/files/a.txt?x=1&y=a%20b",
        INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_KEEP_CONNECTION);
    ASSERT_TRUE(request);
    ASSERT_TRUE(
        HttpAddRequestHeadersA(request.get(), "Accept: */*\r\n", 13, HTTP_ADDREQ_FLAG_REPLACE));
    SetLastError(12345);
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(Status(request.get()), 200);
    EXPECT_EQ(ReadBody(request.get()), "hello");

    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "GET /files/a.txt?x=1&y=a%20b HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.port()) +
                  "\r\n"
                  "User-Agent: TestAgent/1.0\r\n"
                  "Accept: */*\r\n"
                  "Connection: Keep-Alive\r\n"
                  "\r\n");
}

TEST(InternetRequestTest, PostSendsHeadersAndBodyExactly) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "OK")));
    Connection connection(server.port(), "Agent X");
    InternetHandle request = connection.Open("POST", "/form");
    ASSERT_TRUE(HttpAddRequestHeadersA(request.get(), "User-Agent: Mine/2\r\n", 20,
                                       HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    const std::string body = "a=1&b=%C3%A9";
    ASSERT_TRUE(Send(request.get(), "Content-Type: application/x-www-form-urlencoded\r\n", body));
    EXPECT_EQ(ReadBody(request.get()), "OK");
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0],
              "POST /form HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.port()) +
                  "\r\n"
                  "Accept: */*\r\n"
                  "User-Agent: Mine/2\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\n"
                  "Content-Length: 12\r\n"
                  "\r\n" +
                  body);
}

TEST(InternetRequestTest, EmptyPostAnnouncesZeroLength) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "")));
    Connection connection(server.port());
    InternetHandle request = connection.Open("POST", "/empty");
    ASSERT_TRUE(Send(request.get()));
    const auto parsed = ParseRequest(server.requests().at(0));
    EXPECT_EQ(parsed.Header("Content-Length"), "0");
    EXPECT_EQ(parsed.HeaderCount("Content-Type"), 0);
}

TEST(InternetRequestTest, HeaderModifiersFollowTheirRules) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "")));
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/");
    HINTERNET r = request.get();
    const DWORD all = static_cast<DWORD>(-1);

    // ADD appends, a second header of the same name included.
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-A: 1\r\nX-B: b\r\n", all, HTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-A: 2", all, HTTP_ADDREQ_FLAG_ADD));
    // ADD_IF_NEW refuses a name that is there.
    EXPECT_FALSE(HttpAddRequestHeadersA(r, "X-B: again", all, HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_ALREADY_EXISTS);
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-C: c", all, HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    // REPLACE changes the first of the name; alone it adds nothing new.
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-A: one", all, HTTP_ADDREQ_FLAG_REPLACE));
    EXPECT_FALSE(HttpAddRequestHeadersA(r, "X-New: n", all, HTTP_ADDREQ_FLAG_REPLACE));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_HEADER_NOT_FOUND);
    // REPLACE with an empty value removes; REPLACE|ADD adds when missing.
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-C:", all, HTTP_ADDREQ_FLAG_REPLACE));
    ASSERT_TRUE(
        HttpAddRequestHeadersA(r, "X-D: d", all, HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD));
    ASSERT_TRUE(
        HttpAddRequestHeadersA(r, "X-D: dd", all, HTTP_ADDREQ_FLAG_REPLACE | HTTP_ADDREQ_FLAG_ADD));
    // Lines that could split the request, or are no header at all, are refused whole.
    EXPECT_FALSE(HttpAddRequestHeadersA(r, "X-E: e\rInjected: 1", all, HTTP_ADDREQ_FLAG_ADD));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_INVALID_HEADER);
    EXPECT_FALSE(
        HttpAddRequestHeadersA(r, "X-F: f\r\nno colon here\r\n", all, HTTP_ADDREQ_FLAG_ADD));
    // The length given counts: the text after it is not read.
    ASSERT_TRUE(HttpAddRequestHeadersA(r, "X-G: g\r\nX-H: h\r\n", 8, HTTP_ADDREQ_FLAG_ADD));

    ASSERT_TRUE(Send(r));
    EXPECT_EQ(server.requests().at(0),
              "GET / HTTP/1.0\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(server.port()) +
                  "\r\n"
                  "User-Agent: TestAgent/1.0\r\n"
                  "Accept: */*\r\n"
                  "X-A: one\r\n"
                  "X-B: b\r\n"
                  "X-A: 2\r\n"
                  "X-D: dd\r\n"
                  "X-G: g\r\n"
                  "\r\n");
}

TEST(InternetRequestTest, BodyInPartsIsSentFromTheCallersBuffer) {
    ScriptedServer server(AnswerWith(HttpResponse(201, "stored")));
    Connection connection(server.port());
    InternetHandle request = connection.Open("POST", "/upload");
    const std::string body(300000, 'u');
    ASSERT_TRUE(HttpAddRequestHeadersA(request.get(), "Content-Length: 300000\r\n",
                                       static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_ADD_IF_NEW));
    INTERNET_BUFFERSA buffers{};
    buffers.dwStructSize = 40;
    buffers.dwBufferTotal = static_cast<DWORD>(body.size());
    ASSERT_TRUE(HttpSendRequestExA(request.get(), &buffers, nullptr, HSR_INITIATE, 0));
    DWORD written = 0;
    ASSERT_TRUE(
        InternetWriteFile(request.get(), body.data(), static_cast<DWORD>(body.size()), &written));
    EXPECT_EQ(written, body.size());
    ASSERT_TRUE(HttpEndRequestA(request.get(), nullptr, HSR_INITIATE, 0));
    EXPECT_EQ(Status(request.get()), 201);
    EXPECT_EQ(ReadBody(request.get()), "stored");
    const auto parsed = ParseRequest(server.requests().at(0));
    EXPECT_EQ(parsed.HeaderCount("Content-Length"), 1);
    EXPECT_EQ(parsed.body, body);
}

TEST(InternetRequestTest, WrittenLengthMustMatchTheAnnouncedOne) {
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadUntilClosed(std::chrono::seconds(5));
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("POST", "/upload");
    INTERNET_BUFFERSA buffers{};
    buffers.dwBufferTotal = 10;
    ASSERT_TRUE(HttpSendRequestExA(request.get(), &buffers, nullptr, HSR_INITIATE, 0));
    DWORD written = 0;
    ASSERT_TRUE(InternetWriteFile(request.get(), "12345", 5, &written));
    EXPECT_FALSE(HttpEndRequestA(request.get(), nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    // Ending again without a new start is a state error, not a hang.
    EXPECT_FALSE(HttpEndRequestA(request.get(), nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_STATE);
}

TEST(InternetRequestTest, ResendOnTheSameHandleStartsAFreshExchange) {
    std::atomic<int> answer{0};
    ScriptedServer server([&answer](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        const int n = ++answer;
        connection.Send(HttpResponse(n == 1 ? 407 : 200, "answer " + std::to_string(n),
                                     {"Proxy-Authenticate: Basic realm=\"x\""}));
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("POST", "/again");
    ASSERT_TRUE(Send(request.get(), "", "body"));
    EXPECT_EQ(GetLastError(), 407u);
    EXPECT_EQ(Status(request.get()), 407);
    // The rest of the first answer is dropped unread.
    ASSERT_TRUE(Send(request.get(), "", "body"));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(ReadBody(request.get()), "answer 2");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(ParseRequest(server.requests()[1]).body, "body");
}

TEST(InternetRequestTest, CookiesGoOnlyToMatchingUrls) {
    // The jar is process-wide: every path here is this test's own, so no other test sees them.
    ScriptedServer server(AnswerWith(HttpResponse(200, "")));
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    ASSERT_TRUE(InternetSetCookieA((base + "/jar-test/shop/cart").c_str(), "sid", "42"));
    ASSERT_TRUE(InternetSetCookieA((base + "/").c_str(), nullptr, "lang=en; path=/jar-test"));
    ASSERT_TRUE(InternetSetCookieA((base + "/jar-test-other/x").c_str(), "other", "1"));
    EXPECT_FALSE(InternetSetCookieA((base + "/jar-test/").c_str(), "bad", "a\r\nInjected: 1"));
    EXPECT_FALSE(InternetSetCookieA("not a url", "a", "b"));

    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/jar-test/shop/item");
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(ParseRequest(server.requests().at(0)).Header("Cookie"), "sid=42; lang=en");
}

TEST(InternetRequestTest, StaleAndForeignHandlesFailCleanly) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "")));
    Connection connection(server.port());
    HINTERNET request =
        HttpOpenRequestA(connection.get(), "GET", "/", "HTTP/1.0", nullptr, nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    SetLastError(77);
    ASSERT_TRUE(InternetCloseHandle(request));
    EXPECT_EQ(GetLastError(), 77u);  // success leaves the last error alone

    DWORD read = 0;
    char buffer[8];
    EXPECT_FALSE(HttpSendRequestA(request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(InternetReadFile(request, buffer, sizeof buffer, &read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(InternetCloseHandle(request));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(InternetCloseHandle(nullptr));
    int local = 0;
    EXPECT_FALSE(InternetReadFile(&local, buffer, sizeof buffer, &read));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    // A connection handle is not a request.
    EXPECT_FALSE(HttpSendRequestA(connection.get(), nullptr, 0, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
    // A new handle never takes the value of a closed one.
    InternetHandle again = connection.Open("GET", "/");
    EXPECT_NE(again.get(), request);
}

TEST(InternetRequestTest, ClosingTheConnectionEndsItsRequests) {
    ScriptedServer server(AnswerWith(HttpResponse(200, "")));
    HINTERNET root = InternetOpenA("a", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = InternetConnectA(root, "127.0.0.1", server.port(), nullptr, nullptr,
                                            INTERNET_SERVICE_HTTP, 0, 0);
    HINTERNET request = HttpOpenRequestA(connection, "GET", "/", nullptr, nullptr, nullptr, 0, 0);
    ASSERT_NE(request, nullptr);
    ASSERT_TRUE(InternetCloseHandle(root));
    EXPECT_FALSE(InternetCloseHandle(request));
    EXPECT_FALSE(InternetCloseHandle(connection));
    EXPECT_EQ(InternetAttemptConnect(0), 0u);
    void* data = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(InternetErrorDlg(nullptr, nullptr, 407, 7, &data), ERROR_CANCELLED);
    EXPECT_EQ(data, reinterpret_cast<void*>(0x1));
}

}  // namespace
