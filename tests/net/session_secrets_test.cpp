// Proxy passwords never reach the trace file or the debugger output, whatever fails.
#include <cstdlib>

#include "session_fixture.h"

namespace {

using namespace zemuser;

using namespace session_testing;
using testing_support::AuthProxy;
using testing_support::HttpResponse;
using testing_support::NginxServer;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;

constexpr char kPassword[] = "pr0xy-pa55w0rd-never-logged";

TEST(SessionSecrets, ProxyPasswordStaysOutOfTraceAndDebugOutput) {
    TraceFile trace;
    TempDir folder;
    std::string debugPath = folder.File("debug.txt");
    ScopedEnv debug("ZEMUSER_DEBUG_OUTPUT", debugPath);

    // A proxy that refuses these credentials, a server that keeps asking, and one that resets.
    NginxServer nginx;
    AuthProxy proxy("agent", "another-password");
    ScriptedServer asking(Answer(HttpResponse(407, "", {"Proxy-Authenticate: Basic realm=\"r\""})));
    ScriptedServer resetting([](ScriptedConnection& connection) { connection.Reset(); });
    {
        ScopedEnv httpProxy("http_proxy", proxy.url());
        ScopedEnv noProxy("no_proxy", "");
        TransferSession session;
        session.SetProxyCredentials("agent", kPassword);
        ASSERT_TRUE(ConnectTo(session, nginx.httpPort()));
        session.SendRequest("/missing", RequestKind::RequestGet, nullptr);
        session.QueryContentLength();
        session.CloseHandles();
    }
    for (std::uint16_t port : {asking.port(), resetting.port()}) {
        TransferSession session;
        session.SetProxyCredentials("agent", kPassword);
        ASSERT_TRUE(ConnectTo(session, port));
        session.SendRequest("/p", RequestKind::RequestMultipart, nullptr);
        session.QueryContentDisposition(nullptr, 0);
        session.CloseHandles();
    }

    std::string traced = trace.Text();
    std::string debugged = ReadFileBytes(debugPath);
    EXPECT_NE(traced, "");  // the failures were reported...
    EXPECT_NE(debugged, "");
    EXPECT_EQ(traced.find(kPassword), std::string::npos);  // ...without the password
    EXPECT_EQ(debugged.find(kPassword), std::string::npos);
}

}  // namespace
