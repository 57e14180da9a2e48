// The URL file transfers through the public header: downloads into files and folders (the
// announced name, cleaned of anything that would leave the folder), uploads with their reply
// rule and their request on the wire, the wide forms, the failure rows and cancellation.
#include <atomic>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "export_test_helpers.h"

namespace {

using namespace export_testing;
using testing_support::FileExists;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// Every regular file below `root`, as paths relative to it.
std::set<std::string> FilesBelow(const std::string& root) {
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), root).string());
    }
    return files;
}

std::string DownloadLines(const std::string& url, const std::string& path, int status, int result) {
    return "ZEMUrlDownloadFile Begin: " + url + ", " + path +
           "\nZEMUrlDownloadFile QueryResult: " + std::to_string(status) +
           "\nZEMUrlDownloadFile Result: " + std::to_string(result) + "\n";
}

std::string Disposition(const std::string& value) {
    return "Content-Disposition: " + value;
}

TEST(UrlDownload, StoresTheBodyInANewFileOrInPlaceOfAnOldOne) {
    const std::string body = PatternBytes(500, 11);
    ScriptedServer server(Answer(HttpResponse(200, body)));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const PostFields fields{{"z", "26"}, {"a", "1"}};
    const std::string url = server.url("/get?id=3");
    for (bool existing : {false, true}) {
        SCOPED_TRACE(existing);
        const std::string path = folder.File(existing ? "old.bin" : "new.bin");
        if (existing) WriteFileBytes(path, std::string(4000, 'o'));
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, path.c_str(), 0), 1);
        EXPECT_EQ(ReadFileBytes(path), body);
        EXPECT_EQ(trace.Text(), DownloadLines(url, path, 200, 1));
    }
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const ParsedRequest request = ParseRequest(requests[0]);
    EXPECT_EQ(request.requestLine, "POST /get?id=3 HTTP/1.0");
    EXPECT_EQ(request.body, TextPart("a", "1") + TextPart("z", "26") + ClosingDelimiter());
}

struct NamedDownload {
    std::vector<std::string> headers;
    std::string storedAs;   // inside the folder
    std::string nameGiven;  // to the host by ZEMNormalDownloadFile
};

// Downloads into a folder under a temporary root with both download exports and checks that
// the one file below the root is folder/storedAs with the body, and the name handed out.
void ExpectNamedDownload(const NamedDownload& row) {
    const std::string body = "named body";
    ScriptedServer server(Answer(HttpResponse(200, body, row.headers)));
    OwnedHandle handle = BeginHandle();
    const PostFields fields;
    for (bool normal : {false, true}) {
        SCOPED_TRACE(normal ? "ZEMNormalDownloadFile" : "ZEMUrlTransferFile");
        TempDir root;
        const std::string folder = root.File("in");
        fs::create_directories(folder);
        std::string name(64, '#');
        const int32_t result = normal ? ZEMNormalDownloadFile(handle.get(), server.url().c_str(),
                                                              &fields, folder.c_str(), &name[0], 64)
                                      : ZEMUrlTransferFile(handle.get(), server.url().c_str(),
                                                           &fields, folder.c_str(), 0);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(FilesBelow(root.path()), std::set<std::string>{"in/" + row.storedAs});
        if (FileExists(folder + "/" + row.storedAs)) {
            EXPECT_EQ(ReadFileBytes(folder + "/" + row.storedAs), body);
        }
        if (normal) {
            EXPECT_EQ(name, row.nameGiven + std::string(64 - row.nameGiven.size(), '\0'));
        }
    }
}

// The name is everything after the first "=" that follows the first ";", trimmed of white
// space and then of quotes; without one the file is "unknown" and the host gets no name.
TEST(UrlDownload, IntoAFolderTheFileTakesTheAnnouncedName) {
    const std::vector<NamedDownload> rows = {
        {{Disposition("attachment; filename=\"report.txt\"")}, "report.txt", "report.txt"},
        {{Disposition("attachment;filename=  \"q.txt\"")}, "q.txt", "q.txt"},
        {{Disposition("attachment; filename=a.txt; size=10")}, "a.txt; size=10", "a.txt; size=10"},
        {{Disposition("attachment; filename*=UTF-8''na%C3%AFve.txt")},
         "UTF-8''na%C3%AFve.txt",
         "UTF-8''na%C3%AFve.txt"},
        {{Disposition("inline")}, "unknown", ""},
        {{Disposition("attachment; name")}, "unknown", ""},
        {{}, "unknown", ""},
    };
    for (const NamedDownload& row : rows) {
        SCOPED_TRACE(row.headers.empty() ? "(none)" : row.headers[0]);
        ExpectNamedDownload(row);
    }
}

// A name from the server is reduced to a plain file name before it meets the folder: it can
// neither climb out, nor name an absolute path, nor carry control characters.
TEST(UrlDownload, AnnouncedNamesNeverLeaveTheFolder) {
    const std::vector<NamedDownload> rows = {
        {{Disposition("attachment; filename=\"../escape.txt\"")}, "escape.txt", "escape.txt"},
        {{Disposition("attachment; filename=\"sub/../../up.txt\"")}, "up.txt", "up.txt"},
        {{Disposition("attachment; filename=\"/etc/x\"")}, "x", "x"},
        {{Disposition("attachment; filename=\"a\\b\"")}, "b", "b"},
        {{Disposition("attachment; filename=\"ctl\x01name.txt\"")}, "ctlname.txt", "ctlname.txt"},
        {{Disposition("attachment; filename=\"..\"")}, "unknown", ""},
        {{Disposition("attachment; filename=\"../\"")}, "unknown", ""},
    };
    for (const NamedDownload& row : rows) {
        SCOPED_TRACE(row.headers[0]);
        ExpectNamedDownload(row);
    }
}

// Only a 200 answer is stored; an empty body leaves no file either.
TEST(UrlDownload, ErrorStatusOrEmptyBodyLeavesNoFile) {
    TempDir folder;
    const std::string path = folder.File("target.bin");
    const PostFields fields;
    OwnedHandle handle = BeginHandle();
    {
        ScriptedServer server(Answer(HttpResponse(404, "<html>missing</html>")));
        const std::string url = server.url();
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, path.c_str(), 0), 0);
        EXPECT_EQ(trace.Text(), DownloadLines(url, path, 404, 0));
        char name[8] = "xxxxxxx";
        EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, path.c_str(), name, 8),
                  0);
        EXPECT_EQ(std::string(name, 8), std::string("\0xxxxxx\0", 8));
    }
    {
        ScriptedServer server(Answer(HttpResponse(200, "")));
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &fields, path.c_str(), 0),
                  0);
        EXPECT_TRUE(trace.Contains("ResponseToFile " + path + " error!\n")) << trace.Text();
        EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Result: 0\n"));
    }
    EXPECT_TRUE(FilesBelow(folder.path()).empty());
}

// Another scheme: the Begin line only. A refused request: Begin and Result lines. A file that
// cannot be created: its error line, the body unread.
TEST(UrlDownload, FailureRowsAndTheirTraceLines) {
    TempDir folder;
    const std::string path = folder.File("f.bin");
    const PostFields fields;
    OwnedHandle handle = BeginHandle();
    {
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), "ftp://127.0.0.1/f", &fields, path.c_str(), 0),
                  0);
        EXPECT_EQ(trace.Text(), "ZEMUrlDownloadFile Begin: ftp://127.0.0.1/f, " + path + "\n");
    }
    {
        const std::string url = RefusedUrl();
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, path.c_str(), 0), 0);
        EXPECT_EQ(trace.OwnLines(), "ZEMUrlDownloadFile Begin: " + url + ", " + path +
                                        "\nZEMUrlDownloadFile Result: 0\n");
        EXPECT_TRUE(trace.Contains("[ " + url + " ] request failed\n")) << trace.Text();
    }
    {
        ScriptedServer server(Answer(HttpResponse(200, "body")));
        const std::string nowhere = folder.File("missing/f.bin");
        TraceFile trace;
        EXPECT_EQ(
            ZEMUrlTransferFile(handle.get(), server.url().c_str(), &fields, nowhere.c_str(), 0), 0);
        EXPECT_TRUE(trace.Contains("Create file " + nowhere + " error!\n")) << trace.Text();
        EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Result: 0\n"));
    }
    EXPECT_TRUE(FilesBelow(folder.path()).empty());
}

// The name buffer gets the name cut to its size, zero-padded when shorter and without a
// terminator when not; a file path (not a folder) stores the body there all the same.
TEST(NormalDownload, HandsOutTheAnnouncedNameCutToTheBuffer) {
    ScriptedServer server(
        Answer(HttpResponse(200, "report", {Disposition("attachment; filename=\"report.txt\"")})));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("chosen.txt");
    const std::string url = server.url();
    const PostFields fields;
    TraceFile trace;

    std::string name(66, '#');
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, path.c_str(), &name[0], 64),
              1);
    EXPECT_EQ(name, "report.txt" + std::string(54, '\0') + "##");
    EXPECT_EQ(ReadFileBytes(path), "report");

    name.assign(8, '#');
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, path.c_str(), &name[0], 4),
              1);
    EXPECT_EQ(name, "repo####");

    // A buffer of no size is never written, not even its first byte.
    name.assign(2, '#');
    EXPECT_EQ(ZEMNormalDownloadFile(handle.get(), url.c_str(), &fields, path.c_str(), &name[0], 0),
              1);
    EXPECT_EQ(name, "##");
    EXPECT_EQ(FilesBelow(folder.path()), std::set<std::string>{"chosen.txt"});

    const std::string lines = "ZEMUrlDownloadFile Begin: " + url + ", " + path +
                              "\nZEMNormalDownloadFile QueryResult: 200\n"
                              "ZEMNormalDownloadFile Result: 1\n";
    EXPECT_EQ(trace.Text(), lines + lines + lines);
}

// Wide local paths are UTF-16; on disk and in the trace they are UTF-8.
TEST(UrlTransferFileW, NonAsciiPathsReachTheDiskAsUtf8) {
    const std::string body = PatternBytes(700, 12);
    ScriptedServer server([&body](ScriptedConnection& connection) {
        const ParsedRequest request = ParseRequest(connection.ReadRequest());
        if (request.body.find("name=\"file1\"") != std::string::npos) {
            connection.Send(HttpResponse(200, "OK"));
        } else {
            connection.Send(HttpResponse(
                200, body, {Disposition("attachment; filename=\"r\xC3\xA9sum\xC3\xA9.txt\"")}));
        }
    });
    OwnedHandle handle = BeginHandle();
    TempDir root;
    const std::string url = server.url();
    const PostFields fields;
    const std::string fileUtf8 = root.path() + u8"/donn\u00e9es_\u65e5\u672c.bin";
    const std::u16string fileWide = Widen(root.path()) + u"/donn\u00e9es_\u65e5\u672c.bin";
    const std::string folderUtf8 = root.path() + u8"/dossier_\u00e9";
    const std::u16string folderWide = Widen(root.path()) + u"/dossier_\u00e9";
    fs::create_directories(folderUtf8);

    TraceFile trace;
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, fileWide.c_str(), 0), 1);
    EXPECT_EQ(ReadFileBytes(fileUtf8), body);
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, folderWide.c_str(), 0), 1);
    EXPECT_EQ(ReadFileBytes(folderUtf8 + "/r\xC3\xA9sum\xC3\xA9.txt"), body);
    EXPECT_EQ(trace.Text(),
              DownloadLines(url, fileUtf8, 200, 1) + DownloadLines(url, folderUtf8, 200, 1));

    // The upload names the file by its UTF-8 path and sends its bytes.
    EXPECT_EQ(ZEMUrlTransferFileW(handle.get(), url.c_str(), &fields, fileWide.c_str(), 1), 1);
    const std::vector<std::string> requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(ParseRequest(requests[2]).body,
              TextPart("file_num", "1") + FilePart("file1", fileUtf8, &body) + ClosingDelimiter());
    EXPECT_TRUE(trace.Contains("ZEMUrlUploadFile Begin: " + url + ", " + fileUtf8 + "\n"));
}

// The host's fields in name order, then file_num and the file, with the headers of every
// multipart request.
TEST(UrlUpload, SendsTheFieldsThenFileNumberAndFile) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("up.bin");
    const std::string content = PatternBytes(2000, 13);
    WriteFileBytes(path, content);
    const PostFields fields{{"z", "last"}, {"a", "first"}};
    const std::string url = server.url("/upload");
    TraceFile trace;
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, path.c_str(), 1), 1);
    EXPECT_EQ(trace.Text(),
              "ZEMUrlUploadFile Begin: " + url + ", " + path + "\nZEMUrlUploadFile Result: OK\n");

    const ParsedRequest request = OnlyRequest(server);
    const std::string expected = TextPart("a", "first") + TextPart("z", "last") +
                                 TextPart("file_num", "1") + FilePart("file1", path, &content) +
                                 ClosingDelimiter();
    EXPECT_EQ(request.requestLine, "POST /upload HTTP/1.0");
    EXPECT_EQ(request.body, expected);
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(expected.size()));
    EXPECT_EQ(request.Header("Content-Type"), kMultipartType);
    EXPECT_EQ(request.Header("Proxy-Connection"), "Keep-Alive");
    EXPECT_EQ(request.Header("User-Agent"), kPostAgent);
    EXPECT_EQ(request.Header("Accept"), "*/*");
}

// Changes the working folder for one test, so that a relative path names a file in it.
class ScopedWorkingFolder {
  public:
    explicit ScopedWorkingFolder(const std::string& folder) : old_(fs::current_path()) {
        fs::current_path(folder);
    }
    ~ScopedWorkingFolder() {
        std::error_code ignored;
        fs::current_path(old_, ignored);
    }
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

  private:
    fs::path old_;
};

// An empty map sends exactly the two fields; with the relative path a.txt holding "abc" that is
// the 235-byte body, byte for byte.
TEST(UrlUpload, EmptyMapSendsTheTwoFieldsOfTheReferenceBody) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    WriteFileBytes(folder.File("a.txt"), "abc");
    const PostFields none;
    {
        ScopedWorkingFolder inFolder(folder.path());
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &none, "a.txt", 7), 1);
    }
    const ParsedRequest request = OnlyRequest(server);
    EXPECT_EQ(request.Header("Content-Length"), "235");
    EXPECT_EQ(request.body,
              "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
              "Content-Disposition: form-data; name=\"file_num\"\r\n\r\n"
              "1\r\n"
              "----MULTI-PARTS-FORM-DATA-BOUNDARY\r\n"
              "Content-Disposition: form-data; name=\"file1\"; filename=\"a.txt\"\r\n\r\n"
              "abc\r\n"
              "----MULTI-PARTS-FORM-DATA-BOUNDARY--\r\n");
}

// A file that cannot be read still sends the request; its part is the header alone.
TEST(UrlUpload, MissingFileSendsItsPartWithoutContents) {
    ScriptedServer server(Answer(HttpResponse(200, "OK")));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("not-there.bin");
    const PostFields none;
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &none, path.c_str(), 1), 1);
    EXPECT_EQ(OnlyRequest(server).body,
              TextPart("file_num", "1") + FilePart("file1", path, nullptr) + ClosingDelimiter());
}

struct UploadReply {
    int status;
    std::string reply;
    int32_t result;
    std::string shown = "";  // the Result line's text when not the reply as sent
};

// Success is a reply that starts with "OK" or "\r\nOK", whatever the status; one read of at most
// 1024 bytes is made and shown whole in the Result line. Every non-zero direction uploads.
TEST(UrlUpload, ReplyMustStartWithOk) {
    const std::vector<UploadReply> rows = {
        {200, "OK", 1},
        {200, "\r\nOK", 1, "\\x0D\\x0AOK"},
        {200, "OKAY, stored", 1},
        {500, "OK", 1},
        {200, " OK", 0},
        {200, "ok", 0},
        {200, "\r\n\r\nOK", 0, "\\x0D\\x0A\\x0D\\x0AOK"},
        {200, "", 0},
        {200, "stored", 0},
        {200, "OK" + std::string(1998, 'x'), 1, "OK" + std::string(1022, 'x')},
    };
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("up.txt");
    WriteFileBytes(path, "content");
    const PostFields none;
    const int32_t directions[] = {1, -1, 7};
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const UploadReply& row = rows[i];
        SCOPED_TRACE(row.reply.substr(0, 16));
        ScriptedServer server(Answer(HttpResponse(row.status, row.reply)));
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &none, path.c_str(),
                                     directions[i % 3]),
                  row.result);
        EXPECT_TRUE(trace.Contains(
            "\nZEMUrlUploadFile Result: " + (row.shown.empty() ? row.reply : row.shown) + "\n"))
            << trace.Text();
    }
}

// Another scheme: the Begin line only. A refused request: the Failed line at the error level.
TEST(UrlUpload, FailureRowsAndTheirTraceLines) {
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("up.txt");
    WriteFileBytes(path, "content");
    const PostFields none;
    {
        TraceFile trace;
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), "ftp://127.0.0.1/", &none, path.c_str(), 1), 0);
        EXPECT_EQ(trace.Text(), "ZEMUrlUploadFile Begin: ftp://127.0.0.1/, " + path + "\n");
    }
    {
        const std::string url = RefusedUrl();
        TraceFile trace(2);
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), url.c_str(), &none, path.c_str(), 1), 0);
        EXPECT_EQ(trace.OwnLines(), "ZEMUrlUploadFile Failed\n");
    }
}

// A server that sends the head of a huge body and then the body, at a pace a download keeps up
// with, until the client goes.
ScriptedServer::Script EndlessBody(std::atomic<bool>& streaming) {
    return [&streaming](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 1073741824\r\n\r\n");
        const std::string piece = PatternBytes(65536, 14);
        streaming = true;
        while (connection.Send(piece)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
}

// A cancel during the download stops it: 0, and the partly written file is gone. Left alone,
// the body would take minutes.
TEST(UrlDownload, CancelFromAnotherThreadLeavesNoFile) {
    std::atomic<bool> streaming{false};
    ScriptedServer server(EndlessBody(streaming));
    OwnedHandle handle = BeginHandle();
    TempDir folder;
    const std::string path = folder.File("large.bin");
    const PostFields none;
    TraceFile trace;
    int32_t result = -1;
    std::thread download([&] {
        result = ZEMUrlTransferFile(handle.get(), server.url().c_str(), &none, path.c_str(), 0);
    });
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    // The body goes to a new file beside the target until it is whole.
    while ((fs::is_empty(folder.path()) || !streaming.load()) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(streaming.load());
    CancelTransferFile(handle.get());
    download.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(fs::is_empty(folder.path()));  // neither the target nor the unfinished file
    EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Result: 0\n")) << trace.Text();
}

}  // namespace
