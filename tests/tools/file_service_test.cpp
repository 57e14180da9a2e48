// The reference file service, driven by the library as a host would and, for what the
// library never sends, by a plain HTTP client.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <zemuser.h>

#include <filesystem>
#include <thread>

#include "support/library_helpers.h"
#include "support/real_servers.h"
#include "tools_process.h"

namespace fs = std::filesystem;
using namespace testing_support;
using tools_testing::FileServiceProcess;
using Form = httplib::MultipartFormDataItems;
using namespace std::string_literals;

namespace {

// Every byte value, zero and CR LF included.
std::string Binary(std::size_t size, unsigned seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 31 + seed) >> 3);
    return content;
}

Form UploadForm(const std::string& session, const std::string& name, const std::string& content) {
    return {{"x", "kivStuff", "", ""},
            {"act", "upload", "", ""},
            {"session_id", session, "", ""},
            {"file_num", "1", "", ""},
            {"file1", content, name, "application/octet-stream"}};
}

httplib::Params DownloadForm(const std::string& session, const std::string& name) {
    return {{"x", "kivStuff"}, {"act", "download"}, {"session_id", session}, {"filename", name}};
}

Form With(Form form, const httplib::MultipartFormData& extra) {
    form.insert(form.begin(), extra);
    return form;
}

// Every file under the folder, relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A service that answers before reading a whole request makes the client write into a closed
// connection: that must fail the case, not end the test program.
void IgnoreBrokenPipes() {
    signal(SIGPIPE, SIG_IGN);
}

}  // namespace

// The library sends the token in the URL it is given.
TEST(FileService, RoundTripThroughTheLibraryWithAToken) {
    FileServiceProcess service({"--token", "t0ken"});
    TempDir local;
    const std::string content = Binary(300000, 1);
    WriteFileBytes(local.File("minutes.bin"), content);
    OwnedHandle handle(ZEMTransferBegin());
    const std::string withToken = service.url() + "?token=t0ken";
    const char* url = withToken.c_str();
    ASSERT_EQ(
        ZEMKIVTransferFile(handle.get(), url, "conf-7", "", local.File("minutes.bin").c_str(), 1),
        1);
    EXPECT_EQ(ReadFileBytes(service.root() + "/conf-7/minutes.bin"), content);
    ASSERT_EQ(ZEMKIVTransferFile(handle.get(), url, "conf-7", "minutes.bin",
                                 local.File("copy.bin").c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(local.File("copy.bin")), content);
    // The URL download: a multipart post whose answer names the file.
    PostFields fields{{"act", "fetch"}, {"session_id", "conf-7"}, {"filename", "minutes.bin"}};
    char name[64];
    ASSERT_EQ(
        ZEMNormalDownloadFile(handle.get(), url, &fields, local.path().c_str(), name, sizeof name),
        1);
    EXPECT_STREQ(name, "minutes.bin");
    EXPECT_EQ(ReadFileBytes(local.File("minutes.bin")), content);

    const auto stopped = service.Stop();
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_EQ(stopped.out.substr(stopped.out.find('\n') + 1), "stopped\n");
}

TEST(FileService, RefusesNamesThatLeaveTheFolder) {
    FileServiceProcess service;
    httplib::Client client("127.0.0.1", service.port());
    for (const std::string& bad :
         {""s, "."s, ".."s, "../outside"s, "a/b"s, "a\\b"s, "a\0b"s, "tab\there"s, "x\x7f"s}) {
        SCOPED_TRACE("name: " + bad);
        auto upload = client.Post("/files", UploadForm(bad, "f.txt", "data"));
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->status, 400);
        EXPECT_EQ(upload->body.rfind("ERROR", 0), 0u) << upload->body;
        for (const auto& form : {DownloadForm(bad, "f.txt"), DownloadForm("s", bad)}) {
            auto download = client.Post("/files", form);
            ASSERT_TRUE(download);
            EXPECT_EQ(download->status, 400);
        }
    }
    // The stored name is the client path's last part, whichever separator it uses.
    struct Case {
        const char* path;
        int status;
    };
    for (const Case& row : {Case{"..\\..\\evil.txt", 200}, Case{"../../evil.txt", 200},
                            Case{"C:\\data\\evil.txt", 200}, Case{"C:\\data\\..", 400},
                            Case{"dir/", 400}, Case{"dir/.", 400}}) {
        SCOPED_TRACE(row.path);
        auto upload = client.Post("/files", UploadForm("s", row.path, "data"));
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->status, row.status);
    }
    EXPECT_EQ(FilesUnder(service.root()), std::vector<std::string>{"s/evil.txt"});
    auto missing = client.Post("/files", DownloadForm("s", "absent.txt"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    auto unknownAct = client.Post("/files", httplib::Params{{"x", "kivStuff"}, {"act", "list"}});
    ASSERT_TRUE(unknownAct);
    EXPECT_EQ(unknownAct->status, 400);
}

TEST(FileService, ConcurrentUploadsToOneSession) {
    FileServiceProcess service;
    TempDir local;
    constexpr int kUploads = 6;
    std::vector<std::string> contents;
    for (int i = 0; i < kUploads; ++i) {
        // Each under its own name, and all of them also as "shared.bin".
        contents.push_back(Binary(200000 + static_cast<std::size_t>(i) * 1000, i));
        fs::create_directory(local.File(std::to_string(i)));
        WriteFileBytes(local.File("own" + std::to_string(i)), contents.back());
        WriteFileBytes(local.File(std::to_string(i) + "/shared.bin"), contents.back());
    }
    std::vector<std::thread> uploaders;
    std::atomic<int> accepted{0};
    for (int i = 0; i < kUploads; ++i) {
        uploaders.emplace_back([&, i] {
            OwnedHandle handle(ZEMTransferBegin());
            for (const std::string& path : {local.File("own" + std::to_string(i)),
                                            local.File(std::to_string(i) + "/shared.bin")}) {
                accepted += ZEMKIVTransferFile(handle.get(), service.url().c_str(), "busy", "",
                                               path.c_str(), 1);
            }
        });
    }
    for (auto& uploader : uploaders) uploader.join();
    EXPECT_EQ(accepted, 2 * kUploads);
    for (int i = 0; i < kUploads; ++i) {
        EXPECT_EQ(ReadFileBytes(service.root() + "/busy/own" + std::to_string(i)), contents[i]);
    }
    // One whole upload won; none is mixed with another, and nothing staged is left behind.
    const std::string shared = ReadFileBytes(service.root() + "/busy/shared.bin");
    EXPECT_NE(std::find(contents.begin(), contents.end(), shared), contents.end());
    EXPECT_EQ(FilesUnder(service.root()).size(), static_cast<std::size_t>(kUploads + 1));
}

TEST(FileService, LimitsRefuseTheWholeRequestAndStoreNothing) {
    using Send = std::function<httplib::Result(httplib::Client&)>;
    auto post = [](const auto& form) -> Send {  // multipart or urlencoded
        return [form](httplib::Client& client) { return client.Post("/files", form); };
    };
    auto upload = [&](const std::string& session, std::size_t size) {
        return post(UploadForm(session, "f.bin", Binary(size, 3)));
    };
    const Send unknownLength = [](httplib::Client& client) {
        auto provider = [](std::size_t, httplib::DataSink& sink) {
            sink.write("act=x", 5);
            sink.done();
            return true;
        };
        return client.Post("/files", provider, "application/x-www-form-urlencoded");
    };
    const std::string longName(65, 'n');
    const auto withNote = post(With(UploadForm("s", "f.bin", "data"), {"note", "x", "", ""}));
    const auto withLongName = post(With(UploadForm("s", "f.bin", "data"), {longName, "x", "", ""}));
    const auto fiveFields = post(httplib::Params{
        {"act", "download"}, {"session_id", "old"}, {"filename", "a.bin"}, {"x", "y"}, {"z", "1"}});
    struct Case {
        const char* name;
        std::vector<std::string> options;
        Send send;
        int status;
        std::string stored;  // the file a 200 adds
    };
    // clang-format off
    const Case cases[] = {
        {"body over the request limit", {"--max-request", "1MiB"}, upload("s", 2000000), 413, ""},
        {"body of unknown length", {}, unknownLength, 411, ""},
        {"parts over the limit", {"--max-parts", "5"}, withNote, 413, ""},
        {"parts at the limit", {"--max-parts", "5"}, upload("s", 10), 200, "s/f.bin"},
        {"part name over the field limit", {"--max-field", "64"}, withLongName, 413, ""},
        {"part value over the field limit", {"--max-field", "64"}, upload(longName, 10), 413, ""},
        {"urlencoded value over it", {"--max-field", "64"}, post(DownloadForm("old", longName)), 413, ""},
        {"urlencoded fields over the part limit", {"--max-parts", "4"}, fiveFields, 413, ""},
        // Refused part-way through the body, which is still read to its end.
        {"file over the upload limit", {"--max-upload", "1MiB", "--max-request", "8MiB"}, upload("s", 3000000), 413, ""},
        {"file at the upload limit", {"--max-upload", "1MiB"}, upload("s", 1048576), 200, "s/f.bin"},
        {"new session past the limit", {"--max-sessions", "1"}, upload("s", 10), 507, ""},
        {"known session at the limit", {"--max-sessions", "1"}, upload("old", 10), 200, "old/f.bin"},
        {"upload past the disk limit", {"--max-disk", "50000"}, upload("old", 20000), 507, ""},
        {"upload within the disk limit", {"--max-disk", "50000"}, upload("old", 5000), 200, "old/f.bin"},
    };
    // clang-format on
    IgnoreBrokenPipes();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FileServiceProcess service(row.options, [](const std::string& root) {
            fs::create_directory(root + "/old");
            WriteFileBytes(root + "/old/a.bin", Binary(40000, 2));
        });
        httplib::Client client("127.0.0.1", service.port());
        auto answer = row.send(client);
        ASSERT_TRUE(answer) << httplib::to_string(answer.error());
        EXPECT_EQ(answer->status, row.status) << answer->body;
        EXPECT_EQ(answer->body.rfind(row.status == 200 ? "OK" : "ERROR", 0), 0u) << answer->body;
        std::vector<std::string> expected{"old/a.bin", row.stored};
        if (row.stored.empty()) expected.pop_back();
        EXPECT_EQ(FilesUnder(service.root()), expected);
    }
}

TEST(FileService, EveryRequestNeedsTheTokenWhenOneIsSet) {
    TempDir secrets;
    WriteFileBytes(secrets.File("token"), "s3cret-token\nnot part of it\n");
    FileServiceProcess service({"--token-file", secrets.File("token")},
                               [](const std::string& root) {
                                   fs::create_directory(root + "/t");
                                   WriteFileBytes(root + "/t/known.bin", "known bytes");
                               });
    struct Case {
        const char* name;
        std::string query, bearer;
        std::size_t uploadSize;
        int status;
    };
    const Case cases[] = {
        {"no token", "", "", 10, 403},
        // Refused before the body is read, and still answered rather than reset.
        {"wrong token, large body", "?token=wrong", "", 4000000, 403},
        {"the token's first part", "?token=s3cret", "", 10, 403},
        {"the token and more", "?token=s3cret-token2", "", 10, 403},
        {"wrong bearer", "", "s3cret-tokeN", 10, 403},
        {"token in the URL", "?token=s3cret-token", "", 10, 200},
        {"token as bearer", "", "s3cret-token", 10, 200},
    };
    std::vector<std::string> expected{"t/known.bin"};
    IgnoreBrokenPipes();
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        httplib::Client client("127.0.0.1", service.port());
        if (!row.bearer.empty()) client.set_bearer_token_auth(row.bearer);
        const std::string name = std::string(row.name) + ".bin";
        const std::string path = "/files" + row.query;
        auto upload = client.Post(path, UploadForm("t", name, Binary(row.uploadSize, 1)));
        ASSERT_TRUE(upload) << httplib::to_string(upload.error());
        EXPECT_EQ(upload->status, row.status) << upload->body;
        if (row.status == 200) expected.push_back("t/" + name);
        auto fetch = client.Post(path, DownloadForm("t", "known.bin"));
        ASSERT_TRUE(fetch);
        EXPECT_EQ(fetch->status, row.status);
        EXPECT_EQ(fetch->body == "known bytes", row.status == 200) << fetch->body;
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesUnder(service.root()), expected);
}

TEST(FileService, StartUpClearsStagedFilesAndWarnsWhenOpenBeyondLoopback) {
    FileServiceProcess service({}, [](const std::string& root) {
        WriteFileBytes(root + "/.upload-Ab12Cd", "half an upload");
        fs::create_directory(root + "/old");
        WriteFileBytes(root + "/old/.upload-kept", "a session's own file");
    });
    EXPECT_EQ(FilesUnder(service.root()), std::vector<std::string>{"old/.upload-kept"});
    const auto stopped = service.Stop();
    EXPECT_EQ(stopped.err,
              "zemuser-file-service: removed 1 unfinished upload(s) left by an earlier run\n");

    // 192.0.2.1, a documentation address, is not this machine's: the service says what it
    // thinks of the address, then cannot listen there, so nothing is ever open beyond loopback.
    TempDir root;
    for (const bool withToken : {false, true}) {
        SCOPED_TRACE(withToken ? "with a token" : "without a token");
        std::vector<std::string> argv{tools_testing::FileServiceProgram(),
                                      "--root",
                                      root.path(),
                                      "--host",
                                      "192.0.2.1",
                                      "--port",
                                      "0"};
        if (withToken) argv.insert(argv.end(), {"--token", "t0ken"});
        const auto result = tools_testing::RunProgram(argv);
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err.find("zemuser-file-service: warning: listening on 192.0.2.1") == 0,
                  !withToken)
            << result.err;
    }
}
