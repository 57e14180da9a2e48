// Proxies: which one the environment names, the 407 flow with options 43 and 44 for plain
// requests and for tunnels, and the absolute request line a plain request sends.
#include <gtest/gtest.h>

#include <string>

#include "net/internet_test_helpers.h"
#include "platform/posix/internet/proxy_settings.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::ReadBody;
using internet_testing::Send;
using internet_testing::Status;
using platform::internet::ChooseProxy;
using platform::internet::HostBypassesProxy;
using platform::internet::ProxySettings;
using testing_support::HttpResponse;
using testing_support::ParseRequest;
using testing_support::ScopedEnv;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;

// Every proxy variable set, so the machine's own settings play no part.
struct ProxyEnvironment {
    explicit ProxyEnvironment(const std::string& http, const std::string& https = "",
                              const std::string& noProxy = "")
        : http_("http_proxy", http),
          https_("https_proxy", https),
          all_("all_proxy", ""),
          noProxy_("no_proxy", noProxy) {}
    ScopedEnv http_, https_, all_, noProxy_;
};

void SetProxyCredentials(HINTERNET handle, const std::string& user, const std::string& password) {
    EXPECT_TRUE(InternetSetOptionA(handle, INTERNET_OPTION_PROXY_USERNAME,
                                   const_cast<char*>(user.c_str()),
                                   static_cast<DWORD>(user.size() + 1)));
    EXPECT_TRUE(InternetSetOptionA(handle, INTERNET_OPTION_PROXY_PASSWORD,
                                   const_cast<char*>(password.c_str()),
                                   static_cast<DWORD>(password.size() + 1)));
}

TEST(InternetProxyTest, EnvironmentIsReadAsTheTransferLibraryReadsIt) {
    const ProxySettings preconfig{INTERNET_OPEN_TYPE_PRECONFIG, "", ""};
    {
        ProxyEnvironment environment("");
        ScopedEnv upper("HTTP_PROXY", "http://upper:1");  // ignored on purpose
        EXPECT_EQ(ChooseProxy(preconfig, false, "example.com").url, "");
    }
    {
        ProxyEnvironment environment("http://plain:3128", "http://secure:3129");
        EXPECT_EQ(ChooseProxy(preconfig, false, "example.com").url, "http://plain:3128");
        EXPECT_TRUE(ChooseProxy(preconfig, false, "example.com").speaksHttp);
        EXPECT_EQ(ChooseProxy(preconfig, true, "example.com").url, "http://secure:3129");
        const ProxySettings direct{INTERNET_OPEN_TYPE_DIRECT, "", ""};
        EXPECT_EQ(ChooseProxy(direct, false, "example.com").url, "");
    }
    {
        ProxyEnvironment environment("", "", "");
        ScopedEnv unsetLower("https_proxy", "");
        ScopedEnv all("all_proxy", "socks5://s:1080");
        // A set but empty https_proxy means none, as it does to the library.
        EXPECT_EQ(ChooseProxy(preconfig, true, "example.com").url, "");
    }
    EXPECT_TRUE(HostBypassesProxy("www.example.com", "localhost, .example.com"));
    EXPECT_TRUE(HostBypassesProxy("example.com", "example.com"));
    EXPECT_FALSE(HostBypassesProxy("badexample.com", "example.com"));
    EXPECT_TRUE(HostBypassesProxy("anything", "*"));
    EXPECT_TRUE(HostBypassesProxy("127.0.0.1", "10.0.0.0/8,127.0.0.0/8"));
    EXPECT_FALSE(HostBypassesProxy("127.0.0.1", "127.0.0.2"));
    EXPECT_TRUE(HostBypassesProxy("::1", "::1"));
    EXPECT_FALSE(HostBypassesProxy("example.com", ""));
}

TEST(InternetProxyTest, PlainRequestThroughProxyUsesTheAbsoluteFormAndCredentials) {
    // A scripted proxy: the first request is challenged, the second must carry credentials.
    ScriptedServer proxy([](ScriptedConnection& connection) {
        const std::string raw = connection.ReadRequest();
        if (raw.empty()) return;
        if (ParseRequest(raw).Header("Proxy-Authorization").empty()) {
            connection.Send(
                HttpResponse(407, "who are you", {"Proxy-Authenticate: Basic realm=\"test\""}));
        } else {
            connection.Send(HttpResponse(200, "via proxy"));
        }
    });
    ProxyEnvironment environment(proxy.url(""));
    // The transfer trace is on: it must not show the credentials.
    testing_support::TempDir folder;
    ScopedEnv trace("ZEMUSER_NET_TRACE", "1");
    ScopedEnv output("ZEMUSER_DEBUG_OUTPUT", folder.File("debug.txt"));
    Connection connection(8080);  // never reached itself: the proxy answers
    InternetHandle request = connection.Open("GET", "/page?q=1");
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(GetLastError(), 407u);
    EXPECT_EQ(Status(request.get()), 407);

    SetProxyCredentials(connection.get(), "user", "secret");
    SetProxyCredentials(request.get(), "user", "secret");
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(GetLastError(), 0u);
    EXPECT_EQ(ReadBody(request.get()), "via proxy");

    ASSERT_EQ(proxy.requests().size(), 2u);
    const auto first = ParseRequest(proxy.requests()[0]);
    const auto second = ParseRequest(proxy.requests()[1]);
    EXPECT_EQ(first.requestLine, "GET http://127.0.0.1:8080/page?q=1 HTTP/1.0");
    EXPECT_EQ(first.HeaderCount("Proxy-Connection"), 0);
    // Basic was offered, so the credentials go out with the first request of the resend.
    EXPECT_EQ(second.Header("Proxy-Authorization"), "Basic dXNlcjpzZWNyZXQ=");
    const std::string traced = testing_support::ReadFileBytes(folder.File("debug.txt"));
    EXPECT_NE(traced.find("> GET http://127.0.0.1:8080/page?q=1 HTTP/1.0"), std::string::npos);
    EXPECT_NE(traced.find("Proxy-Authorization: (not shown)"), std::string::npos);
    EXPECT_EQ(traced.find("dXNlcjpzZWNyZXQ="), std::string::npos);
    EXPECT_EQ(traced.find("secret"), std::string::npos);

    char user[32];
    DWORD length = sizeof user;
    ASSERT_TRUE(InternetQueryOptionA(request.get(), INTERNET_OPTION_PROXY_USERNAME, user, &length));
    EXPECT_EQ(std::string(user, length), "user");
}

TEST(InternetProxyTest, RealProxyChallengesThenPassesPlainAndTunnelledRequests) {
    testing_support::AuthProxy proxy("tester", "pa55");
    ScriptedServer origin([](ScriptedConnection& connection) {
        if (!connection.ReadRequest().empty()) connection.Send(HttpResponse(200, "origin"));
    });
    ScopedEnv trust("SSL_CERT_FILE", testing_support::TestCertificates::Get().caFile);
    testing_support::NginxServer nginx("location = /hello { return 200 \"secure hello\"; }");
    ProxyEnvironment environment(proxy.url(), proxy.url());

    struct Case {
        std::uint16_t port;
        DWORD flags;
        const char* body;
    } cases[] = {{origin.port(), 0, "origin"},
                 {nginx.httpsPort(testing_support::CertificateKind::Good), INTERNET_FLAG_SECURE,
                  "secure hello"}};
    for (const Case& c : cases) {
        Connection connection(c.port);
        InternetHandle request = connection.Open("GET", "/hello", c.flags);
        ASSERT_TRUE(Send(request.get())) << GetLastError();
        EXPECT_EQ(GetLastError(), 407u);
        EXPECT_EQ(Status(request.get()), 407);
        ReadBody(request.get());
        SetProxyCredentials(connection.get(), "tester", "pa55");
        ASSERT_TRUE(Send(request.get())) << GetLastError();
        EXPECT_EQ(GetLastError(), 0u);
        EXPECT_EQ(Status(request.get()), 200);
        EXPECT_EQ(ReadBody(request.get()), c.body);
    }
}

TEST(InternetProxyTest, NoProxyAndUpperCaseHttpProxyLeaveRequestsDirect) {
    ScriptedServer origin([](ScriptedConnection& connection) {
        if (!connection.ReadRequest().empty()) connection.Send(HttpResponse(200, "direct"));
    });
    const std::string deadProxy =
        "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort());
    {
        ProxyEnvironment environment(deadProxy, "", "localhost,127.0.0.1");
        Connection connection(origin.port());
        InternetHandle request = connection.Open("GET", "/");
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadBody(request.get()), "direct");
    }
    {
        ProxyEnvironment environment("");
        ScopedEnv upper("HTTP_PROXY", deadProxy);
        Connection connection(origin.port());
        InternetHandle request = connection.Open("GET", "/");
        ASSERT_TRUE(Send(request.get()));
        EXPECT_EQ(ReadBody(request.get()), "direct");
    }
    {
        ProxyEnvironment environment(deadProxy);
        Connection connection(origin.port());
        InternetHandle request = connection.Open("GET", "/");
        EXPECT_FALSE(Send(request.get()));
        EXPECT_EQ(GetLastError(), ERROR_INTERNET_CANNOT_CONNECT);
    }
}

}  // namespace
