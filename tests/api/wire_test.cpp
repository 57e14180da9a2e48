// The three request shapes on the wire, byte for byte (none that a value can break), and the
// send loop's retry rules for each: resets, proxy demands, redirects, certificates.
#include "api_support.h"

namespace {

TEST(RequestShapes, ExactBytesOnTheWire) {
    TempDir folder;
    OwnedHandle handle = BeginHandle();
    const std::string value(20000, 'L');
    const PostFields fields{{"b", "2"}, {"a", "1"}, {"c", value}, {"d", "x y&z=1"}};
    const std::string agent =
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1;)\r\n";
    const std::string multipart =
        "Accept: */*\r\nContent-Type: multipart/form-data; boundary=--MULTI-PARTS-FORM-DATA-"
        "BOUNDARY\r\nProxy-Connection: Keep-Alive\r\n" +
        agent;
    const struct {
        const char* name;
        std::function<int32_t(const std::string& url)> transfer;
        int32_t result;
        // WinINet orders the headers its own way and adds Host, Cache-Control, Connection.
        std::string head, windowsHead, body;
    } rows[] = {
        {"get",
         [](const std::string& url) {
             int32_t status = 0;
             char buffer[8];
             return ZEMUrlGet2((url + "/a/b?c=1&d=%20").c_str(), &status, buffer, 7, nullptr);
         },
         2,
         "GET /a/b?c=1&d=%20 HTTP/1.0\r\nHost: {host}\r\nUser-Agent: Mozilla/4.0 (compatible; )"
         "\r\nAccept: */*\r\nConnection: Keep-Alive\r\n\r\n",
         "GET /a/b?c=1&d=%20 HTTP/1.0\r\nAccept: */*\r\nHost: {host}\r\nUser-Agent: Mozilla/4.0 "
         "(compatible; )\r\nConnection: Keep-Alive\r\n\r\n",
         ""},
        {"urlencoded form",
         [&](const std::string& url) {
             return ZEMKIVTransferFile(handle.get(), (url + "/kiv?v=2").c_str(), "a b&c=d", "f.txt",
                                       folder.File("got").c_str(), 0);
         },
         1,
         "POST /kiv?v=2 HTTP/1.0\r\nHost: {host}\r\nAccept: */*\r\n" + agent +
             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 57\r\n"
             "Connection: Keep-Alive\r\n\r\n",
         "POST /kiv?v=2 HTTP/1.0\r\nAccept: */*\r\n" + agent +
             "Host: {host}\r\nContent-Length: 57\r\nCache-Control: no-cache\r\nContent-Type: "
             "application/x-www-form-urlencoded\r\nConnection: Keep-Alive\r\n\r\n",
         "x=kivStuff&act=download&session_id=a b&c=d&filename=f.txt"},
        {"multipart in name order, values whole",
         [&](const std::string& url) {
             int32_t status = 0;
             return ZEMUrlPost((url + "/form?q=1").c_str(), &fields, &status, nullptr, 0, nullptr);
         },
         2,
         "POST /form?q=1 HTTP/1.0\r\nHost: {host}\r\n" + multipart +
             "Content-Length: 20375\r\nConnection: Keep-Alive\r\n\r\n",
         "POST /form?q=1 HTTP/1.0\r\n" + multipart +
             "Content-Length: 20375\r\nHost: {host}\r\nCache-Control: no-cache\r\n"
             "Connection: Keep-Alive\r\n\r\n",
         TextPart("a", "1") + TextPart("b", "2") + TextPart("c", value) + TextPart("d", "x y&z=1") +
             ClosingDelimiter()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(200, "OK")));
        EXPECT_EQ(row.transfer(server.url("")), row.result);
        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0], Replaced((kWindows ? row.windowsHead : row.head) + row.body,
                                        "{host}", server.url("").substr(7)));
    }
}

struct RetryRow {
    const char* rule;
    Call family;  // get, urlencoded form, multipart
    int32_t result;
    std::vector<std::string> requestLines;  // every request the server received, in order
    std::string stored;                     // what the form download stored, "" for none
    std::string report = "";                // a failure report the trace must hold
    const char* posixOnly = nullptr;        // why the row cannot run under WinINet
    int fewest = 0, most = 0;               // the connections made
};

// The rules' answers: resets; a proxy demand on every answer; a redirect to another scheme
// (needing confirmation), then the target's answer; endless such redirects.
ScriptedServer::Script RuleServer(const std::string& rule) {
    if (rule == "reset") return [](ScriptedConnection& connection) { connection.Reset(); };
    if (rule == "reset late") {
        return [](ScriptedConnection& connection) {
            connection.ReadRequest();
            connection.Reset();
        };
    }
    if (rule == "loop") return Answer(HttpResponse(301, "", {"Location: ttw://127.0.0.1:1/x"}));
    if (rule == "407") {
        return Answer(HttpResponse(407, "auth!", {"Proxy-Authenticate: Basic realm=\"x\""}));
    }
    return [](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        connection.Send(request.find("/start") != std::string::npos
                            ? HttpResponse(302, "moved", {"Location: https://127.0.0.1:1/target"})
                            : HttpResponse(200, "arrived"));
    };
}

TEST(RetryRules, EachRuleForEachRequestShape) {
    const std::vector<std::string> threeGets(3, "GET /start HTTP/1.0"),
        threePosts(3, "POST /start HTTP/1.0");
    const std::string get = "GET /start HTTP/1.0", post = "POST /start HTTP/1.0",
                      target = "GET https://127.0.0.1:1/target HTTP/1.0",
                      reset = kWindows ? "[12030, 0x00002efe] The connection with the server has "
                                         "been terminated.\r\n"
                                       : "[12031, 0x00002eff] The server dropped the connection "
                                         "abruptly.\r\n";
    const char *const proxy = "WinINet meets a proxy demand with retries of its own",
                      *const redirect = "WinINet decides on redirects to another scheme itself",
                      *const resetAsAnswer = "under Wine a reset may read as no answer, by timing";
    std::vector<std::string> getLoop(11, "GET ttw://127.0.0.1:1/x HTTP/1.0"), postLoop = getLoop;
    getLoop[0] = get, postLoop[0] = post;
    const RetryRow rows[] = {
        // The multipart request starts again after a failed start, at most 10 times, but a
        // reset seen when it ends fails it at once.
        {"reset", Get2, -1, {}, "", "/start ] request failed...\n" + reset, resetAsAnswer, 10, 10},
        {"reset", Kiv, 0, {}, "", "/start ] request failed...\n" + reset, resetAsAnswer, 10, 10},
        {"reset", Post, -1, {}, "", "/start ] request failed\n" + reset, resetAsAnswer, 1, 10},
        // Reset once the request is in: the answer is certain to meet it.
        {"reset late", Get2, -1, std::vector<std::string>(10, get), "", "failed...\n" + reset},
        {"407", Get2, 5, threeGets, "", "", proxy},
        {"407", Kiv, 1, threePosts, "auth!", "", proxy},
        {"407", Post, 5, threePosts, ""},
        {"redirect", Get2, 7, {get, target}, "", "", redirect},
        // Endless redirects needing confirmation end after ten (each nested in the last).
        {"loop", Get2, -1, getLoop, "", "", redirect},
        {"loop", Post, -1, postLoop, "", "", redirect},
        {"redirect", Kiv, 1, {post}, "moved", "", redirect},
        {"redirect", Post, 7, {post, target}, "", "", redirect},
    };
    for (const RetryRow& row : rows) {
        if (kWindows && row.posixOnly != nullptr) {
            std::cout << "[  SKIPPED ] " << row.rule << " / " << Name(row.family) << ": "
                      << row.posixOnly << std::endl;
            continue;
        }
        SCOPED_TRACE(std::string(row.rule) + " / " + Name(row.family));
        ScriptedServer server(RuleServer(row.rule));
        OwnedHandle handle(ZEMTransferBeginV2("who", "wrong"));
        TempDir folder;
        TraceFile trace;
        EXPECT_EQ(
            Perform(row.family, handle.get(), server.url("/start").c_str(), 63, folder.File("got"))
                .result,
            row.result);
        std::vector<std::string> lines;
        for (const std::string& raw : server.requests())
            lines.push_back(ParseRequest(raw).requestLine);
        EXPECT_EQ(lines, row.requestLines);
        EXPECT_TRUE(row.most == 0 || (server.connectionCount() >= row.fewest &&
                                      server.connectionCount() <= row.most))
            << server.connectionCount();
        EXPECT_EQ(FilesBelow(folder.path()).empty() ? "" : ReadFileBytes(folder.File("got")),
                  row.stored);
        EXPECT_NE(trace.Text().find(row.report), std::string::npos) << trace.Text();
    }
}

// An unknown authority costs one failed start, then the request goes out; a certificate for
// another name or past its date is taken at once.
TEST(RetryRules, CertificatesOfHttpsServers) {
#ifdef _WIN32  // the runner's self-signed server (openssl s_server, which answers GETs only)
    const std::string url = std::string(std::getenv("ZEMUSER_WINE_HTTPS")) + "/start";
    EXPECT_EQ(Perform(Get2, nullptr, url.c_str(), 63).result, 7);
#else
    ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().caFile);
    NginxServer nginx("location = /start { return 200 \"arrived\"; }");
    for (CertificateKind kind :
         {CertificateKind::SelfSigned, CertificateKind::OtherName, CertificateKind::Expired}) {
        for (Call family : {Get2, Kiv, Post}) {
            SCOPED_TRACE(Name(family) + " / kind " + std::to_string(static_cast<int>(kind)));
            OwnedHandle handle = BeginHandle();
            TempDir folder;
            const std::string url =
                "https://127.0.0.1:" + std::to_string(nginx.httpsPort(kind)) + "/start";
            EXPECT_EQ(Perform(family, handle.get(), url.c_str(), 63, folder.File("got")).result,
                      family == Kiv ? 1 : 7);
        }
    }
#endif
}

// A value or a file holding the body's delimiter would end its part early for the server: the
// request fails with nothing sent. Quotes and line breaks in names cannot end a part header.
TEST(RequestShapes, MultipartBodiesNothingCanBreak) {
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
    const std::string file = folder.File("x\"\r\n");  // missing: its part is the header alone
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &names, file.c_str(), 1), 1);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(ParseRequest(server.requests()[0]).body,
              TextPart("a%22b%0D%0Ac", "v") + TextPart("file_num", "1") +
                  FilePart("file1", folder.File("x%22%0D%0A"), nullptr) + ClosingDelimiter());
}

}  // namespace
