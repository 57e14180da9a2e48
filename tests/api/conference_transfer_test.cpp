// The conference-server file transfers through the public header: the urlencoded download form
// and the multipart upload form on the wire, the "OK" rule, the wide forms, the failure rows and
// the levels of their trace lines.
#include <filesystem>

#include "export_test_helpers.h"

namespace {

using namespace export_testing;
using testing_support::FileExists;

// The download is a urlencoded form of exactly four fields, in order, even on a handle whose
// last transfer sent others; the body is stored whatever the status.
TEST(ConferenceDownload, PostsTheFourFieldsAndStoresTheReplyWhateverItsStatus) {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string upload = folder.File("up.txt");
    WriteFileBytes(upload, "u");
    for (int status : {200, 404}) {
        SCOPED_TRACE(status);
        const std::string body = PatternBytes(1500, static_cast<unsigned>(status));
        ScriptedServer server(Answer(HttpResponse(status, body)));
        const std::string url = server.url("/kiv?v=2");
        const std::string path = folder.File("got" + std::to_string(status));
        ASSERT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "42", "ignored", upload.c_str(), 1),
                  0);  // the reply is not "OK"
        TraceFile trace;
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "42", "f.txt", path.c_str(), 0), 1);
        EXPECT_EQ(ReadFileBytes(path), body);
        EXPECT_EQ(trace.Text(), "ZEMKIVDownloadFile Begin: " + url + ", 42, f.txt, " + path +
                                    "\nZEMKIVDownloadFile QueryResult: " + std::to_string(status) +
                                    "\nZEMKIVDownloadFile Result: 1\n");

        const std::vector<std::string> requests = server.requests();
        ASSERT_EQ(requests.size(), 2u);
        const ParsedRequest request = ParseRequest(requests[1]);
        EXPECT_EQ(request.requestLine, "POST /kiv?v=2 HTTP/1.0");
        EXPECT_EQ(request.body, "x=kivStuff&act=download&session_id=42&filename=f.txt");
        EXPECT_EQ(request.Header("Content-Length"), "52");
        EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_NE(requests[1].find("\r\nContent-Type: application/x-www-form-urlencoded\r\n"),
                  std::string::npos);
        EXPECT_EQ(request.Header("User-Agent"), kPostAgent);
        EXPECT_EQ(request.HeaderCount("User-Agent"), 1);
        EXPECT_EQ(request.Header("Accept"), "*/*");
    }
}

// Names and values go out unescaped, so blanks, "&" and "=" reach the server as they are.
TEST(ConferenceDownload, FieldValuesAreSentUnescaped) {
    ScriptedServer server(Answer(HttpResponse(200, "x")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), server.url().c_str(), "a b&c=d", "n m.txt",
                                 folder.File("f").c_str(), 0),
              1);
    EXPECT_EQ(OnlyRequest(server).body,
              "x=kivStuff&act=download&session_id=a b&c=d&filename=n m.txt");
}

TEST(ConferenceDownload, EmptyReplyGivesZeroAndNoFile) {
    ScriptedServer server(Answer(HttpResponse(200, "")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("empty.bin");
    TraceFile trace;
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), server.url().c_str(), "s", "f", path.c_str(), 0), 0);
    EXPECT_FALSE(FileExists(path));
    EXPECT_TRUE(trace.Contains("ZEMKIVDownloadFile Result: 0\n"));
}

// The wide download writes no Begin line and the narrow texts of the other two; the server file
// name goes out as UTF-8 and the local path is UTF-8 on disk.
TEST(ConferenceDownload, WideFormSendsUtf8AndWritesNoBeginLine) {
    ScriptedServer server(Answer(HttpResponse(200, "wide body")));
    OwnedHandle handle = BeginHandle();
    TempDir root;
    const std::u16string pathWide = Widen(root.path()) + u"/t\u00e9l\u00e9charg\u00e9.bin";
    const std::string pathUtf8 = root.path() + u8"/t\u00e9l\u00e9charg\u00e9.bin";
    TraceFile trace;
    EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), server.url().c_str(), "7", u"\u65e5\u672c.txt",
                                  pathWide.c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(pathUtf8), "wide body");
    EXPECT_EQ(OnlyRequest(server).body,
              u8"x=kivStuff&act=download&session_id=7&filename=\u65e5\u672c.txt");
    EXPECT_EQ(trace.Text(), "ZEMKIVDownloadFile QueryResult: 200\nZEMKIVDownloadFile Result: 1\n");
}

// The upload is a multipart form of exactly five fields, in order; every non-zero direction
// uploads and the server file name is not looked at.
TEST(ConferenceUpload, SendsTheFiveFieldsWithTheFile) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("slides.bin");
    const std::string content = PatternBytes(3000, 21);
    WriteFileBytes(path, content);
    const std::string url = server.url("/kiv");
    for (int32_t direction : {1, -1, 7}) {
        SCOPED_TRACE(direction);
        TraceFile trace;
        EXPECT_EQ(
            ZEMKIVTransferFile(handle.get(), url.c_str(), "s-1", nullptr, path.c_str(), direction),
            1);
        EXPECT_EQ(trace.Text(), "ZEMKIVUploadFile Begin: " + url + ", s-1, " + path +
                                    "\nZEMKIVUploadFile QueryResult: 200\n"
                                    "ZEMKIVUploadFile Result: OK\n");
    }
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    const std::string expected = TextPart("x", "kivStuff") + TextPart("act", "upload") +
                                 TextPart("session_id", "s-1") + TextPart("file_num", "1") +
                                 FilePart("file1", path, &content) + ClosingDelimiter();
    for (const std::string& raw : requests) {
        const ParsedRequest request = ParseRequest(raw);
        EXPECT_EQ(request.requestLine, "POST /kiv HTTP/1.0");
        EXPECT_EQ(request.body, expected);
        EXPECT_EQ(request.Header("Content-Length"), std::to_string(expected.size()));
    }
}

struct UploadReply {
    int status;
    std::string reply;
    int32_t result;
    std::string shown = "";  // the Result line's text when not the reply as sent
};

// Success is a reply that starts with "OK" or "\r\nOK"; the Result line shows at most 257
// characters of it, control characters other than TAB as \xNN.
TEST(ConferenceUpload, ReplyMustStartWithOkAndIsShownCut) {
    const std::vector<UploadReply> rows = {
        {200, "OK", 1},
        {200, "\r\nOK\r\n", 1, "\\x0D\\x0AOK\\x0D\\x0A"},
        {404, "OK then", 1},
        {200, " OK", 0},
        {200, "ok", 0},
        {200, "\r\n\r\nOK", 0, "\\x0D\\x0A\\x0D\\x0AOK"},
        {200, "OK\tforged\nZEMKIVUploadFile Result: 1\x1b[2J", 1,
         "OK\tforged\\x0AZEMKIVUploadFile Result: 1\\x1B[2J"},
        {200, "stored", 0},
        {200, "", 0},
        {200, "OK" + std::string(1998, 'y'), 1, "OK" + std::string(255, 'y')},
    };
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("up.txt");
    WriteFileBytes(path, "content");
    for (const UploadReply& row : rows) {
        SCOPED_TRACE(row.reply.substr(0, 16));
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        TraceFile trace;
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), server.url().c_str(), "s", "f", path.c_str(), 1),
                  row.result);
        EXPECT_TRUE(trace.Contains(
            "ZEMKIVUploadFile QueryResult: " + std::to_string(row.status) +
            "\nZEMKIVUploadFile Result: " + (row.shown.empty() ? row.reply : row.shown) + "\n"))
            << trace.Text();
    }
}

// The wide upload's lines name the wide export; its path is shown and sent as UTF-8.
TEST(ConferenceUpload, WideFormNamesItselfAndSendsUtf8) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    OwnedHandle handle = BeginHandle();
    TempDir root;
    const std::string pathUtf8 = root.path() + u8"/pr\u00e9sentation.bin";
    const std::u16string pathWide = Widen(root.path()) + u"/pr\u00e9sentation.bin";
    WriteFileBytes(pathUtf8, "slides");
    const std::string url = server.url();
    TraceFile trace;
    EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), url.c_str(), "s", u"ignored", pathWide.c_str(), 1),
              1);
    const std::string content = "slides";
    EXPECT_EQ(OnlyRequest(server).body,
              TextPart("x", "kivStuff") + TextPart("act", "upload") + TextPart("session_id", "s") +
                  TextPart("file_num", "1") + FilePart("file1", pathUtf8, &content) +
                  ClosingDelimiter());
    EXPECT_EQ(trace.Text(), "ZEMKIVUploadFileW Begin: " + url + ", s, " + pathUtf8 +
                                "\nZEMKIVUploadFileW QueryResult: 200\n"
                                "ZEMKIVUploadFileW Result: OK\n");
}

// Another scheme: 0 with the Begin line alone (none for the wide download). A refused request:
// the download writes nothing more, the upload its Failed line.
TEST(ConferenceTransfer, FailureRowsAndTheirTraceLines) {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("f.bin");
    WriteFileBytes(path, "content");
    const std::u16string pathWide = Widen(path);
    const std::string got = folder.File("got.bin");
    const char* ftp = "ftp://127.0.0.1/kiv";
    {
        TraceFile trace;
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), ftp, "s", "n", got.c_str(), 0), 0);
        EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), ftp, "s", u"n", Widen(got).c_str(), 0), 0);
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), ftp, "s", "n", path.c_str(), 1), 0);
        EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), ftp, "s", u"n", pathWide.c_str(), 1), 0);
        EXPECT_EQ(trace.Text(), std::string("ZEMKIVDownloadFile Begin: ") + ftp + ", s, n, " + got +
                                    "\nZEMKIVUploadFile Begin: " + ftp + ", s, " + path +
                                    "\nZEMKIVUploadFileW Begin: " + ftp + ", s, " + path + "\n");
    }
    {
        const std::string url = RefusedUrl();
        TraceFile trace;
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "s", "n", got.c_str(), 0), 0);
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "s", "n", path.c_str(), 1), 0);
        EXPECT_EQ(ZEMKIVTransferFileW(handle.get(), url.c_str(), "s", u"n", pathWide.c_str(), 1),
                  0);
        EXPECT_EQ(trace.OwnLines(), "ZEMKIVDownloadFile Begin: " + url + ", s, n, " + got +
                                        "\nZEMKIVUploadFile Begin: " + url + ", s, " + path +
                                        "\nZEMKIVUploadFile Failed.\n"
                                        "ZEMKIVUploadFileW Begin: " +
                                        url + ", s, " + path + "\nZEMKIVUploadFileW Failed.\n");
    }
    EXPECT_FALSE(FileExists(got));
}

// The two upload failure lines differ in level: the URL upload's is an error line, the
// conference upload's a progress line.
TEST(ConferenceTransfer, UploadFailureLinesFollowTheThreshold) {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("f.bin");
    WriteFileBytes(path, "content");
    const PostFields none;
    for (int32_t level : {-5, 2, 3}) {
        SCOPED_TRACE(level);
        const std::string url = RefusedUrl();
        TraceFile trace(level);
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1), 0);
        EXPECT_EQ(ZEMKIVTransferFile(handle.get(), url.c_str(), "s", "n", path.c_str(), 1), 0);
        EXPECT_EQ(trace.Contains("ZEMUrlUploadFile Failed\n"), level <= 2);
        EXPECT_EQ(trace.Contains("ZEMKIVUploadFile Failed.\n"), level <= 0);
    }
}

}  // namespace
