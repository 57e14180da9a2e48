// Uploads of the URL export and both conference transfers: the fields and the file in order,
// the reply rule ("OK" at the start), a missing file, the conference download's stored reply,
// and the wide forms.
#include "api_support.h"

namespace {

using namespace api_testing;

const std::string kContent = PatternText(3000, 21);

// A handle, a file to send and a folder for what arrives.
struct Transfers {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    std::string file = folder.path() + "/up_\xC3\xA9.bin";
    std::u16string wideFile = Widen(folder.path()) + u"/up_\u00e9.bin";
    Transfers() { WriteFileBytes(file, kContent); }
};

// The host's fields in name order, then file_num and the file (a download sends the fields
// alone); every non-zero direction
// uploads and the conference upload ignores the server file name.
TEST(Uploads, FieldsFileNumberAndFileInOrder) {
    Transfers t;
    const PostFields fields{{"z", "last"}, {"a", "first"}};
    const std::string missing = t.folder.File("not-there.bin");
    const struct {
        const char* name;
        std::function<int32_t(const std::string& url)> upload;
        std::string body, trace;
    } rows[] = {
        {"url upload",
         [&](const std::string& url) {
             return ZEMUrlTransferFile(t.handle.get(), url.c_str(), &fields, t.file.c_str(), -1);
         },
         TextPart("a", "first") + TextPart("z", "last") + TextPart("file_num", "1") +
             FilePart("file1", t.file, &kContent) + ClosingDelimiter(),
         "ZEMUrlUploadFile Begin: {url}, " + t.file + "\nZEMUrlUploadFile Result: OK\n"},
        {"wide url upload",
         [&](const std::string& url) {
             return ZEMUrlTransferFileW(t.handle.get(), url.c_str(), nullptr, t.wideFile.c_str(),
                                        1);
         },
         TextPart("file_num", "1") + FilePart("file1", t.file, &kContent) + ClosingDelimiter(),
         "ZEMUrlUploadFile Begin: {url}, " + t.file + "\nZEMUrlUploadFile Result: OK\n"},
        {"url download: the fields alone",
         [&](const std::string& url) {
             return ZEMUrlTransferFile(t.handle.get(), url.c_str(), &fields,
                                       t.folder.File("got").c_str(), 0);
         },
         TextPart("a", "first") + TextPart("z", "last") + ClosingDelimiter(),
         "ZEMUrlDownloadFile Begin: {url}, " + t.folder.File("got") +
             "\nZEMUrlDownloadFile QueryResult: 200\nZEMUrlDownloadFile Result: 1\n"},
        {"missing file: its part without contents",
         [&](const std::string& url) {
             return ZEMUrlTransferFile(t.handle.get(), url.c_str(), nullptr, missing.c_str(), 7);
         },
         TextPart("file_num", "1") + FilePart("file1", missing, nullptr) + ClosingDelimiter(),
         "ZEMUrlUploadFile Begin: {url}, " + missing + "\nZEMUrlUploadFile Result: OK\n"},
        {"conference upload",
         [&](const std::string& url) {
             return ZEMKIVTransferFile(t.handle.get(), url.c_str(), "s-1", nullptr, t.file.c_str(),
                                       7);
         },
         TextPart("x", "kivStuff") + TextPart("act", "upload") + TextPart("session_id", "s-1") +
             TextPart("file_num", "1") + FilePart("file1", t.file, &kContent) + ClosingDelimiter(),
         "ZEMKIVUploadFile Begin: {url}, s-1, " + t.file +
             "\nZEMKIVUploadFile QueryResult: 200\nZEMKIVUploadFile Result: OK\n"},
        {"wide conference upload",
         [&](const std::string& url) {
             return ZEMKIVTransferFileW(t.handle.get(), url.c_str(), "s", u"ignored",
                                        t.wideFile.c_str(), 1);
         },
         TextPart("x", "kivStuff") + TextPart("act", "upload") + TextPart("session_id", "s") +
             TextPart("file_num", "1") + FilePart("file1", t.file, &kContent) + ClosingDelimiter(),
         "ZEMKIVUploadFileW Begin: {url}, s, " + t.file +
             "\nZEMKIVUploadFileW QueryResult: 200\nZEMKIVUploadFileW Result: OK\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(200, "OK")));
        TraceFile trace;
        EXPECT_EQ(row.upload(server.url("/up")), 1);
        const std::vector<ParsedRequest> requests = Requests(server);
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].requestLine, "POST /up HTTP/1.0");
        EXPECT_EQ(requests[0].body, row.body);
        EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(row.body.size()));
        EXPECT_EQ(trace.Text(), WithUrl(row.trace, server.url("/up")));
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
        std::string shown, shownConference;
    } rows[] = {
        {"ok", 200, "OK", 1, "OK", "OK"},
        {"line break first", 200, "\r\nOK", 1, "\\x0D\\x0AOK", "\\x0D\\x0AOK"},
        {"more after ok", 200, "OKAY, stored", 1, "OKAY, stored", "OKAY, stored"},
        {"error status", 500, "OK", 1, "OK", "OK"},
        {"blank first", 200, " OK", 0, " OK", " OK"},
        {"lower case", 200, "ok", 0, "ok", "ok"},
        {"two line breaks", 200, "\r\n\r\nOK", 0, "\\x0D\\x0A\\x0D\\x0AOK",
         "\\x0D\\x0A\\x0D\\x0AOK"},
        {"forged line", 200, "OK\tx\nZEMKIVUploadFile Result: 1\x1b[2J", 1,
         "OK\tx\\x0AZEMKIVUploadFile Result: 1\\x1B[2J",
         "OK\tx\\x0AZEMKIVUploadFile Result: 1\\x1B[2J"},
        {"other text", 200, "stored", 0, "stored", "stored"},
        {"empty", 200, "", 0, "", ""},
        {"long", 200, "OK" + std::string(1998, 'y'), 1, "OK" + std::string(1022, 'y'),
         "OK" + std::string(255, 'y')},
    };
    Transfers t;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        TraceFile trace;
        EXPECT_EQ(
            ZEMUrlTransferFile(t.handle.get(), server.url().c_str(), nullptr, t.file.c_str(), 1),
            row.result);
        EXPECT_EQ(
            ZEMKIVTransferFile(t.handle.get(), server.url().c_str(), "s", "f", t.file.c_str(), 1),
            row.result);
        EXPECT_NE(trace.Text().find("\nZEMUrlUploadFile Result: " + row.shown + "\n"),
                  std::string::npos)
            << trace.Text();
        EXPECT_NE(trace.Text().find("ZEMKIVUploadFile QueryResult: " + std::to_string(row.status) +
                                    "\nZEMKIVUploadFile Result: " + row.shownConference + "\n"),
                  std::string::npos)
            << trace.Text();
    }
}

// The conference download posts exactly its four fields, even on a handle whose last transfer
// sent others, and stores the reply whatever its status; an empty reply stores nothing. The
// wide form sends the file name as UTF-8 and writes no Begin line.
TEST(ConferenceDownloads, FourFieldsAndTheReplyStored) {
    Transfers t;
    const struct {
        const char* name;
        int status;
        std::string reply;
        bool wide;
        int32_t result;
        std::string body, trace;
    } rows[] = {
        {"ok", 200, "content", false, 1, "x=kivStuff&act=download&session_id=42&filename=f.txt",
         "ZEMKIVDownloadFile Begin: {url}, 42, f.txt, {path}\nZEMKIVDownloadFile QueryResult: "
         "200\nZEMKIVDownloadFile Result: 1\n"},
        {"error page", 404, "not here", false, 1,
         "x=kivStuff&act=download&session_id=42&filename=f.txt",
         "ZEMKIVDownloadFile Begin: {url}, 42, f.txt, {path}\nZEMKIVDownloadFile QueryResult: "
         "404\nZEMKIVDownloadFile Result: 1\n"},
        {"empty reply", 200, "", false, 0, "x=kivStuff&act=download&session_id=42&filename=f.txt",
         ""},
        {"wide", 200, "content", true, 1,
         "x=kivStuff&act=download&session_id=42&filename=\xE6\x97\xA5\xE6\x9C\xAC.txt",
         "ZEMKIVDownloadFile QueryResult: 200\nZEMKIVDownloadFile Result: 1\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        const std::string url = server.url("/kiv?v=2");
        const std::string path = t.folder.path() + "/got_\xC3\xA9";
        EXPECT_EQ(ZEMUrlTransferFile(t.handle.get(), url.c_str(), nullptr, t.file.c_str(), 1), 0);
        TraceFile trace;
        EXPECT_EQ(
            row.wide
                ? ZEMKIVTransferFileW(t.handle.get(), url.c_str(), "42", u"\u65e5\u672c.txt",
                                      (Widen(t.folder.path()) + u"/got_\u00e9").c_str(), 0)
                : ZEMKIVTransferFile(t.handle.get(), url.c_str(), "42", "f.txt", path.c_str(), 0),
            row.result);
        EXPECT_EQ(testing_support::FileExists(path) ? ReadFileBytes(path) : "<none>",
                  row.result == 1 ? row.reply : "<none>");
        fs::remove(fs::u8path(path));
        const std::vector<ParsedRequest> requests = Requests(server);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].body, row.body);
        if (!row.trace.empty()) {
            EXPECT_EQ(trace.Text(), Replaced(WithUrl(row.trace, url), "{path}", path));
        }
    }
}

}  // namespace
