// Redirects: which are followed, how a POST becomes a GET, which need the caller's word, and
// the hop limit.
#include <gtest/gtest.h>

#include <string>

#include "net/internet_test_helpers.h"
#include "support/scripted_server.h"

namespace {

using internet_testing::Connection;
using internet_testing::InternetHandle;
using internet_testing::Query;
using internet_testing::ReadBody;
using internet_testing::Send;
using internet_testing::Status;
using testing_support::HttpResponse;
using testing_support::ParseRequest;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;

// "/r/<status>/<n>" redirects with <status> to "/r/<status>/<n-1>"; "/r/<status>/0" and every
// other path answer 200 with the path as body.
ScriptedServer::Script Redirector() {
    return [](ScriptedConnection& connection) {
        const std::string raw = connection.ReadRequest();
        if (raw.empty()) return;
        const std::string line = ParseRequest(raw).requestLine;
        const std::string path =
            line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        int status = 0, hops = 0;
        if (std::sscanf(path.c_str(), "/r/%d/%d", &status, &hops) == 2 && hops > 0) {
            // Relative and absolute locations alternate.
            const std::string next =
                "/r/" + std::to_string(status) + "/" + std::to_string(hops - 1);
            connection.Send(HttpResponse(status, "moved",
                                         {"Location: " + (hops % 2 ? next : next.substr(3 + 4))}));
            return;
        }
        connection.Send(HttpResponse(200, path));
    };
}

TEST(InternetRedirectTest, GetFollowsEveryRedirectStatus) {
    ScriptedServer server(Redirector());
    Connection connection(server.port());
    for (int status : {301, 302, 303, 307, 308}) {
        const std::string path = "/r/" + std::to_string(status) + "/2";
        InternetHandle request = connection.Open("GET", path.c_str());
        ASSERT_TRUE(Send(request.get())) << status;
        EXPECT_EQ(Status(request.get()), 200) << status;
        EXPECT_EQ(ReadBody(request.get()), "/r/" + std::to_string(status) + "/0") << status;
    }
}

TEST(InternetRedirectTest, TenHopsAreFollowedAndTheEleventhFails) {
    ScriptedServer server(Redirector());
    Connection connection(server.port());
    InternetHandle ten = connection.Open("GET", "/r/302/10");
    ASSERT_TRUE(Send(ten.get()));
    EXPECT_EQ(ReadBody(ten.get()), "/r/302/0");
    InternetHandle eleven = connection.Open("GET", "/r/302/11");
    EXPECT_FALSE(Send(eleven.get()));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_REDIRECT_FAILED);
}

TEST(InternetRedirectTest, PostBecomesGetAfter301To303) {
    for (int status : {301, 302, 303}) {
        ScriptedServer server(Redirector());
        Connection connection(server.port());
        const std::string path = "/r/" + std::to_string(status) + "/1";
        InternetHandle request = connection.Open("POST", path.c_str());
        ASSERT_TRUE(Send(request.get(), "Content-Type: text/plain\r\n", "payload"));
        EXPECT_EQ(ReadBody(request.get()), "/r/" + std::to_string(status) + "/0");
        ASSERT_EQ(server.requests().size(), 2u);
        const auto followed = ParseRequest(server.requests()[1]);
        EXPECT_EQ(followed.requestLine, "GET /r/" + std::to_string(status) + "/0 HTTP/1.0");
        EXPECT_EQ(followed.HeaderCount("Content-Length"), 0);
        EXPECT_EQ(followed.HeaderCount("Content-Type"), 0);
        EXPECT_EQ(followed.body, "");
    }
}

TEST(InternetRedirectTest, PostWith307Or308NeedsConfirmation) {
    for (int status : {307, 308}) {
        ScriptedServer server(Redirector());
        Connection connection(server.port());
        const std::string path = "/r/" + std::to_string(status) + "/1";
        InternetHandle request = connection.Open("POST", path.c_str());
        EXPECT_FALSE(Send(request.get(), "", "payload"));
        EXPECT_EQ(GetLastError(), ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION);
        // The answer stays on the handle for the caller to decide.
        EXPECT_EQ(Status(request.get()), status);
        EXPECT_EQ(Query(request.get(), HTTP_QUERY_LOCATION), "/r/" + std::to_string(status) + "/0");
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

TEST(InternetRedirectTest, AnotherSchemeNeedsConfirmation) {
    ScriptedServer server([](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send(HttpResponse(302, "", {"Location: https://127.0.0.1:1/secure"}));
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "/plain");
    EXPECT_FALSE(Send(request.get()));
    EXPECT_EQ(GetLastError(), ERROR_HTTP_REDIRECT_NEEDS_CONFIRMATION);
    EXPECT_EQ(Query(request.get(), HTTP_QUERY_LOCATION), "https://127.0.0.1:1/secure");
}

TEST(InternetRedirectTest, AbsoluteObjectNameGoesToTheConnectedHost) {
    ScriptedServer server([](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send(HttpResponse(200, "here"));
    });
    Connection connection(server.port());
    InternetHandle request = connection.Open("GET", "http://elsewhere.invalid:8080/x?y=1");
    ASSERT_TRUE(Send(request.get()));
    EXPECT_EQ(ReadBody(request.get()), "here");
    EXPECT_EQ(ParseRequest(server.requests().at(0)).requestLine,
              "GET http://elsewhere.invalid:8080/x?y=1 HTTP/1.0");
}

}  // namespace
