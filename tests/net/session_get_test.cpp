// The GET request on the wire and its send loop's bounds, against loopback servers.
#include <atomic>

#include "session_fixture.h"

namespace {

using namespace zemuser;

using namespace session_testing;
using testing_support::AuthProxy;
using testing_support::CertificateKind;
using testing_support::HttpResponse;
using testing_support::NginxServer;
using testing_support::ParseRequest;
using testing_support::ScopedEnv;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TestCertificates;

TEST(SessionGet, SendsAnHttp10RequestWithTheFixedHeaders) {
    ScriptedServer server(Answer(HttpResponse(200, "hello")));
    TransferSession session;
    ASSERT_TRUE(ConnectTo(session, server.port()));
    ASSERT_TRUE(session.SendRequest("/a/b?c=1&d=%20", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 200);
    EXPECT_EQ(session.LastPath(), "/a/b?c=1&d=%20");
    session.CloseHandles();

    ASSERT_EQ(server.requests().size(), 1u);
    auto request = ParseRequest(server.requests()[0]);
    EXPECT_EQ(request.requestLine, "GET /a/b?c=1&d=%20 HTTP/1.0");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.HeaderCount("Accept"), 1);
    EXPECT_EQ(request.Header("User-Agent"), "Mozilla/4.0 (compatible; )");
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server.port()));
    EXPECT_EQ(request.body, "");
}

TEST(SessionGet, ConnectionResetOnEverySendIsTriedTenTimes) {
    TraceFile trace;
    ScriptedServer server([](ScriptedConnection& connection) { connection.Reset(); });
    TransferSession session;
    ASSERT_TRUE(ConnectTo(session, server.port()));
    EXPECT_FALSE(session.SendRequest("/reset", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(server.connectionCount(), 10);
    EXPECT_FALSE(session.HasRequest());
    std::string expected =
        "[ http://127.0.0.1:" + std::to_string(server.port()) + "/reset ] request failed...\n";
    EXPECT_NE(trace.Text().find(expected), std::string::npos) << trace.Text();
    session.CloseHandles();
}

TEST(SessionGet, ProxyAuthenticationThatNeverWorksEndsAfterThreeAttempts) {
    ScriptedServer server(
        Answer(HttpResponse(407, "no", {"Proxy-Authenticate: Basic realm=\"x\""})));
    TransferSession session;
    session.SetProxyCredentials("who", "wrong");
    ASSERT_TRUE(ConnectTo(session, server.port()));
    // Two attempts apply the credentials; the third asks the dialog, which cancels here.
    EXPECT_TRUE(session.SendRequest("/p", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 407);
    EXPECT_EQ(server.requests().size(), 3u);
    session.CloseHandles();
}

TEST(SessionGet, ProxyAcceptsTheSessionsCredentials) {
    NginxServer nginx;
    nginx.AddFile("through-proxy.txt", "proxied body");
    AuthProxy proxy("agent", "s3cret");
    ScopedEnv httpProxy("http_proxy", proxy.url());
    ScopedEnv noProxy("no_proxy", "");
    TransferSession session;
    session.SetProxyCredentials("agent", "s3cret");
    ASSERT_TRUE(ConnectTo(session, nginx.httpPort()));
    ASSERT_TRUE(session.SendRequest("/through-proxy.txt", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 200);
    char body[64] = {};
    EXPECT_EQ(session.ReadResponse(body, sizeof(body) - 1), 12u);
    EXPECT_STREQ(body, "proxied body");
    session.CloseHandles();
}

TEST(SessionGet, RedirectNeedingConfirmationIsFollowedOnTheSameConnection) {
    std::atomic<int> served{0};
    ScriptedServer server([&served](ScriptedConnection& connection) {
        connection.ReadRequest();
        if (served++ == 0) {
            // Another scheme: the platform asks before following.
            connection.Send(HttpResponse(302, "", {"Location: https://127.0.0.1:1/target"}));
        } else {
            connection.Send(HttpResponse(200, "arrived"));
        }
    });
    TransferSession session;
    ASSERT_TRUE(ConnectTo(session, server.port()));
    ASSERT_TRUE(session.SendRequest("/start", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 200);
    EXPECT_EQ(session.LastPath(), "/start");
    char body[16] = {};
    EXPECT_EQ(session.ReadResponse(body, 15), 7u);
    EXPECT_STREQ(body, "arrived");
    session.CloseHandles();

    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(ParseRequest(server.requests()[1]).requestLine,
              "GET https://127.0.0.1:1/target HTTP/1.0");
}

TEST(SessionGet, UnknownAuthorityCostsOneFailedSend) {
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx;
    nginx.AddFile("secure.txt", "tls");
    TransferSession session;
    ASSERT_TRUE(
        ConnectTo(session, nginx.httpsPort(CertificateKind::SelfSigned), ConnectMode::ModeHttps));
    ASSERT_TRUE(session.SendRequest("/secure.txt", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 200);
    session.CloseHandles();
}

TEST(SessionGet, CertificateNameAndDateAreNotChecked) {
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx;
    nginx.AddFile("secure.txt", "tls");
    for (CertificateKind kind :
         {CertificateKind::Good, CertificateKind::OtherName, CertificateKind::Expired}) {
        TransferSession session;
        ASSERT_TRUE(ConnectTo(session, nginx.httpsPort(kind), ConnectMode::ModeHttps));
        EXPECT_TRUE(session.SendRequest("/secure.txt", RequestKind::RequestGet, nullptr));
        EXPECT_EQ(session.QueryStatusCode(), 200);
        session.CloseHandles();
    }
}

}  // namespace
