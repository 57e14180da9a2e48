// What a hostile server or a careless host could do to the library, and what it must not
// achieve: credentials sent where nobody asked, bodies a value can break, lines that mix.
#include <atomic>

#include "api_support.h"

namespace {

using namespace api_testing;

// An origin server's 407 from inside a tunnel is its own answer: the handle's proxy
// credentials go neither to the proxy, which never asked, nor to the server.
TEST(Hardening, ProxyCredentialsStayHomeWhenTheServerAsksFromInsideATunnel) {
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
    int32_t status = 0, length = 0;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle.get()), 5);
    HandedBuffer body(raw);
    EXPECT_EQ(status, 407);
    EXPECT_STREQ(raw, "seen:");
    ASSERT_FALSE(proxy.requests().empty());
    for (const std::string& connect : proxy.requests()) {
        EXPECT_EQ(ParseRequest(connect).HeaderCount("Proxy-Authorization"), 0) << connect;
    }
}

// The trace file switched back and forth while threads trace: no line goes to a closed stream,
// none is cut or mixed with another, and after the last switch none is lost.
TEST(Hardening, TraceFileSwitchesWhileThreadsTrace) {
    TempDir folder;
    const std::string files[] = {folder.File("a.txt"), folder.File("b.txt")};
    std::atomic<bool> stop{false};
    std::vector<std::thread> tracers;
    for (int t = 0; t < 8; ++t) {
        tracers.emplace_back([&stop] {
            // Each call traces its Begin line and fails on the scheme, sending nothing; the last
            // 20 come after the last switch.
            for (int after = 0; after < 20;) {
                const bool late = stop;
                ZEMUrlPost3("ftp://x/", nullptr, nullptr, nullptr, nullptr, nullptr);
                after += late ? 1 : 0;
            }
        });
    }
    for (int i = 0; i < 200; ++i) ZEMUser_SetTraceFile(files[i % 2].c_str());
    stop = true;
    for (std::thread& tracer : tracers) tracer.join();
    ZEMUser_SetTraceFile(nullptr);
    std::istringstream lines(ReadFileBytes(files[1]));
    int count = 0;
    for (std::string line; std::getline(lines, line); ++count) {
        EXPECT_EQ(line, "ZEMUrlPost Begin: ftp://x/");
    }
    EXPECT_GE(count, 8 * 20);
}

// A value or a file holding the body's delimiter would end its part early for the server: the
// request fails with nothing sent. Quotes and line breaks in names cannot end a part header.
TEST(Hardening, MultipartBodiesNothingCanBreak) {
    TempDir folder;
    const std::string forged = folder.File("forged.txt");
    WriteFileBytes(forged, std::string("a\r\n") + kDelimiter + "\r\nContent-Disposition: x\r\n");
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    int32_t status = 0;
    const PostFields breaking{{"v", std::string("x\r\n") + kDelimiter + "--\r\n"}};
    EXPECT_EQ(ZEMUrlPost(server.url().c_str(), &breaking, &status, nullptr, 0, nullptr), -1);
    OwnedHandle handle = BeginHandle();
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), nullptr, forged.c_str(), 1),
              0);
    EXPECT_TRUE(server.requests().empty());

    const PostFields names{{"a\"b\r\nc", "v"}};
    EXPECT_EQ(ZEMUrlPost(server.url().c_str(), &names, &status, nullptr, 0, nullptr), 2);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(ParseRequest(server.requests()[0]).body,
              std::string(kDelimiter) +
                  "\r\nContent-Disposition: form-data; name=\"a%22b%0D%0Ac\"\r\n\r\nv\r\n" +
                  kDelimiter + "--\r\n");
}

}  // namespace
