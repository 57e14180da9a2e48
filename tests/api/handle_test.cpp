// A handle's proxy credentials, sent only where asked for and never shown.
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
    EXPECT_EQ(proxy.requests().at(0).find("Proxy-Authorization"), std::string::npos);
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
        EXPECT_EQ(connect.find("Proxy-Authorization"), std::string::npos) << connect;
    }
}
