// The disk failing under the exports: a trace file that cannot grow, a settings folder and a
// download folder that cannot be written, an upload file that changes between the measuring of
// the body and the reading of the file. Transfers go on where they can; what they report matches
// what reached the disk or the server. Each row runs in a forked child, where resource limits,
// lost privileges and changed signals stay.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "allocation_faults.h"
#include "fault_support.h"

namespace {

using namespace fault_testing;
namespace fs = std::filesystem;

// The exit code of a child that could not give up root's right to write anywhere.
constexpr int kCannotDropOverride = 77;
constexpr rlim_t kFileSizeLimit = 4096;

struct Scene {
    Scene() {
        fs::create_directory(readOnly);
        ::chmod(readOnly.c_str(), 0555);
    }
    const std::string small = PatternText(2000, 2), large = PatternText(64 * 1024, 3);
    const std::string content = PatternText(200 * 1024, 5);  // of the upload file
    // "/large" gives the large body, "/upload" takes an upload, anything else the small body.
    ScriptedServer server{[this](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        const std::string line = request.substr(0, request.find('\r'));
        if (line.find("/large") != std::string::npos) {
            connection.Send(HttpResponse(200, large));
        } else if (line.find("/upload") != std::string::npos) {
            connection.Send(HttpResponse(200, "OK"));
        } else if (!request.empty()) {
            connection.Send(HttpResponse(
                200, small, {"Content-Disposition: attachment; filename=\"named.txt\""}));
        }
    }};
    const std::string url = server.url("/small?with=a-longish-query-to-fill-the-trace");
    TempDir folder;
    const std::string readOnly = folder.File("ro"), trace = folder.File("trace.txt");
    const std::string target = folder.File("target.bin"), upload = folder.File("upload.bin");
    const PostFields none;
};

// Gives up the right to write where the file permissions forbid it (a test run as root would
// otherwise write into a read-only folder); true when `readOnly` can no longer be written.
bool DropFileOverride(const std::string& readOnly) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        data[capability / 32].effective &= ~(1u << (capability % 32));
    }
    if (syscall(SYS_capset, &header, data) != 0) return false;
    const std::string probe = readOnly + "/probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd < 0 || (::close(fd), ::unlink(probe.c_str()), false);
}

// One fetch into memory and one download, both whole.
void FetchAndDownload(const Scene& s, ChildChecks& check) {
    std::int32_t status = 0, length = 0;
    char* reply = nullptr;
    check(ZEMUrlGet3(s.url.c_str(), &status, &reply, &length, nullptr) == 2000);
    check(reply != nullptr && std::string(reply) == s.small);
    ZEMReleaseBuffer(reply);
    OwnedHandle handle(ZEMTransferBegin());
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, s.target.c_str(), 0) == 1);
    check(ReadFileBytes(s.target) == s.small);
}

int TraceOnAFullDevice(const Scene& s) {
    ChildChecks check;
    ZEMUser_SetTraceFile("/dev/full");
    FetchAndDownload(s, check);
    // A failure report, whose lines are lost the same way.
    const std::string refused = "http://127.0.0.1:" + std::to_string(FreeLoopbackPort()) + "/";
    std::int32_t status = 0;
    check(ZEMUrlGet(refused.c_str(), &status, nullptr, 0, nullptr) == -1);
    return check.Result();
}

// The limit's signal is ignored, as a host that sets such a limit must do: at its default
// action the kernel ends the process at the first write past the limit, whoever writes.
int AtTheFileSizeLimit(const Scene& s) {
    ChildChecks check;
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kFileSizeLimit, kFileSizeLimit};
    if (!check(setrlimit(RLIMIT_FSIZE, &limit) == 0)) return check.Result();
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
    return check.Result();
}

// The HTTP/1.1 values cannot be held off; every transfer works all the same.
int WithReadOnlySettings(const Scene& s) {
    if (!DropFileOverride(s.readOnly)) return kCannotDropOverride;
    setenv("ZEMUSER_SETTINGS_DIR", s.readOnly.c_str(), 1);
    ChildChecks check;
    FetchAndDownload(s, check);
    return check.Result();
}

int IntoAReadOnlyFolder(const Scene& s) {
    if (!DropFileOverride(s.readOnly)) return kCannotDropOverride;
    ZEMUser_SetTraceFile(s.trace.c_str());
    const std::string target = s.readOnly + "/file.bin";
    const std::u16string wide(target.begin(), target.end());
    OwnedHandle handle(ZEMTransferBegin());
    char name[32] = {};
    ChildChecks check;
    check(ZEMUrlTransferFile(handle.get(), s.url.c_str(), &s.none, target.c_str(), 0) == 0);
    check(ZEMUrlTransferFileW(handle.get(), s.url.c_str(), &s.none, wide.c_str(), 0) == 0);
    check(ZEMNormalDownloadFile(handle.get(), s.url.c_str(), &s.none, s.readOnly.c_str(), name,
                                sizeof name) == 0);
    check(std::string(name) == "named.txt");
    check(ZEMKIVTransferFile(handle.get(), s.url.c_str(), "S", "f", target.c_str(), 0) == 0);
    return check.Result();
}

// The upload file is cut or grown once the body has measured it (the file is open), on the
// engine's own thread when the body's memory is taken.
int UploadResizedTo(const Scene& s, off_t size) {
    WriteFileBytes(s.upload, s.content);
    static std::pair<std::string, off_t> resize;
    resize = {s.upload, size};
    BeforeLargeAllocation(s.content.size(), [] {
        if (::truncate(resize.first.c_str(), resize.second) != 0) std::abort();
    });
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

const Row kRows[] = {
    {"TraceOnAFullDeviceLosesLinesNotTransfers", TraceOnAFullDevice,
     [](const Scene& s) { EXPECT_EQ(ReadFileBytes(s.target), s.small); }},
    {"TraceAndDownloadAtTheFileSizeLimit", AtTheFileSizeLimit,
     [](const Scene& s) {
         EXPECT_EQ(fs::file_size(s.trace), kFileSizeLimit);  // filled up to the limit only
         EXPECT_EQ(ReadFileBytes(s.trace).rfind("ZEMUrlGet Result Code: 200\n", 0), 0u);
         EXPECT_EQ(ReadFileBytes(s.target), s.small);
     }},
    {"ReadOnlySettingsFolderLeavesTransfersWorking", WithReadOnlySettings,
     [](const Scene& s) {
         EXPECT_EQ(ReadFileBytes(s.target), s.small);
         EXPECT_TRUE(fs::is_empty(s.readOnly));
     }},
    {"DownloadIntoAReadOnlyFolderFailsWithNoFile", IntoAReadOnlyFolder,
     [](const Scene& s) {
         EXPECT_TRUE(fs::is_empty(s.readOnly));
         const std::string trace = ReadFileBytes(s.trace);
         EXPECT_NE(trace.find("Create file " + s.readOnly + "/file.bin error!\n"),
                   std::string::npos)
             << trace;
         EXPECT_NE(trace.find("Create file " + s.readOnly + "/named.txt error!\n"),
                   std::string::npos);
     }},
    {"UploadFileCutBeforeItIsRead", [](const Scene& s) { return UploadResizedTo(s, 1000); },
     [](const Scene& s) { ExpectUploaded(s, s.content.substr(0, 1000)); }},
    {"UploadFileGrownBeforeItIsReadSendsWhatWasMeasured",
     [](const Scene& s) { return UploadResizedTo(s, 500 * 1024); },
     [](const Scene& s) { ExpectUploaded(s, s.content); }},
};

class FileSystemFaults : public ::testing::TestWithParam<Row> {};

TEST_P(FileSystemFaults, TransfersMatchWhatReachedTheDisk) {
    const Scene scene;
    const ChildEnd end = RunInChild([&] { return GetParam().child(scene); });
    if (end.exited && end.code == kCannotDropOverride) {
        GTEST_SKIP() << "cannot give up the right to write into read-only folders";
    }
    ASSERT_TRUE(end.exited) << end.Describe();
    EXPECT_EQ(end.code, 0) << "the number of the child's first failed check";
    GetParam().afterwards(scene);
}

INSTANTIATE_TEST_SUITE_P(Disk, FileSystemFaults, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
