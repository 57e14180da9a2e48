// Uploads and conference transfers: the body, the reply rule, the conference download's reply.
#include "api_support.h"

namespace {

const std::string kContent = PatternText(3000, 21);

// A handle, a file to send (with a non-ASCII name) and a folder for what arrives.
struct Transfers {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    std::string file = folder.path() + "/up_\xC3\xA9.bin", got = folder.path() + "/got_\xC3\xA9";
    std::u16string wideFile = Widen(folder.path()) + u"/up_\u00e9.bin";
    std::u16string wideGot = Widen(folder.path()) + u"/got_\u00e9";
    Transfers() { WriteFileBytes(file, kContent); }
};

// The host's fields in name order, then file_num and the file; a download sends the fields
// alone, a file that cannot be read goes as its part's header alone.
TEST(Uploads, FieldsFileNumberAndFileInOrder) {
    Transfers t;
    const std::string missing = t.folder.File("gone.bin");
    const std::string fields = TextPart("a", "1") + TextPart("z", "26");
    const std::string kiv = TextPart("x", "kivStuff") + TextPart("act", "upload") +
                            TextPart("session_id", "s") + TextPart("file_num", "1");
    const std::string part = FilePart("file1", t.file, &kContent) + ClosingDelimiter();
    const std::string up = "ZEMUrlUploadFile Begin: {url}, {local}\nZEMUrlUploadFile Result: OK\n";
    const struct {
        Call call;
        std::string local, body, trace;
    } rows[] = {
        {Up, t.file, fields + TextPart("file_num", "1") + part, up},
        {UpW, t.file, fields + TextPart("file_num", "1") + part, up},
        {Up, missing,
         fields + TextPart("file_num", "1") + FilePart("file1", missing, nullptr) +
             ClosingDelimiter(),
         up},
        {Url, t.got, fields + ClosingDelimiter(),
         "ZEMUrlDownloadFile Begin: {url}, {local}\nZEMUrlDownloadFile QueryResult: 200\n"
         "ZEMUrlDownloadFile Result: 1\n"},
        {KivUp, t.file, kiv + part,
         "ZEMKIVUploadFile Begin: {url}, s, {local}\nZEMKIVUploadFile QueryResult: 200\n"
         "ZEMKIVUploadFile Result: OK\n"},
        {KivUpW, t.file, kiv + part,
         "ZEMKIVUploadFileW Begin: {url}, s, {local}\nZEMKIVUploadFileW QueryResult: 200\n"
         "ZEMKIVUploadFileW Result: OK\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Name(row.call) + " of " + row.local);
        ScriptedServer server(Answer(HttpResponse(200, "OK")));
        const std::string url = server.url("/up");
        TraceFile trace;
        EXPECT_EQ(Perform(row.call, t.handle.get(), url.c_str(), 0, row.local,
                          row.local == t.file ? t.wideFile : t.wideGot)
                      .result,
                  1);
        ASSERT_EQ(server.requests().size(), 1u);
        const ParsedRequest request = ParseRequest(server.requests()[0]);
        EXPECT_EQ(request.requestLine, "POST /up HTTP/1.0");
        EXPECT_EQ(request.body, row.body);
        EXPECT_EQ(request.Header("Content-Length"), std::to_string(row.body.size()));
        EXPECT_EQ(trace.Text(), Replaced(Replaced(row.trace, "{url}", url), "{local}", row.local));
    }
}

// Success is a reply that starts with "OK" or "\r\nOK", whatever the status. The Result line
// shows the one read (1024 bytes at most; cut at 257 characters for the conference upload),
// control characters other than TAB as \xNN.
TEST(Uploads, ReplyMustStartWithOk) {
    const struct {
        const char* name;
        int status;
        std::string reply;
        int32_t result;
        std::string shown = "";  // when not the reply as sent
    } rows[] = {
        {"line break first", 200, "\r\nOK", 1, "\\x0D\\x0AOK"},
        {"more after ok", 200, "OKAY, stored", 1},
        {"error status", 500, "OK", 1},
        {"blank first", 200, " OK", 0},
        {"two line breaks", 200, "\r\n\r\nOK", 0, "\\x0D\\x0A\\x0D\\x0AOK"},
        {"forged line", 200, "OK\tx\nZEMKIVUploadFile Result: 1\x1b[2J", 1,
         "OK\tx\\x0AZEMKIVUploadFile Result: 1\\x1B[2J"},
        {"empty", 200, "", 0},
        {"long", 200, "OK" + std::string(1998, 'y'), 1, "OK" + std::string(1022, 'y')},
    };
    Transfers t;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        TraceFile trace;
        EXPECT_EQ(Perform(Up, t.handle.get(), server.url().c_str(), 0, t.file).result, row.result);
        EXPECT_EQ(Perform(KivUp, t.handle.get(), server.url().c_str(), 0, t.file).result,
                  row.result);
        const std::string shown = row.shown.empty() ? row.reply : row.shown;
        EXPECT_NE(trace.Text().find("\nZEMUrlUploadFile Result: " + shown + "\n"),
                  std::string::npos)
            << trace.Text();
        EXPECT_NE(trace.Text().find("ZEMKIVUploadFile QueryResult: " + std::to_string(row.status) +
                                    "\nZEMKIVUploadFile Result: " + shown.substr(0, 257) + "\n"),
                  std::string::npos)
            << trace.Text();
    }
}

// The conference download posts exactly its four fields, even on a handle whose last transfer
// sent others, and stores the reply whatever its status; an empty reply stores nothing. The
// wide form sends the file name as UTF-8 and writes no Begin line.
TEST(ConferenceDownloads, FourFieldsAndTheReplyStored) {
    Transfers t;
    const std::string lines =
        "ZEMKIVDownloadFile QueryResult: {status}\nZEMKIVDownloadFile Result: 1\n";
    const std::string begin = "ZEMKIVDownloadFile Begin: {url}, s, n, {got}\n";
    const struct {
        const char* name;
        Call call;
        int status;
        std::string reply;
        int32_t result;
        std::string trace;
    } rows[] = {
        {"ok", Kiv, 200, "content", 1, begin + lines},
        {"error page", Kiv, 404, "not here", 1, begin + lines},
        {"empty reply", Kiv, 200, "", 0, ""},
        {"wide", KivW, 200, "content", 1, lines},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        const std::string url = server.url("/kiv?v=2");
        EXPECT_EQ(Perform(Up, t.handle.get(), url.c_str(), 0, t.file).result, 0);
        TraceFile trace;
        EXPECT_EQ(Perform(row.call, t.handle.get(), url.c_str(), 0, t.got, t.wideGot).result,
                  row.result);
        EXPECT_EQ(
            FilesBelow(t.folder.path()).count("got_\xC3\xA9") ? ReadFileBytes(t.got) : "<none>",
            row.result == 1 ? row.reply : "<none>");
        fs::remove(fs::u8path(t.got));
        ASSERT_EQ(server.requests().size(), 2u);
        EXPECT_EQ(ParseRequest(server.requests()[1]).body,
                  row.call == KivW ? "x=kivStuff&act=download&session_id=s&filename=n\xC3\xA9"
                                   : "x=kivStuff&act=download&session_id=s&filename=n");
        if (!row.trace.empty()) {
            EXPECT_EQ(trace.Text(),
                      Replaced(Replaced(Replaced(row.trace, "{url}", url), "{got}", t.got),
                               "{status}", std::to_string(row.status)));
        }
    }
}

}  // namespace
