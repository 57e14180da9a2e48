// Response queries and bodies stored in files: the sizes, the failures and the cancellation.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <thread>

#include "session_fixture.h"

namespace {

using namespace zemuser;

using namespace session_testing;
using testing_support::FileExists;
using testing_support::HttpResponse;
using testing_support::ReadFileBytes;
using testing_support::ScriptedConnection;
using testing_support::ScriptedServer;
using testing_support::TempDir;

// A session whose request to `server` has been answered.
class Answered {
  public:
    explicit Answered(const ScriptedServer& server, const char* path = "/r") {
        connected_ = ConnectTo(session_, server.port()) &&
                     session_.SendRequest(path, RequestKind::RequestGet, nullptr);
    }
    ~Answered() { session_.CloseHandles(); }
    TransferSession& operator*() { return session_; }
    TransferSession* operator->() { return &session_; }
    bool ok() const { return connected_; }

  private:
    TransferSession session_;
    bool connected_ = false;
};

TEST(SessionResponse, StatusWithoutRequestIs404WithAReport) {
    TraceFile trace;
    TransferSession session;
    ASSERT_TRUE(ConnectTo(session, 9));
    EXPECT_EQ(session.QueryStatusCode(), 404);
    EXPECT_NE(trace.Text().find("[ http://127.0.0.1:9 ] query status code failed...\n"),
              std::string::npos)
        << trace.Text();
    session.CloseHandles();
}

TEST(SessionResponse, MissingContentLengthIsReportedButZeroIsNot) {
    TraceFile trace;
    ScriptedServer withoutLength(Answer(HttpResponse(200, "abc", {}, false)));
    Answered first(withoutLength, "/nolength");
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first->QueryContentLength(), 0);
    EXPECT_NE(trace.Text().find("/nolength ] query content-length failed...\n"), std::string::npos);

    ScriptedServer zero(Answer(HttpResponse(200, "")));
    Answered second(zero, "/zero");
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(second->QueryContentLength(), 0);
    EXPECT_EQ(trace.Text().find("/zero ]"), std::string::npos);
}

TEST(SessionResponse, ContentDispositionLargerThanTheBufferGivesTheSizeNeeded) {
    TraceFile trace;
    std::string header = "attachment; filename=\"a-rather-long-name.txt\"";
    ScriptedServer server(Answer(HttpResponse(200, "x", {"Content-Disposition: " + header})));
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    char small[10] = "untouched";
    EXPECT_GE(answered->QueryContentDisposition(small, sizeof(small)), header.size());
    EXPECT_STREQ(small, "untouched");
    char large[128] = {};
    EXPECT_EQ(answered->QueryContentDisposition(large, sizeof(large)), header.size());
    EXPECT_EQ(std::string(large), header);
    EXPECT_EQ(trace.Text(), "");
}

TEST(SessionResponse, BodiesAreStoredWhole) {
    TempDir folder;
    for (std::size_t size : {3000u, 1024u, 1u}) {
        std::string body(size, 'b');
        for (std::size_t i = 0; i < size; ++i) body[i] = static_cast<char>('a' + i % 26);
        ScriptedServer server(Answer(HttpResponse(200, body)));
        Answered answered(server);
        ASSERT_TRUE(answered.ok());
        std::string path = folder.File("body" + std::to_string(size));
        EXPECT_EQ(answered->ResponseToFile(path.c_str()), size);
        EXPECT_EQ(ReadFileBytes(path), body);
    }
}

TEST(SessionResponse, WidePathReachesTheSameFile) {
    TempDir folder;
    ScriptedServer server(Answer(HttpResponse(200, "wide")));
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    std::string narrow = folder.File("d\xC3\xA9j\xC3\xA0.txt");
    std::u16string wide(folder.path().begin(), folder.path().end());  // an ASCII folder
    wide += u"/d\u00E9j\u00E0.txt";
    EXPECT_EQ(answered->ResponseToFile(wide.c_str()), 4u);
    EXPECT_EQ(ReadFileBytes(narrow), "wide");
}

TEST(SessionResponse, EmptyBodyLeavesNoFile) {
    TraceFile trace;
    TempDir folder;
    ScriptedServer server(Answer(HttpResponse(204, "")));
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    std::string path = folder.File("empty");
    EXPECT_EQ(answered->ResponseToFile(path.c_str()), 0u);
    EXPECT_FALSE(FileExists(path));
    EXPECT_NE(trace.Text().find("ResponseToFile " + path + " error!\n"), std::string::npos);
}

TEST(SessionResponse, ConnectionDroppedMidBodyDeletesThePartialFile) {
    TraceFile trace;
    TempDir folder;
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" +
                        std::string(30000, 'x'));
        connection.Reset();
    });
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    std::string path = folder.File("dropped");
    EXPECT_EQ(answered->ResponseToFile(path.c_str()), 0u);
    EXPECT_FALSE(FileExists(path));
    std::string text = trace.Text();
    std::size_t report = text.find("/r ] response failed...\n");
    ASSERT_NE(report, std::string::npos) << text;
    EXPECT_NE(text.find("ResponseToFile " + path + " error!\n", report), std::string::npos);
    EXPECT_FALSE(answered->HasRequest());
    EXPECT_EQ(answered->QueryStatusCode(), 404);
}

TEST(SessionResponse, CancelFromAnotherThreadWhileStoringLeavesNoFile) {
    TempDir folder;
    ScriptedServer server([](ScriptedConnection& connection) {
        connection.ReadRequest();
        connection.Send("HTTP/1.0 200 OK\r\nContent-Length: 100000000\r\n\r\n");
        const std::string piece(16384, 's');
        for (int i = 0; i < 2000 && connection.Send(piece); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    std::string path = folder.File("cancelled");
    std::thread canceller([&] {
        // The body goes to a new file beside the target until it is whole: storing has begun.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::filesystem::is_empty(folder.path()) &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_FALSE(std::filesystem::is_empty(folder.path()));
        answered->CloseHandles();
    });
    EXPECT_EQ(answered->ResponseToFile(path.c_str()), 0u);
    canceller.join();
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(SessionResponse, FolderThatDoesNotExistReadsNothing) {
    TraceFile trace;
    ScriptedServer server(Answer(HttpResponse(200, "kept")));
    Answered answered(server);
    ASSERT_TRUE(answered.ok());
    std::string path = "/nonexistent-folder-of-the-tests/file";
    EXPECT_EQ(answered->ResponseToFile(path.c_str()), 0u);
    EXPECT_NE(trace.Text().find("Create file " + path + " error!\n"), std::string::npos);
    char body[8] = {};
    EXPECT_EQ(answered->ReadResponse(body, 7), 4u);  // the body is still there
}

TEST(SessionResponse, FullDiskIsAFailedDownloadWithNoFileLeft) {
    TempDir folder;
    std::string path = folder.File("full");
    ScriptedServer server(Answer(HttpResponse(200, std::string(50000, 'f'))));
    const testing_support::ChildEnd end = testing_support::RunInChild([&] {
        // The file may not grow past 20000 bytes in this process: the disk is "full".
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        TransferSession session;
        bool sent = ConnectTo(session, server.port()) &&
                    session.SendRequest("/full", RequestKind::RequestGet, nullptr);
        std::uint32_t stored = sent ? session.ResponseToFile(path.c_str()) : 1;
        session.CloseHandles();
        return !sent ? 2 : stored != 0 ? 3 : FileExists(path) ? 4 : 0;
    });
    EXPECT_TRUE(end.Succeeded()) << end.Describe();
}

}  // namespace
