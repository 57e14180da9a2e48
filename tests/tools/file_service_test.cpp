// The reference file service, driven by the library as a host would and, for what the
// library never sends, by a plain HTTP client.
#include <gtest/gtest.h>
#include <httplib.h>
#include <zemuser.h>

#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "file_service_process.h"
#include "support/real_servers.h"

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;
using tools_testing::FileServiceProcess;

namespace {

struct HandleEnder {
    void operator()(void* handle) const { ZEMTransferEnd(handle); }
};
using Handle = std::unique_ptr<void, HandleEnder>;

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
    Handle handle(ZEMTransferBegin());

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
            Handle handle(ZEMTransferBegin());
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
