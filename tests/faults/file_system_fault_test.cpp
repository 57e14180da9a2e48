// The disk failing under the exports: a trace file and a download at the file size limit, a
// settings folder that cannot be made, an upload file that changes between the measuring of the
// body and the reading of the file. Transfers go on where they can; what they report matches
// what reached the disk or the server. Each row runs in a forked child, where limits and changed
// signals stay.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "fault_support.h"

namespace {

using namespace fault_testing;
namespace fs = std::filesystem;

constexpr rlim_t kFileSizeLimit = 4096;

struct Scene {
    const std::string small = PatternText(2000, 2), large = PatternText(64 * 1024, 3);
    const std::string content = PatternText(200 * 1024, 5);  // of the upload file
    // "/large" gives the large body, "/upload" takes an upload, anything else the small body.
    ScriptedServer server{[this](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        const std::string line = request.substr(0, request.find('\r'));
        if (request.empty()) return;
        connection.Send(HttpResponse(200, line.find("/upload") != std::string::npos  ? "OK"
                                          : line.find("/large") != std::string::npos ? large
                                                                                     : small));
    }};
    const std::string url = server.url("/small?with=a-longish-query-to-fill-the-trace");
    TempDir folder;
    const std::string trace = folder.File("trace.txt"), target = folder.File("target.bin");
    const std::string upload = folder.File("upload.bin");
    const PostFields none;
};

// The limit's signal is ignored, as a host that sets such a limit must do: at its default
// action the kernel ends the process at the first write past the limit, whoever writes.
int AtTheFileSizeLimit(const Scene& s) {
    ChildChecks check;
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    if (!check(setrlimit(RLIMIT_FSIZE, &limit) == 0)) return check.first;
    ZEMUser_SetTraceFile(s.trace.c_str());
    std::string buffer(4096, '\0');
    for (int i = 0; i < 300; ++i) {  // far more lines than the limit holds
        std::int32_t status = 0;
        check(ZEMUrlGet(s.url.c_str(), &status, &buffer[0], 4000, nullptr) == 2000);
    }
    check(buffer.compare(0, 2000, s.small) == 0);
    OwnedHandle handle(ZEMTransferBegin());
    const std::string large = s.server.url("/large"), cut = s.folder.File("large.bin");
    check(ZEMUrlTransferFile(handle.get(), large.c_str(), &s.none, cut.c_str(), 0) == 0);
    check(!FileExists(cut));  // no truncated file
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, s.target.c_str(), 0) == 1);
    return check.first;
}

// The HTTP/1.1 values cannot be held off (the folder would lie under a file, which even root
// cannot make); every transfer works all the same.
int WithUnwritableSettings(const Scene& s) {
    WriteFileBytes(s.upload, "a file");
    setenv("ZEMUSER_SETTINGS_DIR", (s.upload + "/settings").c_str(), 1);
    ChildChecks check;
    std::int32_t status = 0, length = 0;
    char* reply = nullptr;
    check(ZEMUrlGet3(s.url.c_str(), &status, &reply, &length, nullptr) == 2000);
    check(reply != nullptr && std::string(reply) == s.small);
    ZEMReleaseBuffer(reply);
    OwnedHandle handle(ZEMTransferBegin());
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, s.target.c_str(), 0) == 1);
    return check.first;
}

// The upload file is cut or grown to `size` once the body has measured it (the file is open),
// on the engine's own thread when the body's memory is taken.
int UploadResizedTo(const Scene& s, off_t size) {
    WriteFileBytes(s.upload, s.content);
    static std::pair<std::string, off_t> resize;
    resize = {s.upload, size};
    ThreadFaults().watchBytes = s.content.size();
    ThreadFaults().watchAction = [] {
        if (::truncate(resize.first.c_str(), resize.second) != 0) std::abort();
    };
    OwnedHandle handle(ZEMTransferBegin());
    const std::string url = s.server.url("/upload");
    return ZEMUrlTransferFile(handle.get(), url.c_str(), &s.none, s.upload.c_str(), 1) == 1 ? 0 : 1;
}

// The request still went out whole and well-formed, its part carrying `sent`.
void ExpectUploaded(const Scene& s, const std::string& sent) {
    const auto requests = s.server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(ParseRequest(requests[0]).body,
              TextPart("file_num", "1") + FilePart("file1", s.upload, &sent) + ClosingDelimiter());
}

struct Row {
    const char* name;
    std::function<int(const Scene&)> child;
    std::function<void(const Scene&)> afterwards;
};

// clang-format off
const Row kRows[] = {
    {"TraceAndDownloadAtTheFileSizeLimit", AtTheFileSizeLimit, [](const Scene& s) {
        EXPECT_EQ(fs::file_size(s.trace), kFileSizeLimit);  // filled up to the limit only
        EXPECT_EQ(ReadFileBytes(s.trace).rfind("ZEMUrlGet Result Code: 200\n", 0), 0u);
        EXPECT_EQ(ReadFileBytes(s.target), s.small); }},
    {"UnwritableSettingsLeaveTransfersWorking", WithUnwritableSettings,
     [](const Scene& s) { EXPECT_EQ(ReadFileBytes(s.target), s.small); }},
    {"UploadFileCutBeforeItIsRead", [](const Scene& s) { return UploadResizedTo(s, 1000); },
     [](const Scene& s) { ExpectUploaded(s, s.content.substr(0, 1000)); }},
    {"UploadFileGrownBeforeItIsRead", [](const Scene& s) { return UploadResizedTo(s, 512000); },
     [](const Scene& s) { ExpectUploaded(s, s.content); }},  // what was measured
};
// clang-format on

class FileSystemFaults : public ::testing::TestWithParam<Row> {};

TEST_P(FileSystemFaults, TransfersMatchWhatReachedTheDisk) {
    const Scene scene;
    const ChildEnd end = RunInChild([&] { return GetParam().child(scene); });
    ExpectChildChecksHeld(end);
    GetParam().afterwards(scene);
}

INSTANTIATE_TEST_SUITE_P(Disk, FileSystemFaults, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
