// The reference file service, driven by the library as a host would and, for what the
// library never sends, by a plain HTTP client.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <zemuser.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "file_service_process.h"
#include "program_run.h"
#include "support/library_helpers.h"
#include "support/real_servers.h"

namespace fs = std::filesystem;
using testing_support::OwnedHandle;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using tools_testing::FileServiceProcess;
using tools_testing::FileServiceProgram;
using tools_testing::RunProgram;

namespace {

std::string BinaryContent(std::size_t size, unsigned seed) {
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<char>((i * 31 + seed) >> 3);
    return content;
}

httplib::MultipartFormDataItems UploadForm(const std::string& session, const std::string& name,
                                           const std::string& content) {
    return {{"x", "kivStuff", "", ""},
            {"act", "upload", "", ""},
            {"session_id", session, "", ""},
            {"file_num", "1", "", ""},
            {"file1", content, name, "application/octet-stream"}};
}

httplib::Params DownloadForm(const std::string& session, const std::string& name) {
    return {{"x", "kivStuff"}, {"act", "download"}, {"session_id", session}, {"filename", name}};
}

httplib::MultipartFormDataItems With(httplib::MultipartFormDataItems form,
                                     const httplib::MultipartFormData& extra) {
    form.insert(form.begin(), extra);
    return form;
}

// A service that answers before reading the whole request and closes makes the client write
// into a closed connection: that must fail the case, not end the test program with SIGPIPE.
class PipeSignalBlocked {
  public:
    PipeSignalBlocked() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
    }
    ~PipeSignalBlocked() {
        const timespec noWait{};
        while (sigtimedwait(&pipe_, nullptr, &noWait) > 0) {
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }

  private:
    sigset_t pipe_;
    sigset_t before_;
};

// Every file under the folder, as paths relative to it.
std::vector<std::string> FilesUnder(const std::string& folder) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), folder).string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(FileService, RoundTripThroughTheLibrary) {
    FileServiceProcess service;
    TempDir local;
    const std::string content = BinaryContent(300000, 1);
    WriteFileBytes(local.File("minutes.bin"), content);
    OwnedHandle handle(ZEMTransferBegin());

    ASSERT_EQ(ZEMKIVTransferFile(handle.get(), service.url().c_str(), "conf-7", "",
                                 local.File("minutes.bin").c_str(), 1),
              1);
    EXPECT_EQ(ReadFileBytes(service.root() + "/conf-7/minutes.bin"), content);

    ASSERT_EQ(ZEMKIVTransferFile(handle.get(), service.url().c_str(), "conf-7", "minutes.bin",
                                 local.File("copy.bin").c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(local.File("copy.bin")), content);

    // The URL download: a multipart post whose answer names the file.
    PostFields fields{{"act", "fetch"}, {"session_id", "conf-7"}, {"filename", "minutes.bin"}};
    char name[64];
    ASSERT_EQ(ZEMNormalDownloadFile(handle.get(), service.url().c_str(), &fields,
                                    local.path().c_str(), name, sizeof name),
              1);
    EXPECT_STREQ(name, "minutes.bin");
    EXPECT_EQ(ReadFileBytes(local.File("minutes.bin")), content);

    auto stopped = service.Stop();
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_NE(stopped.out.find("stopped"), std::string::npos);
}

TEST(FileService, RefusesNamesThatLeaveTheFolder) {
    FileServiceProcess service;
    httplib::Client client("127.0.0.1", service.port());
    const std::vector<std::string> badNames = {
        "", ".", "..", "../outside", "a/b", "a\\b", std::string("a\0b", 3), "tab\there", "x\x7f"};

    for (const std::string& bad : badNames) {
        SCOPED_TRACE("name: " + bad);
        auto upload = client.Post("/files", UploadForm(bad, "f.txt", "data"));
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->status, 400);
        EXPECT_EQ(upload->body.rfind("ERROR", 0), 0u) << upload->body;

        auto bySession = client.Post("/files", DownloadForm(bad, "f.txt"));
        ASSERT_TRUE(bySession);
        EXPECT_EQ(bySession->status, 400);
        auto byName = client.Post("/files", DownloadForm("s", bad));
        ASSERT_TRUE(byName);
        EXPECT_EQ(byName->status, 400);
    }
    // The stored name is the client path's last part, whichever separator it uses.
    for (const char* path : {"..\\..\\evil.txt", "../../evil.txt", "C:\\data\\evil.txt"}) {
        auto upload = client.Post("/files", UploadForm("s", path, "data"));
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->body, "OK");
    }
    for (const char* path : {"C:\\data\\..", "dir/", "dir/."}) {
        auto upload = client.Post("/files", UploadForm("s", path, "data"));
        ASSERT_TRUE(upload);
        EXPECT_EQ(upload->status, 400) << path;
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
        contents.push_back(BinaryContent(200000 + static_cast<std::size_t>(i) * 1000, i));
        // Each under its own name in its own folder, and all of them also as "shared.bin".
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
    auto upload = [](const std::string& session, std::size_t size) -> Send {
        return [=](httplib::Client& client) {
            return client.Post("/files", UploadForm(session, "f.bin", BinaryContent(size, 3)));
        };
    };
    // A multipart or urlencoded form.
    auto post = [](const auto& form) -> Send {
        return [form](httplib::Client& client) { return client.Post("/files", form); };
    };
    const std::string longName(65, 'n');
    struct Case {
        const char* name;
        std::vector<std::string> options;
        Send send;
        int status;
        std::string stored;  // the file a 200 adds under the root
    };
    const std::vector<Case> cases = {
        {"body over --max-request", {"--max-request", "1MiB"}, upload("s", 2000000), 413, ""},
        {"body of unknown length",
         {},
         [](httplib::Client& client) {
             return client.Post(
                 "/files",
                 [](std::size_t, httplib::DataSink& sink) {
                     sink.write("act=download", 12);
                     sink.done();
                     return true;
                 },
                 "application/x-www-form-urlencoded");
         },
         411,
         ""},
        {"more parts than --max-parts",
         {"--max-parts", "5"},
         post(With(UploadForm("s", "f.bin", "data"), {"note", "x", "", ""})),
         413,
         ""},
        {"as many parts as --max-parts", {"--max-parts", "5"}, upload("s", 10), 200, "s/f.bin"},
        {"part name over --max-field",
         {"--max-field", "64"},
         post(With(UploadForm("s", "f.bin", "data"), {longName, "x", "", ""})),
         413,
         ""},
        {"part value over --max-field", {"--max-field", "64"}, upload(longName, 10), 413, ""},
        {"urlencoded value over --max-field",
         {"--max-field", "64"},
         post(DownloadForm("old", longName)),
         413,
         ""},
        {"urlencoded fields over --max-parts",
         {"--max-parts", "4"},
         post(httplib::Params{{"x", "kivStuff"},
                              {"act", "download"},
                              {"session_id", "old"},
                              {"filename", "a.bin"},
                              {"note", "x"}}),
         413,
         ""},
        // Refused part-way through the body, which is still read to its end.
        {"file over --max-upload",
         {"--max-upload", "1MiB", "--max-request", "8MiB"},
         upload("s", 3000000),
         413,
         ""},
        {"file at --max-upload", {"--max-upload", "1MiB"}, upload("s", 1048576), 200, "s/f.bin"},
        {"new session past --max-sessions", {"--max-sessions", "1"}, upload("s", 10), 507, ""},
        {"known session at --max-sessions",
         {"--max-sessions", "1"},
         upload("old", 10),
         200,
         "old/f.bin"},
        {"upload past --max-disk", {"--max-disk", "50000"}, upload("old", 20000), 507, ""},
        {"upload within --max-disk",
         {"--max-disk", "50000"},
         upload("old", 5000),
         200,
         "old/f.bin"},
    };
    PipeSignalBlocked pipeSignalBlocked;
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        FileServiceProcess service(row.options, [](const std::string& root) {
            fs::create_directory(root + "/old");
            WriteFileBytes(root + "/old/a.bin", BinaryContent(40000, 2));
        });
        httplib::Client client("127.0.0.1", service.port());
        auto answer = row.send(client);
        ASSERT_TRUE(answer) << httplib::to_string(answer.error());
        EXPECT_EQ(answer->status, row.status) << answer->body;
        std::vector<std::string> expected{"old/a.bin"};
        if (row.stored.empty()) {
            EXPECT_EQ(answer->body.rfind("ERROR", 0), 0u) << answer->body;
        } else {
            expected.push_back(row.stored);
            std::sort(expected.begin(), expected.end());
        }
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
        std::string query;
        std::string bearer;
        std::size_t uploadSize;
        int status;
    };
    const std::vector<Case> cases = {
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
    PipeSignalBlocked pipeSignalBlocked;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& row = cases[i];
        SCOPED_TRACE(row.name);
        httplib::Client client("127.0.0.1", service.port());
        if (!row.bearer.empty()) client.set_bearer_token_auth(row.bearer);
        const std::string name = std::to_string(i) + ".bin";
        const std::string path = "/files" + row.query;
        auto upload = client.Post(path, UploadForm("t", name, BinaryContent(row.uploadSize, 1)));
        ASSERT_TRUE(upload) << httplib::to_string(upload.error());
        EXPECT_EQ(upload->status, row.status) << upload->body;
        if (row.status == 200) expected.push_back("t/" + name);

        auto fetch = client.Post(path, DownloadForm("t", "known.bin"));
        ASSERT_TRUE(fetch);
        EXPECT_EQ(fetch->status, row.status);
        EXPECT_EQ(fetch->body == "known bytes", row.status == 200) << fetch->body;
        auto get = client.Get(path);
        ASSERT_TRUE(get);
        EXPECT_EQ(get->status, row.status == 200 ? 400 : 403);
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(FilesUnder(service.root()), expected);

    // The library sends the token in the URL it is given.
    TempDir local;
    WriteFileBytes(local.File("via-library.bin"), "library bytes");
    OwnedHandle handle(ZEMTransferBegin());
    const std::string source = local.File("via-library.bin");
    EXPECT_EQ(ZEMKIVTransferFile(handle.get(), (service.url() + "?token=wrong").c_str(), "lib", "",
                                 source.c_str(), 1),
              0);
    EXPECT_FALSE(fs::exists(service.root() + "/lib"));
    ASSERT_EQ(ZEMKIVTransferFile(handle.get(), (service.url() + "?token=s3cret-token").c_str(),
                                 "lib", "", source.c_str(), 1),
              1);
    EXPECT_EQ(ReadFileBytes(service.root() + "/lib/via-library.bin"), "library bytes");
}

TEST(FileService, StartUpClearsStagedFilesAndWarnsWhenOpenBeyondLoopback) {
    FileServiceProcess service({}, [](const std::string& root) {
        WriteFileBytes(root + "/.upload-Ab12Cd", "half an upload");
        fs::create_directory(root + "/old");
        WriteFileBytes(root + "/old/.upload-kept", "a session's own file");
    });
    EXPECT_EQ(FilesUnder(service.root()), std::vector<std::string>{"old/.upload-kept"});
    const auto stopped = service.Stop();
    EXPECT_NE(stopped.err.find("removed 1 unfinished upload"), std::string::npos) << stopped.err;
    EXPECT_EQ(stopped.err.find("warning"), std::string::npos) << stopped.err;

    // 192.0.2.1, a documentation address, is not this machine's: the service says what it
    // thinks of the address, then cannot listen there, so nothing is ever open beyond loopback.
    TempDir root;
    struct Case {
        const char* name;
        std::vector<std::string> options;
        bool warns;
    };
    const std::vector<Case> cases = {{"no token", {}, true},
                                     {"with a token", {"--token", "t0ken"}, false}};
    for (const Case& row : cases) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> argv{FileServiceProgram(), "--root", root.path(), "--host",
                                      "192.0.2.1",          "--port", "0"};
        argv.insert(argv.end(), row.options.begin(), row.options.end());
        const auto result = RunProgram(argv, std::chrono::seconds(10));
        EXPECT_EQ(result.exitCode, 1) << result.err;
        EXPECT_EQ(result.err.find("warning: listening on 192.0.2.1") != std::string::npos,
                  row.warns)
            << result.err;
    }
}
