// The POSIX HTTP transport through its seam, against loopback servers the tests start.
#include "platform/http_transport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <list>
#include <string>
#include <tuple>
#include <vector>

#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using namespace zemuser::platform;
using namespace testing_support;

// The machine's own proxy settings play no part.
[[maybe_unused]] const bool kNoProxies =
    (unsetenv("http_proxy"), unsetenv("https_proxy"), unsetenv("all_proxy"),
     unsetenv("HTTPS_PROXY"), unsetenv("ALL_PROXY"), true);

RequestLine Line(const char* verb, const char* target, bool secure = false, bool keep = false,
                 const char* version = "HTTP/1.0") {
    RequestLine line;
    line.verb = verb, line.target = target, line.secure = secure, line.keepConnection = keep;
    line.version = version;
    return line;
}

// A session, a connection and a request, opened as the engine opens them.
struct Opened {
    Opened(const char* host, std::uint16_t port, const RequestLine& line) {
        ErrorCode failure = kNoError;
        session = OpenInternet("Mozilla/4.0 (compatible; )", &failure);
        connection = session->Connect(host, port, nullptr, nullptr, &failure);
        request = connection->OpenRequest(line, &failure);
    }
    std::string Status() const {
        char buffer[16];
        std::uint32_t length = sizeof buffer;
        const ErrorCode error = request->QueryHeader(AnswerHeader::StatusCode, buffer, &length);
        return error != kNoError ? "<" + std::to_string(error) + ">" : std::string(buffer, length);
    }
    std::shared_ptr<InternetSession> session;
    std::shared_ptr<HttpConnection> connection;
    std::shared_ptr<HttpRequest> request;
};

TEST(HttpTransport, RequestBytesForEachHeaderMode) {
    const auto AddIfNew = HeaderMode::AddIfNew, Replace = HeaderMode::Replace,
               ReplaceOrAdd = HeaderMode::ReplaceOrAdd;
    ScriptedServer server(Answer(HttpResponse(200, "")));
    const struct {
        const char* name;
        RequestLine line;
        std::uint16_t proxied;  // 0: direct; else the port of origin.invalid, the server its proxy
        std::vector<std::tuple<const char*, HeaderMode, ErrorCode>> added;  // and its result
        const char* extra;
        std::string expected;  // the head
        std::size_t bodyBytes = 0;
    } rows[] = {
        // clang-format off
        {"header modes", Line("GET", "a/b?c=1&d= x"), 0, {{"X-A: 1\r\n", AddIfNew, 0}, {"X-B: b", AddIfNew, 0},
          {"X-B: again", AddIfNew, 12155}, {"X-A: one", Replace, 0}, {"X-New: n", Replace, 12150},
          {"X-B:", Replace, 0} /* removes */, {"X-D: d", ReplaceOrAdd, 0}, {"X-D: dd", ReplaceOrAdd, 0},
          {"Accept: text/plain", Replace, 0}, {"X-E: e\rInjected: 1", AddIfNew, 12153},
          {"X-F: f\r\nno colon\r\n", ReplaceOrAdd, 12153}, {"X-G: g\r\nX-H: \x01", AddIfNew, 12153},
          {"User-Agent: Mine/2", AddIfNew, 0}}, "X-D: extra\r\nX-S: s\r\n",
         "GET /a/b?c=1&d=%20x HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
         "\r\nAccept: text/plain\r\nX-A: one\r\nX-D: extra\r\nUser-Agent: Mine/2\r\nX-S: s\r\n\r\n"},
        {"tunnel", Line("GET", "/s", true, true), 443, {}, nullptr, "CONNECT origin.invalid:443 HTTP/1.1\r\n"
         "Host: origin.invalid:443\r\nProxy-Connection: Keep-Alive\r\nUser-Agent: Mozilla/4.0 (compatible; )\r\n\r\n"},
        {"no verb, no accept type", [] { RequestLine l = Line(nullptr, "/n"); l.acceptType = nullptr; return l; }(),
         0, {}, nullptr, "GET /n HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
         "\r\nUser-Agent: Mozilla/4.0 (compatible; )\r\n\r\n"},
        {"no Expect for a large body", Line("POST", "/", false, false, "HTTP/1.1"), 0, {}, nullptr, "POST / HTTP/1.1\r\nHost: 127.0.0.1:" +
         std::to_string(server.port()) + "\r\nUser-Agent: Mozilla/4.0 (compatible; )\r\nAccept: */*\r\nContent-Length: 1048577\r\n\r\n", 1048577},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string body(row.bodyBytes, 'b'), proxy = row.proxied ? server.url("") : "";
        ScopedEnv http("http_proxy", proxy), https("https_proxy", proxy);
        Opened o(row.proxied ? "origin.invalid" : "127.0.0.1",
                 row.proxied ? row.proxied : server.port(), row.line);
        for (const auto& [line, mode, code] : row.added)
            EXPECT_EQ(o.request->AddHeader(line, mode), code) << line;
        const SendResult sent = o.request->Send(row.extra, row.bodyBytes ? body.data() : nullptr,
                                                static_cast<std::uint32_t>(body.size()));
        EXPECT_TRUE(row.line.secure || sent.code == kNoError) << sent.code;
        ASSERT_FALSE(server.requests().empty());
        EXPECT_EQ(server.requests().back().substr(0, row.expected.size()), row.expected);
    }
}

// A cookie set for a URL goes with the requests to its folder; one without a name or with a
// control character is refused. What the engine never passes is refused or harmless: no host,
// a read into no buffer.
TEST(HttpTransport, CookiesForAUrlAndInputsTheEngineNeverPasses) {
    ScriptedServer server(Answer(HttpResponse(200, "")));
    const std::string page = server.url("/jar/page");
    EXPECT_EQ(SetCookie(page.c_str(), "kept", "1"), kNoError);
    EXPECT_EQ(SetCookie(page.c_str(), nullptr, "also=2"), kNoError);
    EXPECT_EQ(SetCookie(page.c_str(), "", "=3"), 87u);  // an invalid parameter
    EXPECT_EQ(SetCookie(page.c_str(), "bad", "4\r\nX-Injected: 1"), 87u);
    Opened o("127.0.0.1", server.port(), Line("GET", "/jar/other"));
    ASSERT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);
    const std::string sent = ParseRequest(server.requests().back()).Header("Cookie");
    EXPECT_TRUE(sent == "kept=1; also=2" || sent == "also=2; kept=1") << sent;  // either order
    std::uint32_t count = 7;
    EXPECT_EQ(o.request->Read(nullptr, 0, &count), kNoError);
    EXPECT_EQ(count, 0u);
    for (const char* host : {static_cast<const char*>(nullptr), ""}) {
        ErrorCode failure = kNoError;
        EXPECT_EQ(o.session->Connect(host, 80, nullptr, nullptr, &failure), nullptr);
        EXPECT_EQ(failure, 87u);
    }
}

// The no-proxy list covers a name and the names under it, not a name that merely ends alike,
// and an address only itself. ("*.localhost" is loopback to the transfer library, without DNS.)
TEST(HttpTransport, NoProxyListCoversWholeNames) {
    ScriptedServer direct(Answer(HttpResponse(200, ""))), proxy(Answer(HttpResponse(200, "")));
    ScopedEnv http("http_proxy", proxy.url(""));
    const struct {
        const char *host, *list;
        bool bypasses;
    } rows[] = {
        {"a.localhost", "localhost", true},     {"a.localhost", "x, .LOCALHOST", true},
        {"xa.localhost", "a.localhost", false}, {"127.0.0.1", "0.0.1", false},
        {"127.0.0.1", "127.0.0.1", true},       {"a.localhost", "*", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.host) + " / " + row.list);
        ScopedEnv noProxy("no_proxy", row.list);
        const std::size_t before = direct.requests().size();
        EXPECT_TRUE(Opened(row.host, direct.port(), Line("GET", "/"))
                        .request->Send(nullptr, nullptr, 0)
                        .answered);
        EXPECT_EQ(direct.requests().size() - before, row.bypasses ? 1u : 0u);
    }
}

// The answer's body, read to its end or, with `cut`, only its first piece.
std::string ReadBody(Opened& o, bool cut = false) {
    std::string body;
    char buffer[4096];
    std::uint32_t count = 0;
    while (o.request->Read(buffer, sizeof buffer, &count) == kNoError && count > 0) {
        body.append(buffer, count);
        if (cut) break;
    }
    return body;
}

// A GET that asks to keep the connection, and its body as ReadBody reads it.
std::string Fetch(std::uint16_t port, const char* target, bool secure = false, bool cut = false) {
    Opened o("127.0.0.1", port, Line("GET", target, secure, true));
    EXPECT_TRUE(o.request->Send(nullptr, nullptr, 0).answered) << target;
    return ReadBody(o, cut);
}

// A plain connection straight to the server, its answer read whole, serves the thread's next
// request without a body; one with bytes past its answer, one the server closed, one left
// unread, a proxy's and a TLS one do not, nor does a request with a body take one. A thread
// keeps one idle connection per handle pair: the next server's closes the one before.
TEST(HttpTransport, ConnectionsKeptOnlyWhenPlainDirectAndReadWhole) {
    const std::string big(1 << 20, 'b'), kept = "HTTP/1.1 200 OK\r\nContent-Length: ";
    ScriptedServer::Script answerEach = [&](ScriptedConnection& connection) {
        for (std::string request;
             !(request = connection.ReadRequest(std::chrono::seconds(60))).empty();) {
            const bool large = request.find("/big") != std::string::npos;
            const bool extra = request.find("/extra") != std::string::npos;  // in the same read
            connection.Send(
                kept + (large ? std::to_string(big.size()) + "\r\n\r\n" + big : "2\r\n\r\nOK") +
                (extra ? kept + "1\r\n\r\nX" : ""));
            if (request.find("/close") != std::string::npos) return;
        }
    };
    const struct {
        const char* first;  // the target of the first request
        bool proxied, bodySecond;
        int connections;
    } rows[] = {{"/a", false, false, 1},     {"/a", false, true, 2},    {"/extra", false, false, 2},
                {"/close", false, false, 2}, {"/big", false, false, 2}, {"/a", true, false, 2}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.first + std::string(row.proxied ? " proxied" : "") +
                     (row.bodySecond ? ", then a body" : ""));
        ScriptedServer server(answerEach);
        ScopedEnv proxy("http_proxy", row.proxied ? server.url("") : "");
        std::string second;
        for (const char* target : {row.first, "/b"}) {
            const bool first = target == row.first;
            if (first || !row.bodySecond) {
                second =
                    Fetch(server.port(), target, false, first && row.first == std::string("/big"));
                continue;
            }
            // A body in two writes, which could not be sent again on another connection.
            Opened o("127.0.0.1", server.port(), Line("POST", target, false, true));
            o.request->StartSend(2);
            o.request->WriteBody("a", 1);
            o.request->WriteBody("b", 1);
            ASSERT_TRUE(o.request->EndSend().answered);
            second = ReadBody(o);
        }
        EXPECT_EQ(second, "OK");
        EXPECT_EQ(server.connectionCount(), row.connections);
    }
    EventCount closed;
    std::list<ScriptedServer> three;
    for (int i = 0; i < 3; ++i) {
        three.emplace_back([&](ScriptedConnection& connection) {
            answerEach(connection);
            closed.Raise();
        });
        EXPECT_EQ(Fetch(three.back().port(), "/a"), "OK");
    }
    EXPECT_TRUE(closed.AwaitAtLeast(2));
    // nginx's $connection numbers its connections: each TLS request has one of its own.
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx("location = /c { return 200 \"$connection\"; }");
    const std::uint16_t secure = nginx.httpsPort(CertificateKind::Good);
    EXPECT_NE(Fetch(secure, "/c", true), Fetch(secure, "/c", true));
}

// Redirects are followed up to ten. Bytes after a switch of protocols nobody asked for are no
// answer: no status came (they arrive with the connection still open).
TEST(HttpTransport, RedirectsFollowedUpToTenAndUnaskedSwitches) {
    // "/<status>/<n>" redirects to "/<status>/<n-1>", relative and absolute in turn, until 0.
    ScriptedServer server([](ScriptedConnection& connection) {
        const std::string line = ParseRequest(connection.ReadRequest()).requestLine;
        int status = 302, hops = 0;
        std::string to;
        if (line.find(" /101 ") != std::string::npos) {
            connection.Send("HTTP/1.1 101 Switching Protocols\r\n\r\nhello");
            connection.ReadUntilClosed();
            return;
        }
        if (std::sscanf(line.c_str(), "%*s /%d/%d", &status, &hops) == 2 && hops > 0) {
            to = "/" + std::to_string(status) + "/" + std::to_string(hops - 1);
            if (hops % 2 == 0) to = to.substr(5);  // relative to the current path
        }
        connection.Send(to.empty() ? HttpResponse(200, "")
                                   : HttpResponse(status, "", {"Location: " + to}));
    });
    const struct {
        const char* verb;
        const char* target;
        ErrorCode code;
        const char* last;  // the last request line
    } rows[] = {
        {"GET", "/301/2", 0, "GET /301/0 HTTP/1.0"},   // relative, then absolute
        {"POST", "/303/1", 0, "GET /303/0 HTTP/1.0"},  // the body stays behind
        {"GET", "/302/10", 0, "GET /302/0 HTTP/1.0"},
        {"GET", "/302/11", 12156, "GET /302/1 HTTP/1.0"},  // ten followed, then no more
        {"GET", "/101", 12152, "GET /101 HTTP/1.0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.verb) + " " + row.target);
        Opened o("127.0.0.1", server.port(), Line(row.verb, row.target));
        const bool post = row.verb[0] == 'P';
        const SendResult sent = o.request->Send(post ? "Content-Type: text/plain\r\n" : nullptr,
                                                post ? "payload" : nullptr, post ? 7 : 0);
        EXPECT_EQ(sent.code, row.code);
        EXPECT_EQ(sent.answered, row.code == 0);
        const std::string last = server.requests().back();
        EXPECT_EQ(last.substr(0, last.find("\r\n")), row.last);
        EXPECT_TRUE(last.find("Content-") == std::string::npos &&
                    last.find("\r\n\r\n") == last.size() - 4);  // no body left
    }
}

TEST(HttpTransport, CertificateQuestionsAskedAgainOnAResumedSession) {
    const std::string ca = TestCertificates::Get().caFile;
    // The server resumes TLS sessions, as a client that keeps them would exploit.
    NginxServer nginx("ssl_session_cache shared:tls:1m;\nlocation = /hello { return 200; }");
    const struct {
        const char* name;
        std::uint16_t port;
        std::string trusted;  // SSL_CERT_FILE; empty: the library's own store
        SendSignal signal;
        ErrorCode code;
        const char* afterAnswer;  // the status once the signal is answered
    } rows[] = {
        {"self-signed", nginx.httpsPort(CertificateKind::SelfSigned), ca,
         SendSignal::UnknownAuthority, 12045, "200"},
        {"client certificate wanted", nginx.clientCertPort(), ca,
         SendSignal::ClientCertificateWanted, 12044, "400"},  // none chosen: the server refuses
        {"test authority not trusted", nginx.httpsPort(CertificateKind::Good), "",
         SendSignal::UnknownAuthority, 12045, "200"},
    };
    RequestLine line = Line("GET", "/hello", true);
    line.checkCertificateName = line.checkCertificateDate = false;  // as the engine does
    for (const auto& row : rows) {
        for (const char* round : {"", ", resumed"}) {  // a resumed session is checked again
            SCOPED_TRACE(row.name + std::string(round));
            ScopedEnv trust("SSL_CERT_FILE", row.trusted);
            Opened o("127.0.0.1", row.port, line);
            SendResult sent = o.request->Send(nullptr, nullptr, 0);
            EXPECT_EQ(sent.signal, row.signal);
            EXPECT_EQ(sent.code, row.code);
            if (row.signal == SendSignal::UnknownAuthority) o.request->AcceptUnknownAuthority();
            if (row.signal != SendSignal::UnknownAuthority) o.request->ChooseClientCertificate();
            EXPECT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);
            EXPECT_EQ(o.Status(), row.afterAnswer);
        }
    }
    // The expired certificate, which the engine takes, is one: checked for its date, refused.
    ScopedEnv trust("SSL_CERT_FILE", ca);
    line.checkCertificateDate = true;
    Opened expired("127.0.0.1", nginx.httpsPort(CertificateKind::Expired), line);
    EXPECT_FALSE(expired.request->Send(nullptr, nullptr, 0).answered);
}

// Dot segments and escapes are left to the URL fuzzer.
TEST(HttpTransport, CrackUrl) {
    const std::string longPath(2082, 'p');
    const struct {
        std::string url;
        std::string parts;  // "scheme host port path", or "" when refused
    } rows[] = {
        // clang-format off
        {"just words", ""}, {"http:///no-host", ""}, {"ftp://h/f", "1 h 21 /f"}, {"http://h:0/", ""},
        {"http://[::1]:8080/", "3 ::1 8080 /"}, {"http://h/" + longPath, "3 h 80 /" + longPath},
        {"https://u:pw@Secure.example:8443/p", "4 secure.example 8443 /p"},
        {"http://h/p" + longPath, ""}, {"gopher://h/g", "2 h 70 /g"}, {"mailto://h/m", "7 h 0 /m"},
        // clang-format on
    };
    for (const auto& row : rows) {
        CrackedUrl cracked;
        std::string parts;
        if (CrackUrl(row.url.c_str(), &cracked))
            parts = std::to_string(static_cast<int>(cracked.scheme)) + " " + cracked.host + " " +
                    std::to_string(cracked.port) + " " + cracked.path;
        EXPECT_EQ(parts, row.parts) << row.url;
    }
}

}  // namespace
