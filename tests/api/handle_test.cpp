// Transfer handles: distinct, null and ended ones refused without sending, the proxy
// credentials of a handle and their secrecy, and the user's HTTP/1.1 settings held off while
// any handle or call lives (seen from fresh host processes: the values are read once each).
#include "api_support.h"

namespace {

using namespace api_testing;

constexpr char kPassword[] = "pr0xy-pa55w0rd-never-logged";

// Ending or cancelling the null handle touches none of the live ones.
TEST(TransferHandles, DistinctHandlesAndNullEndsNothing) {
    OwnedHandle handles[] = {BeginHandle(), OwnedHandle(ZEMTransferBeginV2("user", "password")),
                             OwnedHandle(ZEMTransferBeginV2(nullptr, nullptr))};
    ZEMTransferEnd(nullptr);
    CancelTransferFile(nullptr);
    ScriptedServer server(Answer(HttpResponse(200, "alive")));
    std::set<TransferHandle> distinct;
    for (const OwnedHandle& handle : handles) {
        ASSERT_NE(handle.get(), nullptr);
        distinct.insert(handle.get());
        int32_t status = 0;
        char buffer[8] = {};
        EXPECT_EQ(ZEMUrlGet2(server.url().c_str(), &status, buffer, 7, handle.get()), 5);
        EXPECT_STREQ(buffer, "alive");
    }
    EXPECT_EQ(distinct.size(), 3u);
}

// The credentials of ZEMTransferBeginV2 answer a real proxy's demand; without them the proxy's
// 407 is the status.
TEST(TransferHandles, ProxyCredentialsAnswerTheProxy) {
    NginxServer nginx;
    nginx.AddFile("via-proxy.txt", "proxied body");
    AuthProxy proxy("agent", "s3cret");
    ScopedEnv httpProxy("http_proxy", proxy.url());
    ScopedEnv noProxy("no_proxy", "");
    const std::string url = nginx.url("/via-proxy.txt");
    OwnedHandle with(ZEMTransferBeginV2("agent", "s3cret")), without = BeginHandle();
    const std::pair<TransferHandle, int32_t> rows[] = {
        {with.get(), 200}, {without.get(), 407}, {nullptr, 407}};
    for (const auto& [handle, expected] : rows) {
        SCOPED_TRACE(expected);
        int32_t status = 0;
        char buffer[32] = {};
        EXPECT_GE(ZEMUrlGet2(url.c_str(), &status, buffer, 31, handle), 0);
        EXPECT_EQ(status, expected);
        EXPECT_STREQ(buffer, expected == 200 ? "proxied body" : buffer);
    }
}

// Whatever fails around it (a proxy refusing the credentials, a server that keeps asking, one
// that resets), the proxy password reaches neither the trace nor the debugger output.
TEST(TransferHandles, ProxyPasswordNeverInTraceOrDebugOutput) {
    TempDir folder;
    const std::string debugPath = folder.File("debug.txt");
    ScopedEnv debug("ZEMUSER_DEBUG_OUTPUT", debugPath);
    NginxServer nginx;
    AuthProxy proxy("agent", "another-password");
    ScriptedServer asking(Answer(HttpResponse(407, "", {"Proxy-Authenticate: Basic realm=\"r\""})));
    ScriptedServer resetting([](ScriptedConnection& connection) { connection.Reset(); });
    OwnedHandle handle(ZEMTransferBeginV2("agent", kPassword));
    TraceFile trace;
    auto both = [&](const std::string& url) {
        int32_t status = 0;
        char buffer[8];
        ZEMUrlGet2(url.c_str(), &status, buffer, 7, handle.get());
        return ZEMUrlPost(url.c_str(), nullptr, &status, buffer, 7, handle.get());
    };
    {
        ScopedEnv httpProxy("http_proxy", proxy.url());
        ScopedEnv noProxy("no_proxy", "");
        EXPECT_EQ(both(nginx.url("/missing")), 7);  // the proxy's own page
    }
    EXPECT_EQ(both(asking.url()), 0);
    EXPECT_EQ(both(resetting.url()), -1);
    const std::string traced = trace.Text(), debugged = ReadFileBytes(debugPath);
    EXPECT_NE(traced, "");
    EXPECT_NE(debugged, "");
    EXPECT_EQ(traced.find(kPassword), std::string::npos);
    EXPECT_EQ(debugged.find(kPassword), std::string::npos);
}

// Each row runs host processes one after another on one settings store and compares what
// they printed.
TEST(HttpSettingsOverride, HeldOffWhileHandlesLiveOnAnyThread) {
    TempDir signals;
    const std::string arrived = signals.File("arrived"), release = signals.File("release");
    // Holds its answer until the probe says so: a call with a null handle outlives both handles.
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        WriteFileBytes(arrived, "");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!FileExists(release) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        connection.Send(HttpResponse(200, "done"));
    });
    const std::string off = "EnableHttp1_1=0 ProxyHttp1.1=0\n",
                      user = "EnableHttp1_1=1 ProxyHttp1.1=7\n";
    const std::string seeded = "set EnableHttp1_1 1 set ProxyHttp1.1 7 ";
    const struct {
        const char* name;
        std::vector<std::pair<std::string, std::string>> runs;  // commands, output
    } rows[] = {
        {"until the last handle or call ends",
         {{seeded + "print begin begin print get-start " + server.url() + " await " + arrived +
               " end print end print touch " + release + " get-wait print",
           user + off + off + off + "get=4 status=200\n" + user}}},
        {"read only once",
         {{seeded + "begin print end print set EnableHttp1_1 5 begin print end print",
           off + user + off + user}}},
        {"absent values restored as 1",
         {{"print begin print end print", "EnableHttp1_1=absent ProxyHttp1.1=absent\n" + off +
                                              "EnableHttp1_1=1 ProxyHttp1.1=1\n"}}},
        {"restored at exit", {{seeded + "begin begin print exit", off}, {"print", user}}},
        {"nothing written without handles",
         {{"print exit", "EnableHttp1_1=absent ProxyHttp1.1=absent\n"},
          {"print", "EnableHttp1_1=absent ProxyHttp1.1=absent\n"}}},
        {"concurrent threads",
         {{seeded + "storm 8 300 print begin print end print", user + off + user}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir settings;
        for (const auto& [commands, output] : row.runs) {
            EXPECT_EQ(RunHostProbe(settings, commands), output) << commands;
        }
    }
}

}  // namespace
