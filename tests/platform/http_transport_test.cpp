// The POSIX HTTP transport driven directly, against loopback servers the tests start: the exact
// request bytes, header rules, redirects, proxies and their credentials, certificates, bounded
// memory, closing from another thread, cookies, time-outs and URL cracking.
#include "platform/http_transport.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

using namespace zemuser::platform;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; )";
constexpr const char* kFormAgent =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)";
constexpr const char* kMultipart =
    "Content-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-BOUNDARY";

struct Opened {
    std::shared_ptr<InternetSession> session;
    std::shared_ptr<HttpConnection> connection;
    std::shared_ptr<HttpRequest> request;
};

RequestLine Line(const char* verb, const char* target, bool secure = false, bool keep = false) {
    RequestLine line;
    line.verb = verb;
    line.target = target;
    line.secure = secure;
    line.keepConnection = keep;
    return line;
}

Opened Open(const char* host, std::uint16_t port, const RequestLine& line) {
    ErrorCode failure = kNoError;
    Opened opened;
    opened.session = OpenInternet(kAgent, &failure);
    opened.connection = opened.session->Connect(host, port, nullptr, nullptr, &failure);
    opened.request = opened.connection->OpenRequest(line, &failure);
    return opened;
}

std::string Query(HttpRequest& request, AnswerHeader header) {
    char buffer[4096];
    std::uint32_t length = sizeof buffer;
    const ErrorCode error = request.QueryHeader(header, buffer, &length);
    return error != kNoError ? "<" + std::to_string(error) + ">" : std::string(buffer, length);
}

std::string ReadAll(HttpRequest& request, ErrorCode* error = nullptr, std::uint32_t piece = 4096) {
    std::string body;
    std::vector<char> buffer(piece);
    for (;;) {
        std::uint32_t got = 0;
        const ErrorCode code = request.Read(buffer.data(), piece, &got);
        if (error != nullptr) *error = code;
        if (code != kNoError || got == 0) return body;
        body.append(buffer.data(), got);
    }
}

std::string Replace(std::string text, const std::string& marker, const std::string& value) {
    for (auto at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
        text.replace(at, marker.size(), value);
    }
    return text;
}

// Every proxy variable set, so the machine's own settings play no part.
struct ProxyEnvironment {
    explicit ProxyEnvironment(const std::string& http = "", const std::string& https = "")
        : http_("http_proxy", http),
          https_("https_proxy", https),
          all_("all_proxy", ""),
          none_("no_proxy", "") {}
    ScopedEnv http_, https_, all_, none_;
};

// Answers every request with 200 (a CONNECT with 403), recording what arrived.
ScriptedServer::Script Recorder(const std::string& body = "") {
    return [body](ScriptedConnection& connection) {
        for (std::string raw; !(raw = connection.ReadRequest()).empty();) {
            const bool tunnel = raw.rfind("CONNECT ", 0) == 0;
            if (!connection.Send(HttpResponse(tunnel ? 403 : 200, body))) return;
        }
    };
}

TEST(HttpTransport, RequestBytesAreExactlyTodays) {
    const std::string agent = "User-Agent: Mozilla/4.0 (compatible; )\r\n";
    const std::string keep = "Connection: Keep-Alive\r\n\r\n";
    const std::string form = "x=kivStuff&act=download&session_id=sess&filename=file.bin";
    const std::string multipart =
        std::string(kMultipart) + "\r\nProxy-Connection: Keep-Alive\r\n" + kFormAgent + "\r\n";
    const std::vector<const char*> multipartLines = {kMultipart, "Proxy-Connection: Keep-Alive",
                                                     kFormAgent};
    struct Case {
        const char* name;
        RequestLine line;
        const char* host;  // null: the recording server, reached directly; else through it
        std::uint16_t port;
        std::vector<const char*> added;
        const char* extra;
        std::string body;
        bool inParts;
        std::string expected;  // @HOST@ stands for the recording server's address
    };
    // clang-format off
    const Case cases[] = {
        {"get", Line("GET", "a/b?c=1&d= x", false, true), nullptr, 0, {}, nullptr, "", false,
         "GET /a/b?c=1&d=%20x HTTP/1.0\r\nHost: @HOST@\r\n" + agent + "Accept: */*\r\n" + keep},
        {"form post", Line("POST", "/kiv", false, true), nullptr, 0, {kFormAgent}, "Content-Type: application/x-www-form-urlencoded\r\n", form, false,
         "POST /kiv HTTP/1.0\r\nHost: @HOST@\r\nAccept: */*\r\n" + std::string(kFormAgent) +
         "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 57\r\n" + keep + form},
        {"multipart in parts", Line("POST", "/form", false, true), nullptr, 0, multipartLines, nullptr, std::string(209, 'm'), true,
         "POST /form HTTP/1.0\r\nHost: @HOST@\r\nAccept: */*\r\n" + multipart + "Content-Length: 209\r\n" + keep + std::string(209, 'm')},
        {"empty post", Line("POST", "/empty"), nullptr, 0, {}, nullptr, "", false,
         "POST /empty HTTP/1.0\r\nHost: @HOST@\r\n" + agent + "Accept: */*\r\nContent-Length: 0\r\n\r\n"},
        {"get via proxy", Line("GET", "/p?q=1", false, true), "origin.invalid", 81, {}, nullptr, "", false,
         "GET http://origin.invalid:81/p?q=1 HTTP/1.0\r\nHost: origin.invalid:81\r\n" + agent + "Accept: */*\r\n" + keep},
        {"multipart via proxy", Line("POST", "/f", false, true), "origin.invalid", 80, multipartLines, nullptr, std::string(121, 'v'), true,
         "POST http://origin.invalid/f HTTP/1.0\r\nHost: origin.invalid\r\nAccept: */*\r\n" + multipart + "Content-Length: 121\r\n" + keep + std::string(121, 'v')},
        {"tunnel", Line("GET", "/s", true, true), "origin.invalid", 443, {}, nullptr, "", false,
         "CONNECT origin.invalid:443 HTTP/1.1\r\nHost: origin.invalid:443\r\nProxy-Connection: Keep-Alive\r\n" + agent + "\r\n"},
    };
    // clang-format on
    for (const Case& c : cases) {
        ScriptedServer server(Recorder());
        const std::string proxy = c.host != nullptr ? server.url("") : "";
        ProxyEnvironment environment(proxy, proxy);
        Opened o = Open(c.host != nullptr ? c.host : "127.0.0.1",
                        c.host != nullptr ? c.port : server.port(), c.line);
        for (const char* line : c.added)
            ASSERT_EQ(o.request->AddHeader(line, HeaderMode::AddIfNew), kNoError);
        SendResult sent;
        if (c.inParts) {  // in two writes
            ASSERT_EQ(o.request->StartSend(static_cast<std::uint32_t>(c.body.size())).code, 0u);
            ASSERT_EQ(o.request->WriteBody(c.body.data(), 100), kNoError) << c.name;
            ASSERT_EQ(o.request->WriteBody(c.body.data() + 100, c.body.size() - 100), kNoError);
            sent = o.request->EndSend();
        } else {
            sent = o.request->Send(c.extra, c.body.empty() ? nullptr : c.body.data(),
                                   static_cast<std::uint32_t>(c.body.size()));
        }
        EXPECT_EQ(sent.code, c.line.secure ? 12029u : 0u) << c.name;  // the tunnel is refused
        ASSERT_FALSE(server.requests().empty()) << c.name;
        EXPECT_EQ(server.requests()[0],
                  Replace(c.expected, "@HOST@", "127.0.0.1:" + std::to_string(server.port())))
            << c.name;
    }
}

TEST(HttpTransport, HeaderModesFollowTheirRules) {
    struct Step {
        const char* line;
        HeaderMode mode;
        ErrorCode expected;
    } steps[] = {
        {"X-A: 1\r\n", HeaderMode::AddIfNew, 0},
        {"X-B: b", HeaderMode::AddIfNew, 0},
        {"X-B: again", HeaderMode::AddIfNew, 12155},
        {"X-A: one", HeaderMode::Replace, 0},
        {"X-New: n", HeaderMode::Replace, 12150},
        {"X-B:", HeaderMode::Replace, 0},  // an empty value removes
        {"X-D: d", HeaderMode::ReplaceOrAdd, 0},
        {"X-D: dd", HeaderMode::ReplaceOrAdd, 0},
        {"Accept: text/plain", HeaderMode::Replace, 0},
        {"X-E: e\rInjected: 1", HeaderMode::AddIfNew, 12153},
        {"X-F: f\r\nno colon here\r\n", HeaderMode::ReplaceOrAdd, 12153},
        {"X-G: g\r\nX-H: \x01", HeaderMode::AddIfNew, 12153},  // refused whole
        {"User-Agent: Mine/2", HeaderMode::AddIfNew, 0},       // replaces the session's agent
    };
    ScriptedServer server(Recorder());
    ProxyEnvironment environment;
    Opened o = Open("127.0.0.1", server.port(), Line("GET", "/"));
    for (const Step& step : steps)
        EXPECT_EQ(o.request->AddHeader(step.line, step.mode), step.expected) << step.line;
    ASSERT_TRUE(o.request->Send("X-D: extra\r\nX-S: s\r\n", nullptr, 0).answered);
    ASSERT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);  // the extra lines went once
    const std::string head = "GET / HTTP/1.0\r\nHost: 127.0.0.1:" + std::to_string(server.port()) +
                             "\r\nAccept: text/plain\r\nX-A: one\r\n";
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(server.requests()[0], head + "X-D: extra\r\nUser-Agent: Mine/2\r\nX-S: s\r\n\r\n");
    EXPECT_EQ(server.requests()[1], head + "X-D: dd\r\nUser-Agent: Mine/2\r\n\r\n");
}

// "/r/<status>/<n>" redirects with <status> to ".../<n-1>", relative and absolute in turn;
// "/elsewhere" to another scheme; everything else answers 200 with its path.
ScriptedServer::Script Redirector() {
    return [](ScriptedConnection& connection) {
        const std::string line = ParseRequest(connection.ReadRequest()).requestLine;
        const std::string path =
            line.substr(line.find(' ') + 1, line.rfind(' ') - line.find(' ') - 1);
        int status = 0, hops = 0;
        if (std::sscanf(path.c_str(), "/r/%d/%d", &status, &hops) == 2 && hops > 0) {
            const std::string next =
                "/r/" + std::to_string(status) + "/" + std::to_string(hops - 1);
            connection.Send(
                HttpResponse(status, "moved", {"Location: " + (hops % 2 ? next : next.substr(7))}));
        } else if (path == "/elsewhere") {
            connection.Send(HttpResponse(302, "", {"Location: https://127.0.0.1:1/secure"}));
        } else {
            connection.Send(HttpResponse(200, path));
        }
    };
}

TEST(HttpTransport, RedirectsFollowedOrLeftToTheCaller) {
    struct Case {
        std::string name, verb, target;
        bool answered;
        ErrorCode code;
        std::string last;  // the last request line, or the Location left readable
    };
    std::vector<Case> cases;
    for (const char* s : {"301", "302", "303", "307", "308"}) {
        cases.push_back({std::string("GET ") + s, "GET", "/r/" + std::string(s) + "/2", true, 0,
                         "GET /r/" + std::string(s) + "/0 HTTP/1.0"});
        const bool keepsBody = s[2] == '7' || s[2] == '8';
        cases.push_back({std::string("POST ") + s, "POST", "/r/" + std::string(s) + "/1",
                         !keepsBody, keepsBody ? 12168u : 0u,
                         keepsBody ? "/r/" + std::string(s) + "/0"
                                   : "GET /r/" + std::string(s) + "/0 HTTP/1.0"});
    }
    cases.push_back(
        {"other scheme", "GET", "/elsewhere", false, 12168, "https://127.0.0.1:1/secure"});
    cases.push_back({"ten hops", "GET", "/r/302/10", true, 0, "GET /r/302/0 HTTP/1.0"});
    cases.push_back({"eleven hops", "GET", "/r/302/11", false, 12156, ""});
    ProxyEnvironment environment;
    for (const Case& c : cases) {
        ScriptedServer server(Redirector());
        Opened o = Open("127.0.0.1", server.port(), Line(c.verb.c_str(), c.target.c_str()));
        const bool post = c.verb == "POST";
        const SendResult sent = o.request->Send(post ? "Content-Type: text/plain\r\n" : nullptr,
                                                post ? "payload" : nullptr, post ? 7 : 0);
        EXPECT_EQ(sent.answered, c.answered) << c.name;
        EXPECT_EQ(sent.code, c.code) << c.name;
        if (c.code == 12168) {
            EXPECT_EQ(sent.signal, SendSignal::RedirectNeedsConfirmation) << c.name;
            EXPECT_EQ(Query(*o.request, AnswerHeader::Location), c.last) << c.name;
            EXPECT_EQ(server.requests().size(), 1u) << c.name;
        } else if (c.answered) {
            const ParsedRequest last = ParseRequest(server.requests().back());
            EXPECT_EQ(last.requestLine, c.last) << c.name;
            // A body turned into a GET leaves its length, type and bytes behind.
            EXPECT_EQ(last.HeaderCount("Content-Length") + last.HeaderCount("Content-Type"), 0)
                << c.name;
            EXPECT_EQ(last.body, "") << c.name;
        }
    }
}

// A scripted proxy: a request without credentials is challenged.
ScriptedServer::Script ChallengingProxy() {
    return [](ScriptedConnection& connection) {
        const std::string raw = connection.ReadRequest();
        if (raw.empty()) return;
        connection.Send(ParseRequest(raw).Header("Proxy-Authorization").empty()
                            ? HttpResponse(407, "who", {"Proxy-Authenticate: Basic realm=\"t\""})
                            : HttpResponse(200, "via proxy"));
    };
}

TEST(HttpTransport, ProxyCredentialsGoOnlyToAProxyThatAsked) {
    ScriptedServer proxy(ChallengingProxy());
    ProxyEnvironment environment(proxy.url(""));
    TempDir folder;
    const std::string debugFile = folder.File("debug.txt");
    ScopedEnv trace("ZEMUSER_NET_TRACE", "1");
    ScopedEnv debug("ZEMUSER_DEBUG_OUTPUT", debugFile);
    Opened o = Open("127.0.0.1", 8080, Line("GET", "/page"));
    o.connection->SetProxyCredentials("user", "secret", nullptr);  // before the proxy asked
    SendResult sent = o.request->Send(nullptr, nullptr, 0);
    EXPECT_TRUE(sent.answered);
    EXPECT_EQ(sent.signal, SendSignal::ProxyAuthentication);
    EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "407");
    sent = o.request->Send(nullptr, nullptr, 0);
    EXPECT_EQ(sent.signal, SendSignal::None);
    EXPECT_EQ(ReadAll(*o.request), "via proxy");
    ASSERT_EQ(proxy.requests().size(), 2u);
    EXPECT_EQ(ParseRequest(proxy.requests()[0]).HeaderCount("Proxy-Authorization"), 0);
    EXPECT_EQ(ParseRequest(proxy.requests()[1]).Header("Proxy-Authorization"),
              "Basic dXNlcjpzZWNyZXQ=");
    const std::string gTrace = ReadFileBytes(debugFile);
    EXPECT_NE(gTrace.find("zemuser net: > GET http://127.0.0.1:8080/page HTTP/1.0"),
              std::string::npos);
    EXPECT_NE(gTrace.find("Proxy-Authorization: (not shown)"), std::string::npos);
    EXPECT_EQ(gTrace.find("dXNlcjpzZWNyZXQ="), std::string::npos);
}

class RealServers : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        // The server resumes TLS sessions, as a client that keeps them would exploit.
        nginx_ = new NginxServer(
            "ssl_session_cache shared:tls:1m;\n"
            "location = /hello { return 200 \"secure hello\"; }\n"
            "location = /origin407 { add_header Proxy-Authenticate 'Basic realm=\"o\"' always; "
            "return 407 \"seen:$http_proxy_authorization$http_authorization\"; }");
    }
    static void TearDownTestSuite() { delete nginx_; }
    static std::uint16_t Port(CertificateKind kind) { return nginx_->httpsPort(kind); }
    static NginxServer* nginx_;
    ScopedEnv trust_{"SSL_CERT_FILE", TestCertificates::Get().caFile};
    ProxyEnvironment noProxy_;
};
NginxServer* RealServers::nginx_ = nullptr;

TEST_F(RealServers, RealProxyChallengesThenPassesPlainAndTunnelledRequests) {
    AuthProxy proxy("tester", "pa55");
    ScriptedServer origin(Recorder("origin"));
    ProxyEnvironment environment(proxy.url(), proxy.url());
    for (const bool secure : {false, true}) {
        Opened o = Open("127.0.0.1", secure ? Port(CertificateKind::Good) : origin.port(),
                        Line("GET", "/hello", secure));
        const SendResult challenged = o.request->Send(nullptr, nullptr, 0);
        EXPECT_EQ(challenged.signal, SendSignal::ProxyAuthentication) << secure;
        EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "407") << secure;
        o.connection->SetProxyCredentials("tester", "pa55", o.request.get());
        const SendResult passed = o.request->Send(nullptr, nullptr, 0);
        EXPECT_TRUE(passed.answered && passed.signal == SendSignal::None) << passed.code;
        EXPECT_EQ(ReadAll(*o.request), secure ? "secure hello" : "origin");
    }
}

TEST_F(RealServers, ServersOwn407InsideATunnelIsAnOrdinaryAnswer) {
    ScriptedServer proxy(TunnelingProxy());
    ProxyEnvironment environment("", proxy.url(""));
    Opened o = Open("127.0.0.1", Port(CertificateKind::Good), Line("GET", "/origin407", true));
    o.connection->SetProxyCredentials("user", "secret", o.request.get());
    for (int send = 0; send < 2; ++send) {
        const SendResult sent = o.request->Send(nullptr, nullptr, 0);
        EXPECT_TRUE(sent.answered) << sent.code;
        EXPECT_EQ(sent.signal, SendSignal::None);
        EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "407");
        EXPECT_EQ(ReadAll(*o.request), "seen:");  // no credentials reached the server
    }
    ASSERT_EQ(proxy.requests().size(), 2u);
    for (const std::string& connect : proxy.requests()) {
        EXPECT_EQ(ParseRequest(connect).HeaderCount("Proxy-Authorization"), 0);
    }
}

TEST_F(RealServers, CertificateProblemsAndTheirAnswers) {
    struct Case {
        const char* name;
        CertificateKind kind;
        bool checkName, checkDate;
        SendSignal signal;
        ErrorCode code;
        const char* afterAnswer;  // the status once the signal is answered
    } cases[] = {
        {"trusted", CertificateKind::Good, true, true, SendSignal::None, 0, "200"},
        {"self-signed", CertificateKind::SelfSigned, true, true, SendSignal::UnknownAuthority,
         12045, "200"},
        {"other name", CertificateKind::OtherName, true, true, SendSignal::None, 12175, nullptr},
        {"other name unchecked", CertificateKind::OtherName, false, true, SendSignal::None, 0,
         "200"},
        {"expired", CertificateKind::Expired, true, true, SendSignal::None, 12175, nullptr},
        {"expired, name unchecked", CertificateKind::Expired, false, true, SendSignal::None, 12175,
         nullptr},
        {"expired unchecked", CertificateKind::Expired, true, false, SendSignal::None, 0, "200"},
    };
    for (const Case& c : cases) {
        RequestLine line = Line("GET", "/hello", true);
        line.checkCertificateName = c.checkName;
        line.checkCertificateDate = c.checkDate;
        for (int round = 0; round < 2; ++round) {  // the second request must ask again
            Opened o = Open("127.0.0.1", Port(c.kind), line);
            SendResult sent = o.request->Send(nullptr, nullptr, 0);
            EXPECT_EQ(sent.signal, c.signal) << c.name;
            EXPECT_EQ(sent.code, c.code) << c.name;
            if (c.afterAnswer == nullptr) continue;
            if (c.signal == SendSignal::UnknownAuthority) {
                o.request->AcceptUnknownAuthority();
                sent = o.request->Send(nullptr, nullptr, 0);
            }
            EXPECT_TRUE(sent.answered) << c.name;
            EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), c.afterAnswer) << c.name;
        }
    }
    Opened o = Open("127.0.0.1", nginx_->clientCertPort(), Line("GET", "/hello", true));
    const SendResult wanted = o.request->Send(nullptr, nullptr, 0);
    EXPECT_EQ(wanted.signal, SendSignal::ClientCertificateWanted);
    EXPECT_EQ(wanted.code, 12044u);
    o.request->ChooseClientCertificate();  // none: the server then refuses in its own way
    EXPECT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);
    EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "400");
}

// The default action of SIGPIPE ends the process, so a child that finishes proves none came.
TEST(HttpTransportChild, PeerClosingDuringTlsUploadRaisesNoSigpipe) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::signal(SIGPIPE, SIG_DFL);
            {
                ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
                ProxyEnvironment noProxy;
                NginxServer nginx("location /drop { lingering_close off; return 200 \"early\"; }");
                Opened o = Open("127.0.0.1", nginx.httpsPort(CertificateKind::Good),
                                Line("POST", "/drop", true));
                const std::string body(32u << 20, 't');
                o.request->StartSend(static_cast<std::uint32_t>(body.size()));
                o.request->WriteBody(body.data(), static_cast<std::uint32_t>(body.size()));
                o.request->EndSend();
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

// The state letter of a thread of this process ('S' while it sleeps in a wait).
char ThreadState(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() ? '?' : text[close + 2];
}

// Left alone, the call would wait for the server, which holds it for a minute; the close wakes
// it far sooner than that, even under a sanitizer on a busy machine.
constexpr auto kWokenWithin = std::chrono::seconds(20);

TEST(HttpTransport, CloseFromAnotherThreadWakesTheBlockedCall) {
    enum class Phase { Handshake, Answer, Read, Upload };
    enum class Closed { Request, Connection, Session };
    struct Case {
        const char* name;
        Phase phase;
        Closed closed;
    } cases[] = {{"handshake, request closed", Phase::Handshake, Closed::Request},
                 {"answer, connection closed", Phase::Answer, Closed::Connection},
                 {"read, session closed", Phase::Read, Closed::Session},
                 {"upload, request closed", Phase::Upload, Closed::Request}};
    ProxyEnvironment environment;
    for (const Case& c : cases) {
        std::promise<void> arrived;  // the server says when the client has reached it
        ScriptedServer server([&](ScriptedConnection& connection) {
            if (c.phase == Phase::Answer || c.phase == Phase::Read) connection.ReadRequest();
            if (c.phase == Phase::Read)
                connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 99\r\n\r\nfirst");
            arrived.set_value();
            pollfd hold{connection.fd(), 0, 0};  // never reads: only the end of the server ends it
            poll(&hold, 1, 60000);
        });
        Opened o = Open("127.0.0.1", server.port(), Line("POST", "/", c.phase == Phase::Handshake));
        std::atomic<pid_t> tid{0};
        std::atomic<bool> calling{false};
        ErrorCode result = kNoError, next = kNoError;
        std::string got;
        Clock::time_point returned;
        const std::string body(64u << 20, 'w');
        std::thread transfer([&, request = o.request]() mutable {
            tid = static_cast<pid_t>(gettid());
            char buffer[4096];
            std::uint32_t count = 0;
            if (c.phase == Phase::Read) {
                request->Send(nullptr, nullptr, 0);
                calling = true;
                result = request->Read(buffer, sizeof buffer, &count);
                got.assign(buffer, count);
            } else if (c.phase == Phase::Upload) {
                request->StartSend(static_cast<std::uint32_t>(body.size()));
                calling = true;
                result = request->WriteBody(body.data(), static_cast<std::uint32_t>(body.size()));
            } else {
                calling = true;
                result = request->Send(nullptr, nullptr, 0).code;
            }
            returned = Clock::now();
            next = request->Read(buffer, sizeof buffer, &count);
            request.reset();  // the closing thread destroys the objects
        });
        ASSERT_EQ(arrived.get_future().wait_for(std::chrono::seconds(20)),
                  std::future_status::ready);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while ((!calling || ThreadState(tid) != 'S') && Clock::now() < deadline)
            std::this_thread::yield();
        const Clock::time_point closedAt = Clock::now();
        if (c.closed == Closed::Request) o.request->Close();
        if (c.closed == Closed::Connection) o.connection->Close();
        if (c.closed == Closed::Session) o.session->Close();
        transfer.join();
        EXPECT_LT(returned - closedAt, kWokenWithin) << c.name;
        EXPECT_EQ(result, c.phase == Phase::Read ? kNoError : 12017u) << c.name;
        EXPECT_EQ(got, c.phase == Phase::Read ? "first" : "")
            << c.name;  // bytes that came are kept
        EXPECT_EQ(next, 6u) << c.name;
        o = Opened{};
    }
}

// A transfer that breaks off before any answer (here: at the name lookup) leaves its handles fit
// for the next request of the thread, which reuses them.
TEST(HttpTransport, AFailedLookupLeavesTheThreadsHandlesFit) {
    ScriptedServer server(Recorder("fine"));
    const std::string unresolvable = std::string(64, 'a') + ".invalid";  // refused locally
    for (int round = 0; round < 2; ++round) {
        Opened failing = Open(unresolvable.c_str(), 80, Line("GET", "/"));
        EXPECT_EQ(failing.request->Send(nullptr, nullptr, 0).code, 12007u) << round;
        Opened working = Open("127.0.0.1", server.port(), Line("GET", "/"));
        EXPECT_TRUE(working.request->Send(nullptr, nullptr, 0).answered) << round;
        EXPECT_EQ(ReadAll(*working.request), "fine") << round;
    }
}

TEST(HttpTransport, SlowAndBrokenAnswers) {
    const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n";
    std::string hugeHead = "HTTP/1.0 200 OK\r\n";  // 300 lines of a kilobyte each
    for (int i = 0; i < 300; ++i)
        hugeHead += "X-" + std::to_string(i) + ": " + std::string(1000, 'h') + "\r\n";
    struct Case {
        const char* name;
        std::string answer;  // empty: the server stays silent; "@": nothing listens in time
        std::size_t piece;   // the answer trickles in pieces of this size, one per 100 ms
        ErrorCode sendCode;
        std::string body;
        ErrorCode readCode;
    } cases[] = {
        {"silent", "", 0, 12002, "", 0},
        {"stalled body", head + "\r\nabc", 0, 0, "abc", 12002},
        {"head line by line", head + std::string(20, 'X') + ": y\r\n" + "\r\n0123456789", 8, 12002,
         "", 0},
        {"huge head", hugeHead + "\r\n", 0, 12152, "", 0},
        {"interim and chunked",
         "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
         "5\r\nhello\r\n7\r\n, world\r\n0\r\n\r\n",
         0, 0, "hello, world", 0},
        {"cut short", "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + std::string(1500, 'c'), 0,
         0, std::string(1500, 'c'), 12030},
        {"connect time-out", "@", 0, 12002, "", 0},
    };
    ScopedEnv receive("ZEMUSER_RECEIVE_TIMEOUT_MS", "300");
    ScopedEnv connectLimit("ZEMUSER_CONNECT_TIMEOUT_MS", "300");
    ProxyEnvironment environment;
    for (const Case& c : cases) {
        ScriptedServer server([&c](ScriptedConnection& connection) {
            if (connection.ReadRequest().empty() || c.answer.empty()) {
                connection.ReadUntilClosed(std::chrono::seconds(5));
            } else if (c.piece != 0) {
                connection.Trickle(c.answer, c.piece, std::chrono::milliseconds(100));
            } else {
                connection.Send(c.answer);
                if (c.readCode == 12002) connection.ReadUntilClosed(std::chrono::seconds(5));
            }
        });
        std::uint16_t port = server.port();
        // A listener whose queue is full drops further connection attempts unanswered.
        const int full = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        std::vector<int> queued;
        if (c.answer == "@") {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            socklen_t length = sizeof address;
            bind(full, reinterpret_cast<sockaddr*>(&address), sizeof address);
            listen(full, 0);
            getsockname(full, reinterpret_cast<sockaddr*>(&address), &length);
            port = ntohs(address.sin_port);
            for (int i = 0; i < 3; ++i) {
                queued.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
                connect(queued.back(), reinterpret_cast<sockaddr*>(&address), sizeof address);
            }
        }
        Opened o = Open("127.0.0.1", port, Line("GET", "/"));
        const SendResult sent = o.request->Send(nullptr, nullptr, 0);
        EXPECT_EQ(sent.code, c.sendCode) << c.name;
        if (sent.answered) {
            EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "200") << c.name;
            ErrorCode readCode = kNoError;
            EXPECT_EQ(ReadAll(*o.request, &readCode, 700), c.body) << c.name;
            EXPECT_EQ(readCode, c.readCode) << c.name;
        }
        for (int fd : queued) close(fd);
        close(full);
    }
}

TEST(HttpTransport, QueriesFollowTheBufferRules) {
    const std::string disposition = "attachment; filename=\"report.txt\"";
    ScriptedServer server([&](ScriptedConnection& connection) {
        if (!connection.ReadRequest().empty())
            connection.Send(
                HttpResponse(200, "0123456789", {"Content-Disposition: " + disposition}));
    });
    ProxyEnvironment environment;
    Opened o = Open("127.0.0.1", server.port(), Line("GET", "/"));
    EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "<12150>");  // nothing sent yet
    ASSERT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);
    EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "200");
    EXPECT_EQ(Query(*o.request, AnswerHeader::ContentLength), "10");
    EXPECT_EQ(Query(*o.request, AnswerHeader::ContentDisposition), disposition);
    EXPECT_EQ(Query(*o.request, AnswerHeader::Location), "<12150>");
    char buffer[64];
    std::memset(buffer, 'z', sizeof buffer);
    for (std::uint32_t size : {10u, static_cast<std::uint32_t>(disposition.size())}) {
        std::uint32_t length = size;
        EXPECT_EQ(o.request->QueryHeader(AnswerHeader::ContentDisposition, buffer, &length),
                  kInsufficientBuffer);
        EXPECT_EQ(length, disposition.size() + 1);
        EXPECT_EQ(buffer[0], 'z');  // left alone
    }
    std::uint32_t length = static_cast<std::uint32_t>(disposition.size() + 1);
    ASSERT_EQ(o.request->QueryHeader(AnswerHeader::ContentDisposition, buffer, &length), kNoError);
    EXPECT_EQ(std::string(buffer), disposition);
    EXPECT_EQ(length, disposition.size());
    EXPECT_EQ(ReadAll(*o.request), "0123456789");
    o.request->Close();
    EXPECT_EQ(Query(*o.request, AnswerHeader::StatusCode), "<6>");
    ErrorCode failure = kNoError;
    o.session->Close();
    EXPECT_EQ(o.connection->OpenRequest(Line("GET", "/"), &failure), nullptr);
    EXPECT_EQ(failure, 6u);
}

TEST(HttpTransport, LargeBodyKeepsMemoryBounded) {
    constexpr std::size_t kBody = 128u << 20, kDirect = 8u << 20;
#if defined(__SANITIZE_ADDRESS__)
    // Freed memory waits in the sanitizer's quarantine (up to 256 MB), so resident memory says
    // nothing about what the transfer keeps.
    constexpr long kGrowthBoundKb = 0;
#elif defined(__SANITIZE_THREAD__)
    constexpr long kGrowthBoundKb = 64 * 1024;  // shadow memory of every byte touched
#else
    constexpr long kGrowthBoundKb = 8 * 1024;
#endif
    ScriptedServer server([](ScriptedConnection& connection) {
        if (connection.ReadRequest().empty()) return;
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(kBody) + "\r\n\r\n");
        const std::string piece(1 << 20, 'm');
        for (std::size_t sent = 0; sent < kBody && connection.Send(piece); sent += piece.size()) {
        }
    });
    ProxyEnvironment environment;
    Opened o = Open("127.0.0.1", server.port(), Line("GET", "/big"));
    ASSERT_TRUE(o.request->Send(nullptr, nullptr, 0).answered);
    std::vector<char> large(kDirect);
    std::uint32_t got = 0;
    ASSERT_EQ(o.request->Read(large.data(), kDirect, &got), kNoError);
    EXPECT_EQ(got, kDirect);  // a read fills its whole buffer
    const long before = ResidentMemoryKb();
    long highest = before;
    std::size_t total = got;
    char buffer[1024];
    while (o.request->Read(buffer, sizeof buffer, &got) == kNoError && got != 0) {
        total += got;
        if (total % (16u << 20) < sizeof buffer) highest = std::max(highest, ResidentMemoryKb());
    }
    EXPECT_EQ(total, kBody);
    if (kGrowthBoundKb > 0) {
        EXPECT_LT(highest - before, kGrowthBoundKb);
    }
}

TEST(HttpTransport, CookiesSetByCallerAndServerGoBackToMatchingRequests) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const ParsedRequest request = ParseRequest(connection.ReadRequest());
        connection.Send(request.requestLine == "GET /cookie-test/set HTTP/1.0"
                            ? HttpResponse(200, "", {"Set-Cookie: sid=abc; Path=/cookie-test"})
                            : HttpResponse(200, ""));
    });
    const std::string base = server.url("/cookie-test/");
    ASSERT_EQ(SetCookie((base + "mine/page").c_str(), "mine", "42"), kNoError);
    EXPECT_EQ(SetCookie("not a url", "a", "b"), 12005u);
    EXPECT_EQ(SetCookie(base.c_str(), "bad", "a\r\nInjected: 1"), 87u);
    const struct {
        const char* target;
        const char* cookie;
    } cases[] = {{"/cookie-test/set", ""},
                 {"/cookie-test/mine/x", "mine=42; sid=abc"},
                 {"/cookie-test/other", "sid=abc"},
                 {"/elsewhere", ""}};
    ProxyEnvironment environment;
    for (const auto& c : cases) {
        Opened o = Open("127.0.0.1", server.port(), Line("GET", c.target));
        ASSERT_TRUE(o.request->Send(nullptr, nullptr, 0).answered) << c.target;
        EXPECT_EQ(ParseRequest(server.requests().back()).Header("Cookie"), c.cookie) << c.target;
    }
}

TEST(HttpTransport, CrackUrlGivesTodaysParts) {
    const std::string longPath(2082, 'p');
    const struct {
        std::string url;
        std::string parts;  // "scheme host port path", or "" when refused
    } cases[] = {
        // clang-format off
        {"http://Example.COM/a b/c", "3 example.com 80 /a%20b/c"},
        {"http://h/a/./b/../c/d?q=x y&z=../..", "3 h 80 /a/c/d?q=x y&z=../.."},
        {"http://h/../../x", "3 h 80 /x"},
        {"http://h/a/b/..", "3 h 80 /a/"},
        {"http://h/a/.", "3 h 80 /a/"}, {"http://h/.a/b./..c", "3 h 80 /.a/b./..c"},
        {"http://h", "3 h 80 /"},
        {"  HTTP://h/x  ", "3 h 80 /x"},
        {"http://h/<a>\"{|}^`", "3 h 80 /%3Ca%3E%22%7B%7C%7D%5E%60"},
        {"http://h/caf\xC3\xA9", "3 h 80 /caf%C3%A9"},
        {"http://h/p#frag ment", "3 h 80 /p#frag ment"},
        {"https://u:pw@Secure.example:8443/p?a", "4 secure.example 8443 /p?a"},
        {"https://h/", "4 h 443 /"},
        {"ftp://h/f", "1 h 21 /f"},
        {"gopher://h/", "2 h 70 /"},
        {"file:///c:/x", "5  0 /c:/x"},
        {"mailto:a@b", "7  0 a@b"},
        {"weird://h:99/x", "0 h 99 /x"},
        {"http://[::1]:8080/v6", "3 ::1 8080 /v6"},
        {"http://h/" + longPath, "3 h 80 /" + longPath},
        {"http://h/p" + longPath, ""},
        {"http://" + std::string(2084, 'h') + "/", ""},
        {"just words", ""}, {"http:///no-host", ""}, {"http://h:99999/", ""}, {"http://h:0/", ""}, {"http://h:8x/", ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        CrackedUrl cracked;
        std::string parts;
        if (CrackUrl(c.url.c_str(), &cracked)) {
            parts = std::to_string(static_cast<int>(cracked.scheme)) + " " + cracked.host + " " +
                    std::to_string(cracked.port) + " " + cracked.path;
        }
        EXPECT_EQ(parts, c.parts) << c.url;
    }
    EXPECT_EQ(InternetErrorText(12017),
              "The operation was abandoned because its handle was closed.\r\n");
    EXPECT_EQ(InternetErrorText(6), "");
    EXPECT_EQ(AttemptConnect(), kNoError);
}

}  // namespace
