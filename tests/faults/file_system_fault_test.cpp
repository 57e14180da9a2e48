// The disk failing under the exports: a trace file that cannot grow, a settings folder and a
// download folder that cannot be written, and an upload file that changes between the moment
// its size is measured and the moment it is read. Transfers go on where they can; what they
// report matches what reached the disk or the server.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "allocation_faults.h"
#include "fault_support.h"

namespace {

using namespace fault_testing;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

// Exit codes of the children below: 0 when every check held, this one when the child could not
// take the conditions the test needs (a test run as root that cannot give up its override).
constexpr int kCannotDropOverride = 77;

std::vector<std::string> FolderContent(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

bool CanCreateFileIn(const std::string& folder) {
    const std::string probe = folder + "/probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd < 0) return false;
    ::close(fd);
    ::unlink(probe.c_str());
    return true;
}

// A trace file on a device that is always full: every line fails, every transfer still works.
TEST(FileSystemFaults, TraceOnAFullDeviceLosesLinesNotTransfers) {
    const std::string body = PatternText(3000, 1);
    ScriptedServer server(Answer(HttpResponse(200, body)));
    TempDir folder;
    ZEMUser_SetTraceLevel(0);
    ZEMUser_SetTraceFile("/dev/full");
    char* reply = nullptr;
    std::int32_t length = 0;
    std::int32_t status = 0;
    EXPECT_EQ(ZEMUrlGet3(server.url("/a").c_str(), &status, &reply, &length, nullptr), 3000);
    EXPECT_EQ(std::string(reply != nullptr ? reply : ""), body);
    ZEMReleaseBuffer(reply);
    OwnedHandle handle(ZEMTransferBegin());
    const PostFields none;
    const std::string target = folder.File("d.bin");
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url("/d").c_str(), &none, target.c_str(), 0),
              1);
    EXPECT_EQ(ReadFileBytes(target), body);
    // A failure report, whose lines are lost the same way.
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testing_support::FreeLoopbackPort()) + "/gone";
    EXPECT_EQ(ZEMUrlGet(refused.c_str(), &status, nullptr, 0, nullptr), -1);
    ZEMUser_SetTraceFile(nullptr);
}

// The trace file reaches the process's file size limit: the lines past it are lost, the
// transfers go on, and a download that meets the limit fails and leaves no truncated file. The
// limit's signal is ignored, as a host that sets such a limit must do: at its default action
// the kernel ends the process at the first write past the limit, whoever writes.
TEST(FileSystemFaults, TraceAndDownloadAtTheFileSizeLimit) {
    constexpr rlim_t kLimit = 4096;
    const std::string small = PatternText(2000, 2);
    const std::string large = PatternText(64 * 1024, 3);
    ScriptedServer server([&](ScriptedConnection& connection) {
        const std::string request = connection.ReadRequest();
        if (request.empty()) return;
        const bool wantsLarge = request.find("/large") != std::string::npos;
        connection.Send(HttpResponse(200, wantsLarge ? large : small));
    });
    TempDir folder;
    const std::string tracePath = folder.File("trace.txt");
    const std::string target = folder.File("large.bin");
    const std::string smallTarget = folder.File("small.bin");
    const std::string url = server.url("/small?with=a-longish-query-to-fill-the-trace");
    const std::string largeUrl = server.url("/large");

    const ChildEnd end = RunInChild([&]() -> int {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLimit, kLimit};
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
        ZEMUser_SetTraceLevel(0);
        ZEMUser_SetTraceFile(tracePath.c_str());
        std::string buffer(4096, '\0');
        for (int i = 0; i < 300; ++i) {
            std::int32_t status = 0;
            if (ZEMUrlGet(url.c_str(), &status, &buffer[0], 4000, nullptr) != 2000) return 3;
            if (buffer.compare(0, 2000, small) != 0) return 4;
        }
        OwnedHandle handle(ZEMTransferBegin());
        const PostFields none;
        if (ZEMUrlTransferFile(handle.get(), largeUrl.c_str(), &none, target.c_str(), 0) != 0) {
            return 5;
        }
        if (FileExists(target)) return 6;
        if (ZEMUrlTransferFile(handle.get(), url.c_str(), &none, smallTarget.c_str(), 0) != 1) {
            return 7;
        }
        ZEMUser_SetTraceFile(nullptr);
        return 0;
    });
    ASSERT_TRUE(end.exited) << end.Describe();
    EXPECT_EQ(end.code, 0);
    EXPECT_EQ(fs::file_size(tracePath), kLimit);  // filled up to the limit, no further
    EXPECT_EQ(ReadFileBytes(smallTarget), small);
    const std::string trace = ReadFileBytes(tracePath);
    EXPECT_EQ(trace.rfind("ZEMUrlGet Result Code: 200\n", 0), 0u);
}

// The user's settings cannot be written (a read-only folder, or one that cannot be made):
// the HTTP/1.1 values are not held off, and every transfer works all the same.
TEST(FileSystemFaults, UnwritableSettingsFolderLeavesTransfersWorking) {
    const std::string body = PatternText(1500, 4);
    ScriptedServer server(Answer(HttpResponse(200, body)));
    TempDir folder;
    const std::string readOnly = folder.File("settings");
    fs::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    const std::string target = folder.File("fetched.bin");
    const std::string url = server.url("/s");

    for (const std::string& settings : {readOnly, readOnly + "/not/yet/made"}) {
        SCOPED_TRACE(settings);
        const ChildEnd end = RunInChild([&]() -> int {
            if (!DropFileOverride() || CanCreateFileIn(readOnly)) return kCannotDropOverride;
            setenv("ZEMUSER_SETTINGS_DIR", settings.c_str(), 1);
            std::int32_t status = 0;
            char* reply = nullptr;
            std::int32_t length = 0;
            if (ZEMUrlGet3(url.c_str(), &status, &reply, &length, nullptr) != 1500) return 2;
            ZEMReleaseBuffer(reply);
            TransferHandle handle = ZEMTransferBegin();
            if (handle == nullptr) return 3;
            const PostFields none;
            const int32_t done = ZEMUrlTransferFile(handle, url.c_str(), &none, target.c_str(), 0);
            ZEMTransferEnd(handle);
            return done == 1 ? 0 : 4;
        });
        if (end.exited && end.code == kCannotDropOverride) {
            GTEST_SKIP() << "cannot give up the right to write into read-only folders";
        }
        ASSERT_TRUE(end.exited) << end.Describe();
        EXPECT_EQ(end.code, 0);
        EXPECT_EQ(ReadFileBytes(target), body);
        EXPECT_TRUE(FolderContent(readOnly).empty());
        fs::remove(target);
    }
}

// A download into a folder that cannot be written: every download export gives 0, nothing is
// created, and the trace names the file that could not be made.
TEST(FileSystemFaults, DownloadIntoAReadOnlyFolderFails) {
    ScriptedServer server(Answer(
        HttpResponse(200, "content", {"Content-Disposition: attachment; filename=\"named.txt\""})));
    TempDir folder;
    const std::string readOnly = folder.File("ro");
    fs::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    const std::string tracePath = folder.File("trace.txt");
    const std::string target = readOnly + "/file.bin";
    const std::u16string wideTarget(target.begin(), target.end());
    const std::string url = server.url("/d");

    const ChildEnd end = RunInChild([&]() -> int {
        if (!DropFileOverride() || CanCreateFileIn(readOnly)) return kCannotDropOverride;
        ZEMUser_SetTraceLevel(0);
        ZEMUser_SetTraceFile(tracePath.c_str());
        OwnedHandle handle(ZEMTransferBegin());
        const PostFields none;
        char name[32] = {};
        int failures = 0;
        failures += ZEMUrlTransferFile(handle.get(), url.c_str(), &none, target.c_str(), 0);
        failures += ZEMUrlTransferFileW(handle.get(), url.c_str(), &none, wideTarget.c_str(), 0);
        failures += ZEMNormalDownloadFile(handle.get(), url.c_str(), &none, readOnly.c_str(), name,
                                          sizeof name);
        failures += ZEMKIVTransferFile(handle.get(), url.c_str(), "S", "f", target.c_str(), 0);
        ZEMUser_SetTraceFile(nullptr);
        return failures == 0 && std::string(name) == "named.txt" ? 0 : 2;
    });
    if (end.exited && end.code == kCannotDropOverride) {
        GTEST_SKIP() << "cannot give up the right to write into read-only folders";
    }
    ASSERT_TRUE(end.exited) << end.Describe();
    EXPECT_EQ(end.code, 0);
    EXPECT_TRUE(FolderContent(readOnly).empty());
    const std::string trace = ReadFileBytes(tracePath);
    EXPECT_NE(trace.find("Create file " + target + " error!\n"), std::string::npos) << trace;
    EXPECT_NE(trace.find("Create file " + readOnly + "/named.txt error!\n"), std::string::npos);
    EXPECT_EQ(trace.find("ZEMUrlDownloadFile Result: 1"), std::string::npos);
}

// What happens to an upload file once the request body has measured it (the file is open),
// run on the engine's own thread at the moment the body's memory is taken.
struct FileChange {
    std::string path;
    std::size_t cutTo = 0;    // the length it is cut to
    std::size_t grownBy = 0;  // when not 0: it grows by this much instead
    bool remove = false;
};

void ChangeFile(void* context) {
    const FileChange& change = *static_cast<const FileChange*>(context);
    if (change.remove) {
        ::unlink(change.path.c_str());
    } else if (change.grownBy != 0) {
        const int fd = ::open(change.path.c_str(), O_WRONLY | O_APPEND);
        const std::string more(change.grownBy, '+');
        if (fd < 0 || ::write(fd, more.data(), more.size()) != static_cast<ssize_t>(more.size())) {
            std::abort();
        }
        ::close(fd);
    } else if (::truncate(change.path.c_str(), static_cast<off_t>(change.cutTo)) != 0) {
        std::abort();
    }
}

// The file changes between the measuring of the body and the reading of the file: the request
// still goes out, well-formed, its part carrying what could be read of the measured size.
TEST(FileSystemFaults, UploadFileThatChangesBeforeItIsRead) {
    TempDir folder;
    const std::string path = folder.File("changing.bin");
    const std::string content = PatternText(200 * 1024, 5);
    struct Row {
        const char* what;
        std::size_t cutTo, grownBy;
        bool remove;
        std::string sent;  // the part's content
    };
    const std::vector<Row> rows = {
        {"removed: the open file is still read", 0, 0, true, content},
        {"cut to 1000 bytes", 1000, 0, false, content.substr(0, 1000)},
        {"cut to nothing", 0, 0, false, ""},
        {"grown: no more than was measured", 0, 300 * 1024, false, content},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFileBytes(path, content);
        ScriptedServer server(JudgeUpload(TextPart("file_num", "1") +
                                          FilePart("file1", path, &row.sent) + ClosingDelimiter()));
        OwnedHandle handle(ZEMTransferBegin());
        const PostFields none;
        FileChange change{path, row.cutTo, row.grownBy, row.remove};
        BeforeLargeAllocation(content.size(), ChangeFile, &change);
        EXPECT_EQ(ZEMUrlTransferFile(handle.get(), server.url().c_str(), &none, path.c_str(), 1),
                  1);
        BeforeLargeAllocation(0, nullptr, nullptr);
        EXPECT_EQ(server.requests().size(), 1u);
    }
}

}  // namespace
