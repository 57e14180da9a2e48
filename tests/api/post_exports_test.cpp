// The form posts through the public header: the multipart request on the wire, each row of
// their result table, their trace lines, and the attempt loop's answers to a proxy demand, an
// unknown certificate authority and a redirect that needs confirmation.
#include "export_test_helpers.h"

namespace {

using namespace export_testing;
using testing_support::CertificateKind;
using testing_support::NginxServer;
using testing_support::ScopedEnv;
using testing_support::TestCertificates;

constexpr char kReply30[] = "abcdefghijklmnopqrstuvwxyz0123";

// Entries go out in ascending order of name; a value far beyond the per-part allowance is sent
// whole, as are blanks, "&" and "=" in values.
TEST(FormPost, SendsTheFieldsAsAMultipartFormInNameOrder) {
    ScriptedServer server(Answer(HttpResponse(200, "ok")));
    const std::string longValue(20000, 'L');
    const PostFields fields{{"b", "2"}, {"a", "1"}, {"c", longValue}, {"d", "x y&z=1"}};
    int32_t status = 0;
    char buffer[8] = {};
    EXPECT_EQ(ZEMUrlPost(server.url("/form?q=1").c_str(), &fields, &status, buffer, 7, nullptr), 2);
    EXPECT_EQ(status, 200);

    const ParsedRequest request = OnlyRequest(server);
    const std::string expected = TextPart("a", "1") + TextPart("b", "2") +
                                 TextPart("c", longValue) + TextPart("d", "x y&z=1") +
                                 ClosingDelimiter();
    EXPECT_EQ(request.requestLine, "POST /form?q=1 HTTP/1.0");
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request.Header("Content-Type"), kMultipartType);
    EXPECT_EQ(request.Header("Proxy-Connection"), "Keep-Alive");
    EXPECT_EQ(request.Header("Accept"), "*/*");
    EXPECT_EQ(request.Header("User-Agent"), kPostAgent);
    for (const char* name : {"Content-Length", "Content-Type", "Accept", "User-Agent"}) {
        EXPECT_EQ(request.HeaderCount(name), 1) << name;
    }
}

TEST(FormPost, EmptyFieldsSendTheClosingDelimiterAlone) {
    ScriptedServer server(Answer(HttpResponse(200, "")));
    const PostFields none;
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(server.url().c_str(), &none, &status, &raw, &length, nullptr), 0);
    HandedBuffer handed(raw);
    // A null map is taken as an empty one.
    EXPECT_EQ(ZEMUrlPost3(server.url().c_str(), nullptr, &status, &raw, &length, nullptr), 0);
    HandedBuffer second(raw);
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const std::string& bytes : requests) {
        const ParsedRequest request = ParseRequest(bytes);
        EXPECT_EQ(request.Header("Content-Length"), "38");
        EXPECT_EQ(request.body, "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
    }
}

// With a buffer: one read of at most bufferLength bytes and a zero after them; without one
// (null, or a length of 0) the announced length, nothing read.
TEST(ZEMUrlPost, ReadsOnceIntoTheBufferOrGivesTheContentLength) {
    ScriptedServer server(Answer(HttpResponse(200, kReply30)));
    const PostFields fields{{"k", "v"}};
    const std::string url = server.url("/p");
    TraceFile trace;
    std::string buffer(32, '#');
    int32_t status = 0;
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0], 10, nullptr), 10);
    EXPECT_EQ(status, 200);
    EXPECT_EQ(buffer.substr(0, 12), std::string("abcdefghij\0#", 12));

    buffer.assign(32, '#');
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, nullptr, 10, nullptr), 30);
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0], 0, nullptr), 30);
    EXPECT_EQ(buffer, std::string(32, '#'));
    const std::string lines = "ZEMUrlPost Begin: " + url + "\nZEMUrlPost Result Code: 200\n";
    EXPECT_EQ(trace.Text(), lines + "ZEMUrlPost Result: 10\n" + lines + "ZEMUrlPost Result: 30\n" +
                                lines + "ZEMUrlPost Result: 30\n");
}

TEST(ZEMUrlPost, EmptyReplyLeavesAnEmptyText) {
    ScriptedServer server(Answer(HttpResponse(201, "")));
    const PostFields fields;
    std::string buffer(8, '#');
    int32_t status = 0;
    EXPECT_EQ(ZEMUrlPost(server.url().c_str(), &fields, &status, &buffer[0], 7, nullptr), 0);
    EXPECT_EQ(status, 201);
    EXPECT_EQ(buffer, std::string("\0#######", 8));
}

// The whole reply, zero bytes included, with its length and a terminating zero; the same
// trace texts as ZEMUrlPost.
TEST(ZEMUrlPost3, HandsOutTheWholeReplyByteForByte) {
    std::string reply = PatternBytes(3000, 9);
    ScriptedServer server([&reply](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Trickle(HttpResponse(500, reply), 700, std::chrono::milliseconds(2));
    });
    const PostFields fields{{"k", "v"}};
    const std::string url = server.url("/p3");
    TraceFile trace;
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, &raw, &length, nullptr), 3000);
    HandedBuffer handed(raw);
    EXPECT_EQ(status, 500);
    EXPECT_EQ(length, 3000);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(std::string(raw, 3000), reply);
    EXPECT_EQ(raw[3000], '\0');

    length = -1;
    EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, nullptr, &length, nullptr), 3000);
    EXPECT_EQ(length, 3000);
    const std::string lines = "ZEMUrlPost Begin: " + url + "\nZEMUrlPost Result Code: 500\n";
    EXPECT_EQ(trace.Text(),
              lines + "ZEMUrlPost Result: 3000\n" + lines + "ZEMUrlPost Result: 3000\n");
}

TEST(ZEMUrlPost3, EmptyReplyGivesAOneByteBlock) {
    ScriptedServer server(Answer(HttpResponse(200, "")));
    const PostFields fields{{"k", "v"}};
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(server.url().c_str(), &fields, &status, &raw, &length, nullptr), 0);
    HandedBuffer handed(raw);
    EXPECT_EQ(length, 0);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(raw[0], '\0');
}

// Another scheme: -1 at once with only the Begin line; a refused connection: -1 after the
// engine's report, with the Result line. ZEMUrlPost3 writes neither out-parameter on failure.
TEST(FormPost, FailuresGiveMinusOneWithTheirTraceLines) {
    const PostFields fields{{"k", "v"}};
    const std::string refused = RefusedUrl("/r");
    for (const std::string& url : {std::string("ftp://127.0.0.1/up"), refused}) {
        SCOPED_TRACE(url);
        TraceFile trace;
        std::string buffer(8, '#');
        int32_t status = 77;
        EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0], 7, nullptr), -1);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(buffer, std::string(8, '#'));
        int32_t length = 55;
        char marker = 0;
        char* raw = &marker;
        EXPECT_EQ(ZEMUrlPost3(url.c_str(), &fields, &status, &raw, &length, nullptr), -1);
        EXPECT_EQ(length, 55);
        EXPECT_EQ(raw, &marker);
        const std::string begin = "ZEMUrlPost Begin: " + url + "\n";
        if (url == refused) {
            EXPECT_EQ(trace.OwnLines(),
                      begin + "ZEMUrlPost Result: -1\n" + begin + "ZEMUrlPost Result: -1\n");
            EXPECT_TRUE(trace.Contains("[ " + url + " ] request failed\n")) << trace.Text();
        } else {
            EXPECT_EQ(trace.Text(), begin + begin);
        }
    }
}

// A URL is the host's to choose and reaches the trace whole: its line is cut at the trace's
// 2047 characters (without its line end, so the next line follows on directly), and the call
// goes on undisturbed.
TEST(FormPost, OverlongUrlIsCutInTheTrace) {
    ScriptedServer server(Answer(HttpResponse(200, "ok")));
    const std::string url = server.url("/" + std::string(2060, 'u'));
    const PostFields fields{{"k", "v"}};
    TraceFile trace;
    int32_t status = 0;
    char buffer[8] = {};
    EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, buffer, 7, nullptr), 2);
    EXPECT_EQ(trace.Text(), ("ZEMUrlPost Begin: " + url).substr(0, 2046) +
                                "\nZEMUrlPost Result Code: 200\nZEMUrlPost Result: 2\n");
}

// A server that always demands proxy authentication: two attempts apply the credentials, the
// third asks the dialog, which answers cancel here; the 407 reply is then the result.
TEST(FormPost, ProxyDemandThatNeverEndsGivesItsStatusAfterThreeAttempts) {
    ScriptedServer server(
        Answer(HttpResponse(407, "auth!", {"Proxy-Authenticate: Basic realm=\"x\""})));
    OwnedHandle handle(ZEMTransferBeginV2("who", "wrong"));
    const PostFields fields{{"k", "v"}};
    TraceFile trace;
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(server.url().c_str(), &fields, &status, &raw, &length, handle.get()), 5);
    HandedBuffer handed(raw);
    EXPECT_EQ(status, 407);
    EXPECT_STREQ(raw, "auth!");
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    for (const std::string& request : requests) {
        EXPECT_EQ(ParseRequest(request).body, TextPart("k", "v") + ClosingDelimiter());
    }
    EXPECT_TRUE(trace.Contains("ZEMUrlPost Result Code: 407\nZEMUrlPost Result: 5\n"));
}

// An unknown authority costs one failed start; the request then goes out and is answered. A
// certificate for another name or with an expired date is accepted at once.
TEST(FormPost, HttpsWithAnUnknownAuthorityIsSentAfterOneFailedStart) {
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx("location = /form { return 200 \"received\"; }");
    const PostFields fields{{"k", "v"}};
    for (CertificateKind kind :
         {CertificateKind::SelfSigned, CertificateKind::Good, CertificateKind::Expired}) {
        SCOPED_TRACE(static_cast<int>(kind));
        const std::string url =
            "https://127.0.0.1:" + std::to_string(nginx.httpsPort(kind)) + "/form";
        int32_t status = 0;
        char buffer[16] = {};
        EXPECT_EQ(ZEMUrlPost(url.c_str(), &fields, &status, buffer, 15, nullptr), 8);
        EXPECT_EQ(status, 200);
        EXPECT_STREQ(buffer, "received");
    }
}

// A 307 answering the multipart POST needs confirmation: the engine follows it with a GET of
// the location on the same connection.
TEST(FormPost, RedirectNeedingConfirmationIsFollowedWithAGet) {
    ScriptedServer server([](ScriptedConnection& connection) {
        const ParsedRequest request = ParseRequest(connection.ReadRequest());
        if (request.requestLine.rfind("POST", 0) == 0) {
            connection.Send(HttpResponse(307, "", {"Location: /target"}));
        } else {
            connection.Send(HttpResponse(200, "arrived"));
        }
    });
    const PostFields fields{{"k", "v"}};
    int32_t status = 0;
    int32_t length = -1;
    char* raw = nullptr;
    EXPECT_EQ(ZEMUrlPost3(server.url("/start").c_str(), &fields, &status, &raw, &length, nullptr),
              7);
    HandedBuffer handed(raw);
    EXPECT_EQ(status, 200);
    EXPECT_STREQ(raw, "arrived");
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(ParseRequest(requests[0]).requestLine, "POST /start HTTP/1.0");
    EXPECT_EQ(ParseRequest(requests[1]).requestLine, "GET /target HTTP/1.0");
}

}  // namespace
