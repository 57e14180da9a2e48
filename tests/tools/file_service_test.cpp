// The reference file service, driven by the library as a host would and, for what the
// library never sends, by a plain HTTP client.
#include <httplib.h>
#include <signal.h>

#include "api/api_support.h"

using Form = httplib::MultipartFormDataItems;
using namespace std::string_literals;

namespace {

using Send = std::function<httplib::Result(httplib::Client&)>;

constexpr const char* kProgram = ZEMUSER_FILE_SERVICE_PROGRAM;

// Every byte value, zero and CR LF included.
std::string Binary(std::size_t size, unsigned seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 31 + seed) >> 3);
    return content;
}

Form Upload(const std::string& session, std::size_t size = 10, const std::string& name = "f.bin",
            const Form& extra = {}) {
    Form form{{"x", "kivStuff", "", ""},
              {"act", "upload", "", ""},
              {"session_id", session, "", ""},
              {"file_num", "1", "", ""},
              {"file1", Binary(size, 3), name, "application/octet-stream"}};
    form.insert(form.begin(), extra.begin(), extra.end());
    return form;
}

httplib::Params Download(const std::string& session, const std::string& name) {
    return {{"x", "kivStuff"}, {"act", "download"}, {"session_id", session}, {"filename", name}};
}

template <typename Body>
Send Ask(const Body& form, const std::string& target = "/files", const std::string& bearer = "") {
    return [=](httplib::Client& client) {
        if (!bearer.empty()) client.set_bearer_token_auth(bearer);
        return client.Post(target, form);
    };
}

}  // namespace

// Six uploads at once under one name: one whole upload wins, none is mixed with another, and
// nothing staged is left behind.
TEST(FileService, ConcurrentUploadsToOneSession) {
    FileService service(kProgram);
    TempDir local;
    std::vector<std::string> contents;
    std::vector<std::thread> uploaders;
    std::atomic<int> accepted{0};
    for (int i = 0; i < 6; ++i) {
        const std::string folder = local.File(std::to_string(i));
        contents.push_back(Binary(200000 + 1000 * static_cast<std::size_t>(i), i));
        fs::create_directory(folder);
        WriteFileBytes(folder + "/shared.bin", contents.back());
        uploaders.emplace_back([&, folder] {
            OwnedHandle handle(ZEMTransferBegin());
            accepted += ZEMKIVTransferFile(handle.get(), service.url().c_str(), "busy", "",
                                           (folder + "/shared.bin").c_str(), 1);
        });
    }
    for (auto& uploader : uploaders) uploader.join();
    EXPECT_EQ(accepted, 6);
    EXPECT_EQ(FilesBelow(service.root.path()), std::set<std::string>{"busy/shared.bin"});
    const std::string shared = ReadFileBytes(service.root.path() + "/busy/shared.bin");
    EXPECT_NE(std::find(contents.begin(), contents.end(), shared), contents.end());
}

TEST(FileService, AnswersEachRequestAndStoresOnlyWhatItAccepts) {
    TempDir secrets;
    WriteFileBytes(secrets.File("token"), "s3cret-token\nnot part of it\n");
    const std::vector<std::string> token{"--token-file", secrets.File("token")};
    const std::string longName(65, 'n');
    const auto fiveFields = Ask(httplib::Params{
        {"act", "download"}, {"session_id", "old"}, {"filename", "a.bin"}, {"x", "y"}, {"z", "1"}});
    struct Case {
        const char* name;
        std::vector<std::string> options;
        Send send;
        int status;
        // The file stored beside old/a.bin (a path), or how the answer begins; "" for no file
        // and "OK" or "ERROR" by the status.
        std::string expected;
    };
    const auto upload = [](const std::string& name) { return Ask(Upload("s", 10, name)); };
    const auto withPart = [](const std::string& name) {
        return Ask(Upload("s", 10, "f.bin", {{name, "x", "", ""}}));
    };
    const auto tokened = [](const std::string& target, const std::string& bearer = "") {
        return Ask(Upload("s"), target, bearer);
    };
    // clang-format off
    const Case cases[] = {
        {"missing file", {}, Ask(Download("old", "b.bin")), 404, "no such file"},
        {"unknown act", {}, Ask(httplib::Params{{"x", "kivStuff"}, {"act", "list"}}), 400, ""},
        // Names that could leave the folder, and the client path's last part as the stored name.
        {"session ..", {}, Ask(Upload("..")), 400, "ERROR bad session_id"},
        {"empty session", {}, Ask(Upload("")), 400, "ERROR bad session_id"},
        {"session with a slash", {}, Ask(Upload("a/b")), 400, "ERROR bad session_id"},
        {"session with a zero byte", {}, Ask(Upload("a\0b"s)), 400, "ERROR bad session_id"},
        {"download, session ..", {}, Ask(Download("..", "a.bin")), 400, "ERROR bad session_id"},
        {"download of ../old/a.bin", {}, Ask(Download("old", "../old/a.bin")), 400,
         "ERROR bad filename"},
        {"client path with backslashes", {}, upload("..\\..\\e.txt"), 200, "s/e.txt"},
        {"client path ending in ..", {}, upload("C:\\data\\.."), 400, "ERROR bad file name"},
        // Each limit refuses the whole request.
        {"body over --max-request", {"--max-request", "1MiB"}, Ask(Upload("s", 2000000)), 413, ""},
        {"parts over --max-parts", {"--max-parts", "5"}, withPart("n"), 413,
         "ERROR a form has more than 5 fields"},
        {"parts at --max-parts", {"--max-parts", "5"}, Ask(Upload("s")), 200, "s/f.bin"},
        {"part name over --max-field", {"--max-field", "64"}, withPart(longName), 413, ""},
        {"part value over --max-field", {"--max-field", "64"}, Ask(Upload(longName)), 413, ""},
        {"urlencoded value over --max-field", {"--max-field", "64"},
         Ask(Download("old", longName)), 413, ""},
        {"urlencoded fields over --max-parts", {"--max-parts", "4"}, fiveFields, 413, ""},
        // Refused part-way through the body, which is still read to its end.
        {"file over --max-upload", {"--max-upload", "1MiB", "--max-request", "8MiB"},
         Ask(Upload("s", 3000000)), 413, ""},
        {"file at --max-upload", {"--max-upload", "1MiB"}, Ask(Upload("s", 1048576)), 200,
         "s/f.bin"},
        {"new session past --max-sessions", {"--max-sessions", "1"}, Ask(Upload("s")), 507,
         "ERROR the service holds no more sessions"},
        {"known session at --max-sessions", {"--max-sessions", "1"}, Ask(Upload("old")), 200,
         "old/f.bin"},
        {"upload past --max-disk", {"--max-disk", "50000"}, Ask(Upload("old", 20000)), 507, ""},
        {"upload within --max-disk", {"--max-disk", "50000"}, Ask(Upload("old", 5000)), 200,
         "old/f.bin"},
        // With a token, every request must present it whole.
        {"no token", token, Ask(Upload("s")), 403, ""},
        // Refused before the body is read, and still answered rather than reset.
        {"wrong token, big body", token, Ask(Upload("s", 4000000), "/files?token=wrong"), 403, ""},
        {"the token's first part", token, tokened("/files?token=s3cret"), 403, ""},
        {"the token and more", token, tokened("/files?token=s3cret-token2"), 403, ""},
        {"wrong bearer", token, tokened("/files", "s3cret-tokeN"), 403, ""},
        {"token in the URL", token, tokened("/files?token=s3cret-token"), 200, "s/f.bin"},
        {"token as bearer", token, tokened("/files", "s3cret-token"), 200, "s/f.bin"},
        {"download with the token", token, Ask(Download("old", "a.bin"), "/files", "s3cret-token"),
         200, "aaaa"},
    };
    // clang-format on
    // A service that answers before reading a whole request makes the client write into a
    // closed connection: that must fail the case, not end the test program.
    signal(SIGPIPE, SIG_IGN);
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FileService service(kProgram, row.options, [](const std::string& root) {
            fs::create_directory(root + "/old");
            WriteFileBytes(root + "/old/a.bin", std::string(40000, 'a'));
        });
        httplib::Client client("127.0.0.1", service.port);
        client.set_keep_alive(true);  // no idle connection may hold one of the service's workers
        auto answer = row.send(client);
        ASSERT_TRUE(answer) << httplib::to_string(answer.error());
        EXPECT_EQ(answer->status, row.status) << answer->body;
        EXPECT_EQ(answer->get_header_value("Connection"), "close");
        const bool stores = row.expected.find('/') != std::string::npos;
        const std::string body = !row.expected.empty() && !stores ? row.expected
                                 : row.status == 200              ? "OK"
                                                                  : "ERROR";
        EXPECT_EQ(answer->body.rfind(body, 0), 0u) << answer->body;
        std::set<std::string> files{"old/a.bin", stores ? row.expected : "old/a.bin"};
        EXPECT_EQ(FilesBelow(service.root.path()), files);
    }
}

TEST(FileService, StartUpClearsStagedFiles) {
    FileService service(kProgram, {}, [](const std::string& root) {
        WriteFileBytes(root + "/.upload-Ab12Cd", "half an upload");
        fs::create_directory(root + "/old");
        WriteFileBytes(root + "/old/.upload-kept", "a session's own file");
    });
    EXPECT_EQ(FilesBelow(service.root.path()), std::set<std::string>{"old/.upload-kept"});
    EXPECT_EQ(service.process.Stop(SIGTERM), 0);
    EXPECT_EQ(ReadFileBytes(service.log.File("log")),
              "zemuser-file-service: removed 1 unfinished upload(s) left by an earlier run\n"
              "listening on http://127.0.0.1:" +
                  std::to_string(service.port) + "\nstopped\n");
}
