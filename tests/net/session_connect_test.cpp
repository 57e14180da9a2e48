// Connecting a session, and the paths that fail before anything is sent.
#include "session/connect_mode.h"
#include "session_fixture.h"

namespace {

using namespace zemuser;

using namespace session_testing;
using testing_support::HttpResponse;
using testing_support::ScriptedServer;

TEST(SessionConnect, RecordsTheDefaultPortOfTheMode) {
    TransferSession secure;
    ASSERT_TRUE(
        secure.Connect("127.0.0.1", 0, nullptr, nullptr, ConnectMode::ModeHttps, kTransferAgent));
    EXPECT_EQ(secure.Port(), 443u);
    EXPECT_EQ(secure.Mode(), static_cast<std::uint32_t>(ConnectMode::ModeHttps));
    secure.CloseHandles();

    TransferSession plain;
    ASSERT_TRUE(
        plain.Connect("127.0.0.1", 0, nullptr, nullptr, ConnectMode::ModeHttp, kTransferAgent));
    EXPECT_EQ(plain.Port(), 80u);
    EXPECT_EQ(plain.Host(), "127.0.0.1");
    plain.CloseHandles();
}

TEST(SessionConnect, KeepsEarlierCredentialsWhenNoneAreGiven) {
    TransferSession session;
    ASSERT_TRUE(
        session.Connect("127.0.0.1", 8, "user", "secret", ConnectMode::ModeHttp, kTransferAgent));
    session.CloseHandles();
    ASSERT_TRUE(
        session.Connect("127.0.0.1", 8, nullptr, nullptr, ConnectMode::ModeHttp, kTransferAgent));
    EXPECT_EQ(session.User(), "user");
    EXPECT_EQ(session.Password(), "secret");
    session.CloseHandles();
}

TEST(SessionConnect, EmptiesTheFieldsOnlyWhenItSucceeds) {
    TraceFile trace;
    TransferSession session;
    session.AddFormField("a", "1", false);
    session.AddFormField("b", 2);
    EXPECT_FALSE(session.Connect("", 0, nullptr, nullptr, ConnectMode::ModeHttps, kTransferAgent));
    EXPECT_EQ(session.Fields().size(), 2u);
    EXPECT_FALSE(session.HasOpenHandles());
    EXPECT_FALSE(session.IsConnected());
    // The report shows the port as it was passed: 0 for the default.
    EXPECT_NE(trace.Text().find("[ https://:0 ] connect failed...\n"), std::string::npos)
        << trace.Text();

    ASSERT_TRUE(ConnectTo(session, 8));
    EXPECT_EQ(session.Fields().size(), 0u);
    session.CloseHandles();
}

TEST(SessionConnect, UnknownRequestKindFailsWithoutReport) {
    TraceFile trace;
    ScriptedServer server(Answer(HttpResponse(200, "x")));
    TransferSession session;
    ASSERT_TRUE(ConnectTo(session, server.port()));
    EXPECT_FALSE(session.SendRequest("/x", static_cast<RequestKind>(3), nullptr));
    EXPECT_FALSE(session.HasRequest());
    EXPECT_EQ(trace.Text(), "");
    EXPECT_EQ(server.connectionCount(), 0);
    session.CloseHandles();
}

TEST(SessionConnect, RequestWithoutConnectionRaisesHandleNotOpened) {
    TraceFile trace;
    TransferSession session;
    EXPECT_FALSE(session.SendRequest("/x", RequestKind::RequestGet, nullptr));
    EXPECT_FALSE(session.SendRequest("/y", RequestKind::RequestForm, nullptr));
    EXPECT_FALSE(session.SendRequest("/z", RequestKind::RequestMultipart, nullptr));
    // Mode 0 belongs to a session that never connected: the ftp prefix.
    std::string text = trace.Text();
    EXPECT_NE(text.find("[ ftp://:0/x ] handle not opened...\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[ ftp://:0/z ] handle not opened...\n"), std::string::npos) << text;
}

}  // namespace
