// A server that answers every request with a redirect the platform wants confirmed (another
// scheme) made each followed request follow the next one from inside itself, without end,
// until the stack overflowed. Found by the server-answer fuzzer.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

#include "session/transfer_session.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using namespace zemuser;

using testing_support::HttpResponse;
using testing_support::ScopedEnv;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;

// The most confirmed redirects one request follows in a row.
constexpr int kMostFollowed = 10;
// Far more than any sound limit, yet finite, so that a missing limit fails the test instead
// of hanging it.
constexpr int kEndless = 50;

class RedirectLoop : public ::testing::Test {
  protected:
    TempDir settings_;
    ScopedEnv settingsDir_{"ZEMUSER_SETTINGS_DIR", settings_.path()};
    ScopedEnv receiveTimeout_{"ZEMUSER_RECEIVE_TIMEOUT_MS", "2000"};
};

// Answers the first `redirects` requests with a redirect to another scheme, the rest with 200.
ScriptedServer::Script Redirecting(std::atomic<int>* served, int redirects) {
    return [served, redirects](ScriptedConnection& connection) {
        connection.ReadRequest();
        if ((*served)++ < redirects) {
            connection.Send(HttpResponse(301, "", {"Location: ttw://127.0.0.1:1/x"}));
        } else {
            connection.Send(HttpResponse(200, "arrived"));
        }
    };
}

bool Connect(TransferSession& session, const ScriptedServer& server) {
    return session.Connect("127.0.0.1", server.port(), nullptr, nullptr, ConnectMode::ModeHttp,
                           kTransferAgent);
}

TEST_F(RedirectLoop, EndlessConfirmedRedirectsEndTheGetWithFailure) {
    std::atomic<int> served{0};
    ScriptedServer server(Redirecting(&served, kEndless));
    TransferSession session;
    ASSERT_TRUE(Connect(session, server));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(session.SendRequest("/start", RequestKind::RequestGet, nullptr));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(session.HasRequest());
    session.CloseHandles();
    // The request itself and the redirects followed from it.
    EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(1 + kMostFollowed));
}

TEST_F(RedirectLoop, EndlessConfirmedRedirectsEndTheMultipartPostWithFailure) {
    std::atomic<int> served{0};
    ScriptedServer server(Redirecting(&served, kEndless));
    TransferSession session;
    ASSERT_TRUE(Connect(session, server));
    session.AddFormField("act", "upload", false);
    EXPECT_FALSE(session.SendRequest("/start", RequestKind::RequestMultipart, nullptr));
    session.CloseHandles();
    EXPECT_EQ(server.requests().size(), static_cast<std::size_t>(1 + kMostFollowed));
}

TEST_F(RedirectLoop, ChainWithinTheLimitStillArrives) {
    std::atomic<int> served{0};
    ScriptedServer server(Redirecting(&served, kMostFollowed));
    TransferSession session;
    ASSERT_TRUE(Connect(session, server));
    ASSERT_TRUE(session.SendRequest("/start", RequestKind::RequestGet, nullptr));
    EXPECT_EQ(session.QueryStatusCode(), 200);
    char body[16] = {};
    EXPECT_EQ(session.ReadResponse(body, 15), 7u);
    EXPECT_STREQ(body, "arrived");
    session.CloseHandles();

    // A later request on the session starts counting afresh.
    served = 0;
    ASSERT_TRUE(Connect(session, server));
    EXPECT_TRUE(session.SendRequest("/again", RequestKind::RequestGet, nullptr));
    session.CloseHandles();
}

}  // namespace
