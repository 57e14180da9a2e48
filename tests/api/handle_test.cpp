// A handle's proxy credentials, sent only where asked for and never shown; the user's HTTP/1.1
// settings held off while any handle or call lives (seen from fresh host processes).
#include "api_support.h"

constexpr char kPassword[] = "pr0xy-pa55w0rd-never-logged";

// The credentials of ZEMTransferBeginV2 answer a proxy's demand; without them, or with the
// wrong ones, the proxy's 407 page is the answer. Whatever fails around them (the proxy refusing
// them, a server that keeps asking, one that resets), the password reaches neither the trace
// nor the debugger output. Ending or cancelling the null handle touches none of the handles.
TEST(TransferHandles, ProxyCredentialsAnsweringAProxyAndKeptSecret) {
    TempDir folder;
    const std::string debugPath = folder.File("debug.txt");
    ScopedEnv debug("ZEMUSER_DEBUG_OUTPUT", debugPath);
    ScopedEnv netTrace("ZEMUSER_NET_TRACE", "1");  // the library's own lines too, blanked
    const std::string agent = "YWdlbnQ6czNjcmV0", page = "http://127.0.0.1:1/via-proxy.txt";
    ScriptedServer proxy(ProxyDemanding("Basic " + agent, "proxied body"));  // agent:s3cret
    ScriptedServer origin(Answer(HttpResponse(200, "proxied body")));
    AuthProxy realProxy("agent", "s3cret");
    ScriptedServer asking(Answer(HttpResponse(407, "", {"Proxy-Authenticate: Basic realm=\"r\""})));
    ScriptedServer resetting([](ScriptedConnection& connection) { connection.Reset(); });
    OwnedHandle right(ZEMTransferBeginV2("agent", "s3cret")),
        wrong(ZEMTransferBeginV2("agent", kPassword)), none = BeginHandle();
    ZEMTransferEnd(nullptr);
    CancelTransferFile(nullptr);
    EXPECT_EQ(std::set<TransferHandle>({right.get(), wrong.get(), none.get(), nullptr}).size(), 4u);
    TraceFile trace;
    const struct {
        const char* name;
        TransferHandle handle;
        std::string url;
        std::string proxy;
        int32_t result, status;
    } rows[] = {
        {"right", right.get(), page, proxy.url(""), 12, 200},
        {"right, through tinyproxy", right.get(), origin.url("/"), realProxy.url(), 12, 200},
        {"wrong", wrong.get(), page, proxy.url(""), 4, 407},
        {"none", none.get(), page, proxy.url(""), 4, 407},
        {"null", nullptr, page, proxy.url(""), 4, 407},
        {"asking server", wrong.get(), asking.url(), "", 0, 407},
        {"resetting server", wrong.get(), resetting.url(), "", -1, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScopedEnv httpProxy("http_proxy", row.proxy);
        ScopedEnv noProxy("no_proxy", "");
        for (Call call : {Get2, Post}) {
            SCOPED_TRACE(Name(call));
            const Outcome out = Perform(call, row.handle, row.url.c_str(), 31);
            EXPECT_EQ(out.result, row.result);
            EXPECT_TRUE(call == Post || out.status == row.status) << out.status;
            EXPECT_TRUE(row.status != 200 || out.buffer.rfind("proxied body", 0) == 0);
        }
    }
    // Not sent before the proxy asked for them.
    EXPECT_EQ(ParseRequest(proxy.requests().at(0)).HeaderCount("Proxy-Authorization"), 0);
    const std::string traced = trace.Text(), debugged = ReadFileBytes(debugPath);
    EXPECT_NE(traced.find("request failed"), std::string::npos);
    EXPECT_NE(debugged.find("request failed"), std::string::npos);
    EXPECT_EQ(traced.find(kPassword), std::string::npos);
    EXPECT_EQ(debugged.find(kPassword), std::string::npos);
    EXPECT_EQ(debugged.find(agent), std::string::npos);
    EXPECT_NE(debugged.find("\nProxy-Authorization: (not shown)\n"), std::string::npos);
    const std::string requestLine = "net: > GET " + page + " HTTP/1.0\n";
    EXPECT_NE(debugged.find(requestLine), std::string::npos) << debugged.substr(0, 2000);
}

// Each row runs host processes one after another on one settings store.
TEST(HttpSettingsOverride, HeldOffWhileHandlesLiveOnAnyThread) {
    TempDir signals, releasing;
    const std::string arrived = signals.File("arrived"), release = releasing.File("release");
    // Holds its answer until the probe says so: a call with a null handle outlives both handles.
    ScriptedServer server([&](ScriptedConnection& connection) {
        connection.ReadRequest();
        WriteFileBytes(arrived, "");
        AwaitFileIn(releasing.path());
        connection.Send(HttpResponse(200, "done"));
    });
    const std::string off = "EnableHttp1_1=0 ProxyHttp1.1=0\n",
                      user = "EnableHttp1_1=1 ProxyHttp1.1=7\n",
                      absent = "EnableHttp1_1=absent ProxyHttp1.1=absent\n";
    const std::string file =
        "/HKEY_CURRENT_USER/Software/Microsoft/Windows/CurrentVersion/Internet Settings.reg";
    const struct {
        const char* name;
        bool seeded;                                            // the user's values 1 and 7
        std::vector<std::pair<std::string, std::string>> runs;  // commands, output
    } rows[] = {
        // clang-format off
        {"until the last handle or call ends", true, {{"print begin begin print get-start " +
         server.url() + " await " + arrived + " end print end print touch " + release +
         " get-wait print", user + off + off + off + "get=4 status=200\n" + user}}},
        // Emptied between two handles: a second reading would restore absent values as 1.
        {"read only once", true,
         {{"begin print end print touch {file} begin print end print", off + user + off + user}}},
        {"absent values restored as 1", false, {{"print begin print end print",
         absent + off + "EnableHttp1_1=1 ProxyHttp1.1=1\n"}}},
        {"restored at exit", true, {{"begin begin print exit", off}, {"print", user}}},
        {"nothing written without handles", false, {{"print exit", absent}, {"print", absent}}},
        {"concurrent threads", true, {{"storm 8 300 print begin print end print", user + off + user}}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TempDir settings;
        if (row.seeded) {
            fs::create_directories(fs::path(settings.path() + file).parent_path());
            WriteFileBytes(settings.path() + file,
                           "\"EnableHttp1_1\"=dword:00000001\n\"ProxyHttp1.1\"=dword:00000007\n");
        }
        for (const auto& [commands, output] : row.runs) {
            const std::string run =
                Replaced(commands, "{file}", "'" + settings.path() + file + "'");
            EXPECT_EQ(RunHostProbe(settings, run), output) << run;
        }
    }
}

// An origin server's 407 from inside a tunnel is its own answer: the handle's proxy
// credentials go neither to the proxy, which never asked, nor to the server.
TEST(TransferHandles, ProxyCredentialsStayHomeWhenTheServerAsksFromInsideATunnel) {
    NginxServer nginx(
        "location = /ask { add_header Proxy-Authenticate 'Basic realm=\"o\"' always; "
        "return 407 \"seen:$http_proxy_authorization$http_authorization\"; }");
    ScriptedServer proxy(TunnelingProxy());
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    ScopedEnv httpsProxy("https_proxy", proxy.url(""));
    ScopedEnv noProxy("no_proxy", "");
    OwnedHandle handle(ZEMTransferBeginV2("user", "secret"));
    const std::string url =
        "https://127.0.0.1:" + std::to_string(nginx.httpsPort(CertificateKind::Good)) + "/ask";
    const Outcome out = Perform(Get3, handle.get(), url.c_str(), 0);
    EXPECT_EQ(out.result, 5);
    EXPECT_EQ(out.status, 407);
    EXPECT_EQ(out.buffer, std::string("seen:", 6));
    ASSERT_FALSE(proxy.requests().empty());
    for (const std::string& connect : proxy.requests()) {
        EXPECT_EQ(ParseRequest(connect).HeaderCount("Proxy-Authorization"), 0) << connect;
    }
}
