// The servers and counts the suites rely on must themselves behave: exact bytes, recorded
// requests, a real nginx that starts, answers and stops, and a descriptor count that sees leaks.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace testing_support {
namespace {

// A blocking loopback client socket, closed at the end of its scope.
class LoopbackClient {
  public:
    explicit LoopbackClient(std::uint16_t port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    }
    ~LoopbackClient() { close(fd_); }
    LoopbackClient(const LoopbackClient&) = delete;
    LoopbackClient& operator=(const LoopbackClient&) = delete;

    bool connected() const { return connected_; }
    void Send(const std::string& bytes) {
        ASSERT_EQ(send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    // Everything until the server closes (bounded by a generous time-out).
    std::string ReadAll() { return ReadAtLeast(std::string::npos); }
    // Reads until `wanted` bytes arrived, the server closed or a generous time-out passed.
    std::string ReadAtLeast(std::size_t wanted) {
        std::string received;
        pollfd pfd{fd_, POLLIN, 0};
        while (received.size() < wanted && poll(&pfd, 1, 5000) > 0) {
            char buffer[4096];
            const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                lastError_ = got < 0 ? errno : 0;
                break;
            }
            received.append(buffer, static_cast<std::size_t>(got));
        }
        return received;
    }
    int lastError() const { return lastError_; }

  private:
    int fd_ = -1;
    bool connected_ = false;
    int lastError_ = 0;
};

std::string Exchange(std::uint16_t port, const std::string& request) {
    LoopbackClient client(port);
    EXPECT_TRUE(client.connected());
    client.Send(request);
    return client.ReadAll();
}

TEST(ScriptedServerTest, SendsExactBytesAndRecordsRequestsWithBody) {
    using namespace std::string_literals;
    const std::string answer = "HTTP/1.0 200 OK\r\nX-Odd:  spaced \r\n\r\nraw\0bytes"s;
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send(answer);
    });
    const std::string request =
        "POST /form HTTP/1.1\r\nHost: x\r\ncontent-length: 5\r\nX-A: 1\r\nx-a: 2\r\n\r\nhello";
    EXPECT_EQ(Exchange(server.port(), request + "trailing"), answer);

    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0], request);
    const ParsedRequest parsed = ParseRequest(server.requests()[0]);
    EXPECT_EQ(parsed.requestLine, "POST /form HTTP/1.1");
    EXPECT_EQ(parsed.body, "hello");
    EXPECT_EQ(parsed.Header("Content-Length"), "5");
    EXPECT_EQ(parsed.HeaderCount("X-A"), 2);
    EXPECT_EQ(parsed.headers[2].first, "X-A");
    EXPECT_EQ(parsed.Header("Missing"), "");
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST(ScriptedServerTest, SeveralRequestsOnOneConnectionAreSplitApart) {
    ScriptedServer server([](ScriptedConnection& connection) {
        while (!connection.ReadRequest().empty()) connection.Send("ok;");
    });
    const std::string first = "GET /a HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string second = "GET /b HTTP/1.1\r\nHost: x\r\n\r\n";
    LoopbackClient client(server.port());
    client.Send(first + second);
    EXPECT_EQ(client.ReadAtLeast(6), "ok;ok;");
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0], first);
    EXPECT_EQ(server.requests()[1], second);
}

TEST(ScriptedServerTest, DestructorWakesBlockedScripts) {
    const auto start = std::chrono::steady_clock::now();
    {
        ScriptedServer server([](ScriptedConnection& connection) {
            connection.ReadUntilClosed(std::chrono::seconds(60));
        });
        LoopbackClient client(server.port());
        ASSERT_TRUE(client.connected());
        while (server.connectionCount() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(ScriptedServerTest, ResetIsAbortiveAndCloseIsOrderly) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        connection.Send("partial");
        if (request.find("/reset") != std::string::npos) {
            connection.Reset();
        } else {
            connection.Close();
        }
    });
    {
        LoopbackClient client(server.port());
        client.Send("GET /close HTTP/1.0\r\n\r\n");
        EXPECT_EQ(client.ReadAll(), "partial");
        EXPECT_EQ(client.lastError(), 0);
    }
    LoopbackClient client(server.port());
    client.Send("GET /reset HTTP/1.0\r\n\r\n");
    client.ReadAll();
    EXPECT_EQ(client.lastError(), ECONNRESET);
}

TEST(NginxServerTest, ServesFilesForGetAndPostOnEveryPortAndStops) {
    std::uint16_t httpPort = 0;
    {
        NginxServer nginx("location /hello { return 200 \"hi\"; }");
        httpPort = nginx.httpPort();
        EXPECT_EQ(nginx.AddFile("sub/a.txt", "file-content"), "/sub/a.txt");
        EXPECT_EQ(nginx.url("/x"), "http://127.0.0.1:" + std::to_string(httpPort) + "/x");

        const std::string got = Exchange(httpPort, "GET /sub/a.txt HTTP/1.0\r\n\r\n");
        EXPECT_EQ(got.rfind("HTTP/1.1 200", 0), 0u) << got;
        EXPECT_EQ(ParseRequest(got).body, "file-content");
        const std::string posted =
            Exchange(httpPort, "POST /sub/a.txt HTTP/1.0\r\nContent-Length: 3\r\n\r\na=b");
        EXPECT_EQ(posted.rfind("HTTP/1.1 200", 0), 0u) << posted;
        EXPECT_EQ(ParseRequest(posted).body, "file-content");
        EXPECT_EQ(ParseRequest(Exchange(httpPort, "GET /hello HTTP/1.0\r\n\r\n")).body, "hi");

        for (auto kind : {CertificateKind::Good, CertificateKind::OtherName,
                          CertificateKind::Expired, CertificateKind::SelfSigned}) {
            EXPECT_TRUE(LoopbackClient(nginx.httpsPort(kind)).connected());
        }
        EXPECT_TRUE(LoopbackClient(nginx.clientCertPort()).connected());
    }
    EXPECT_FALSE(LoopbackClient(httpPort).connected());
}

// The leak checks rest on this count: whatever a call could leave open is seen, a connection
// that the server reset included; the server's own sockets, in whatever state, are not.
TEST(TestFilesTest, DescriptorCountSeesEveryLeakButNoServerSocket) {
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Reset();
    });
    const int before = CountOpenDescriptors();
    {
        LoopbackClient client(server.port());
        ASSERT_TRUE(client.connected());
        client.Send("GET / HTTP/1.0\r\n\r\n");
        EXPECT_EQ(client.ReadAll(), "");
        EXPECT_EQ(client.lastError(), ECONNRESET);
        EXPECT_EQ(CountOpenDescriptors(), before + 1);
    }
    const int unconnected = socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    close(unconnected);
    TempDir folder;
    std::FILE* file = std::fopen(folder.File("open").c_str(), "w");
    EXPECT_EQ(CountOpenDescriptors(), before + 1);
    std::fclose(file);
    EXPECT_EQ(CountOpenDescriptors(), before);
}

}  // namespace
}  // namespace testing_support
