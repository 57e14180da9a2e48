// Every export family with each of its allocations failing in turn: a call first runs once to
// count its allocations, then once for every N from 1 to that count with the N-th failing. The
// call must return its normal result or its failure value, with every side effect consistent
// with the value (a download that reports 1 has the right file, an upload that reports 1 was
// received whole), close every internet handle it opened, end its sessions and leak nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>

#include "allocation_faults.h"
#include "api/session_registry.h"
#include "fault_support.h"

namespace {

using namespace fault_testing;
using testing_support::FileExists;
using testing_support::ReadFileBytes;
using testing_support::ScopedEnv;
using testing_support::WriteFileBytes;
namespace fs = std::filesystem;

// Bounds the sweep of a call with very many allocations: every stride-th N is failed then.
constexpr std::size_t kMostRunsPerCall = 600;
// A call that waits for an answer the fault prevented gives up after the receive time-out; one
// that took most of it has hung on a failure instead of ending it. The margin below it is wide
// enough for a sanitized build on a busy machine.
constexpr long kReceiveTimeoutMs = 20000;
constexpr long kHangMs = 15000;

// Runs the sweeps with the library's trace on, so that its lines and failure reports are
// built (and may fail) as well.
class AllocationFaults : public ::testing::Test {
  protected:
    // `call` makes one export call and keeps what it returned; `check(faulted)` then judges
    // it outside the fault window, `faulted` telling whether an allocation really failed.
    void Sweep(const std::string& name, const std::function<void()>& call,
               const std::function<void(bool faulted)>& check) {
        SCOPED_TRACE(name);
        call();  // the first call of a kind sets up what lives for the process
        check(false);
        const int handlesBefore = CountOpenDescriptors();
        const std::int32_t sessionsBefore = LiveSessions();

        std::size_t count = 0;
        {
            AllocationFaultScope counting(0);
            call();
            count = counting.Stop();
        }
        check(false);
        ASSERT_GT(count, 0u);

        const std::size_t stride = std::max<std::size_t>(1, count / kMostRunsPerCall);
        std::size_t runs = 0;
        // The first failing N of a call is reported; the call's later ones would repeat it.
        const int failuresBefore = FailureCount();
        for (std::size_t n = 1; n <= count && FailureCount() == failuresBefore; n += stride) {
            SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(count));
            const auto start = std::chrono::steady_clock::now();
            bool faulted = false;
            {
                AllocationFaultScope failing(n);
                call();
                failing.Stop();
                faulted = AllocationFaultDelivered();
            }
            EXPECT_LT(MillisSince(start), kHangMs);
            check(faulted);
            EXPECT_EQ(CountOpenDescriptors(), handlesBefore);
            EXPECT_EQ(LiveSessions(), sessionsBefore);
            ++runs;
        }
        EXPECT_TRUE(NoLeaksSoFar());
        std::printf("[  faults  ] %-34s %4zu allocations, %4zu failed one at a time\n",
                    name.c_str(), count, runs);
        RecordProperty(name,
                       std::to_string(count) + " allocations, " + std::to_string(runs) + " failed");
    }

    static int FailureCount() {
        return ::testing::UnitTest::GetInstance()
            ->current_test_info()
            ->result()
            ->total_part_count();
    }

    TraceFile trace_;
    // Shorter than the default minute, so that a hung call does not hold the suite long.
    ScopedEnv receiveTimeout_{"ZEMUSER_RECEIVE_TIMEOUT_MS", std::to_string(kReceiveTimeoutMs)};
};

// What an in-memory call returned, kept without allocating.
struct MemoryOutcome {
    std::int32_t result = 0;
    std::int32_t status = 0;
    std::int32_t length = 0;
    char* handedOut = nullptr;
};

// A result of -1 leaves the out-parameters alone; any other is a prefix of the body (a failed
// read ends the reading with what had arrived) and the whole body when nothing failed.
void CheckMemoryOutcome(const MemoryOutcome& outcome, const std::string& body, const char* buffer,
                        bool faulted) {
    if (!faulted) {
        EXPECT_EQ(outcome.result, static_cast<std::int32_t>(body.size()));
        EXPECT_EQ(outcome.status, 200);
    }
    if (outcome.result == -1) return;
    ASSERT_GE(outcome.result, 0);
    ASSERT_LE(outcome.result, static_cast<std::int32_t>(body.size()));
    EXPECT_TRUE(outcome.status == 200 || outcome.status == 404) << outcome.status;
    const std::size_t length = static_cast<std::size_t>(outcome.result);
    if (buffer != nullptr) {
        EXPECT_EQ(std::string(buffer, length), body.substr(0, length));
        EXPECT_EQ(buffer[length], '\0');
    }
}

// Handed-out buffers: -1 hands out nothing; otherwise the length and the block agree.
void CheckHandedOut(MemoryOutcome& outcome, const std::string& body, bool faulted) {
    CheckMemoryOutcome(outcome, body, outcome.handedOut, faulted);
    if (outcome.result == -1) {
        EXPECT_EQ(outcome.handedOut, nullptr);
        EXPECT_EQ(outcome.length, -7);
    } else {
        EXPECT_EQ(outcome.length, outcome.result);
        EXPECT_NE(outcome.handedOut, nullptr);
    }
    ZEMReleaseBuffer(outcome.handedOut);
    outcome = MemoryOutcome{};
    outcome.length = -7;
}

TEST_F(AllocationFaults, Fetch) {
    const std::string body = PatternText(3000, 1);
    ScriptedServer server(Answer(HttpResponse(200, body)));
    const std::string url = server.url("/fetch?x=1");
    std::string buffer(5000, '#');
    MemoryOutcome outcome;
    outcome.length = -7;

    Sweep(
        "ZEMUrlGet",
        [&] {
            outcome.result = ZEMUrlGet(url.c_str(), &outcome.status, &buffer[0], 4096, nullptr);
        },
        [&](bool faulted) { CheckMemoryOutcome(outcome, body, buffer.data(), faulted); });
    Sweep(
        "ZEMUrlGet2",
        [&] {
            outcome.result = ZEMUrlGet2(url.c_str(), &outcome.status, &buffer[0], 4096, nullptr);
        },
        [&](bool faulted) { CheckMemoryOutcome(outcome, body, buffer.data(), faulted); });
    Sweep(
        "ZEMUrlGet3",
        [&] {
            outcome.result = ZEMUrlGet3(url.c_str(), &outcome.status, &outcome.handedOut,
                                        &outcome.length, nullptr);
        },
        [&](bool faulted) { CheckHandedOut(outcome, body, faulted); });
}

TEST_F(AllocationFaults, Post) {
    const std::string reply = PatternText(2500, 2);
    ScriptedServer server(Answer(HttpResponse(200, reply)));
    const std::string url = server.url("/post");
    const PostFields fields{{"name", "value"}, {"text", PatternText(700, 3)}};
    OwnedHandle handle(ZEMTransferBegin());
    ASSERT_NE(handle, nullptr);
    std::string buffer(5000, '#');
    MemoryOutcome outcome;
    outcome.length = -7;

    Sweep(
        "ZEMUrlPost",
        [&] {
            outcome.result =
                ZEMUrlPost(url.c_str(), &fields, &outcome.status, &buffer[0], 4096, handle.get());
        },
        [&](bool faulted) { CheckMemoryOutcome(outcome, reply, buffer.data(), faulted); });
    Sweep(
        "ZEMUrlPost3",
        [&] {
            outcome.result = ZEMUrlPost3(url.c_str(), &fields, &outcome.status, &outcome.handedOut,
                                         &outcome.length, nullptr);
        },
        [&](bool faulted) { CheckHandedOut(outcome, reply, faulted); });
}

// A download that reports 1 left the whole body in its file; one that reports 0 left no file.
void CheckDownload(std::int32_t result, const std::string& path, const std::string& body,
                   bool faulted) {
    if (!faulted) {
        EXPECT_EQ(result, 1);
    }
    ASSERT_TRUE(result == 0 || result == 1) << result;
    if (result == 1) {
        EXPECT_EQ(ReadFileBytes(path), body);
    } else {
        EXPECT_FALSE(FileExists(path));
    }
    fs::remove(path);
}

TEST_F(AllocationFaults, UrlFileTransfers) {
    const std::string body = PatternText(4000, 4);
    ScriptedServer downloads(Answer(
        HttpResponse(200, body, {"Content-Disposition: attachment; filename=\"report.txt\""})));
    const std::string downloadUrl = downloads.url("/download?id=9");
    TempDir folder;
    const std::string target = folder.File("target.bin");
    const std::u16string wideTarget(target.begin(), target.end());
    const PostFields fields{{"id", "9"}};
    OwnedHandle handle(ZEMTransferBegin());
    ASSERT_NE(handle, nullptr);
    std::int32_t result = -1;

    Sweep(
        "ZEMUrlTransferFile download",
        [&] {
            result =
                ZEMUrlTransferFile(handle.get(), downloadUrl.c_str(), &fields, target.c_str(), 0);
        },
        [&](bool faulted) { CheckDownload(result, target, body, faulted); });
    Sweep(
        "ZEMUrlTransferFileW download",
        [&] {
            result = ZEMUrlTransferFileW(handle.get(), downloadUrl.c_str(), &fields,
                                         wideTarget.c_str(), 0);
        },
        [&](bool faulted) { CheckDownload(result, target, body, faulted); });

    // Into a folder: the file takes the announced name, or "unknown" when the name could not
    // be had; the host is handed the same name, or none.
    const std::string into = folder.File("into");
    fs::create_directory(into);
    char name[64];
    Sweep(
        "ZEMNormalDownloadFile",
        [&] {
            result = ZEMNormalDownloadFile(handle.get(), downloadUrl.c_str(), &fields, into.c_str(),
                                           name, sizeof name);
        },
        [&](bool faulted) {
            if (!faulted) {
                EXPECT_EQ(result, 1);
            }
            ASSERT_TRUE(result == 0 || result == 1) << result;
            std::vector<std::string> stored;
            for (const auto& entry : fs::directory_iterator(into)) {
                stored.push_back(entry.path().filename().string());
            }
            if (result == 0) {
                EXPECT_TRUE(stored.empty());
                return;
            }
            ASSERT_EQ(stored.size(), 1u);
            EXPECT_EQ(ReadFileBytes(into + "/" + stored[0]), body);
            if (!faulted) {
                EXPECT_EQ(stored[0], "report.txt");
            }
            EXPECT_TRUE(stored[0] == "report.txt" || stored[0] == "unknown") << stored[0];
            EXPECT_EQ(std::string(name), stored[0] == "unknown" ? "" : stored[0]);
            fs::remove(into + "/" + stored[0]);
        });

    const std::string upload = folder.File("upload.bin");
    const std::string content = PatternText(6000, 5);
    WriteFileBytes(upload, content);
    const std::u16string wideUpload(upload.begin(), upload.end());
    ScriptedServer uploads(JudgeUpload(TextPart("id", "9") + TextPart("file_num", "1") +
                                       FilePart("file1", upload, &content) + ClosingDelimiter()));
    const std::string uploadUrl = uploads.url("/upload");
    auto checkUpload = [&](bool faulted) {
        if (!faulted) {
            EXPECT_EQ(result, 1);
        }
        EXPECT_TRUE(result == 0 || result == 1) << result;
    };
    Sweep(
        "ZEMUrlTransferFile upload",
        [&] {
            result =
                ZEMUrlTransferFile(handle.get(), uploadUrl.c_str(), &fields, upload.c_str(), 1);
        },
        checkUpload);
    Sweep(
        "ZEMUrlTransferFileW upload",
        [&] {
            result = ZEMUrlTransferFileW(handle.get(), uploadUrl.c_str(), &fields,
                                         wideUpload.c_str(), 1);
        },
        checkUpload);
}

TEST_F(AllocationFaults, ConferenceTransfers) {
    const std::string body = PatternText(3500, 6);
    ScriptedServer downloads(Answer(HttpResponse(200, body)));
    const std::string downloadUrl = downloads.url("/files");
    TempDir folder;
    const std::string target = folder.File("fetched.bin");
    const std::u16string wideTarget(target.begin(), target.end());
    const std::u16string wideName = u"shared.bin";
    OwnedHandle handle(ZEMTransferBegin());
    ASSERT_NE(handle, nullptr);
    std::int32_t result = -1;

    Sweep(
        "ZEMKIVTransferFile download",
        [&] {
            result = ZEMKIVTransferFile(handle.get(), downloadUrl.c_str(), "S1", "shared.bin",
                                        target.c_str(), 0);
        },
        [&](bool faulted) { CheckDownload(result, target, body, faulted); });
    Sweep(
        "ZEMKIVTransferFileW download",
        [&] {
            result = ZEMKIVTransferFileW(handle.get(), downloadUrl.c_str(), "S1", wideName.c_str(),
                                         wideTarget.c_str(), 0);
        },
        [&](bool faulted) { CheckDownload(result, target, body, faulted); });

    const std::string upload = folder.File("sent.bin");
    const std::string content = PatternText(5000, 7);
    WriteFileBytes(upload, content);
    const std::u16string wideUpload(upload.begin(), upload.end());
    ScriptedServer uploads(JudgeUpload(TextPart("x", "kivStuff") + TextPart("act", "upload") +
                                       TextPart("session_id", "S1") + TextPart("file_num", "1") +
                                       FilePart("file1", upload, &content) + ClosingDelimiter()));
    const std::string uploadUrl = uploads.url("/files");
    auto checkUpload = [&](bool faulted) {
        if (!faulted) {
            EXPECT_EQ(result, 1);
        }
        EXPECT_TRUE(result == 0 || result == 1) << result;
    };
    Sweep(
        "ZEMKIVTransferFile upload",
        [&] {
            result = ZEMKIVTransferFile(handle.get(), uploadUrl.c_str(), "S1", nullptr,
                                        upload.c_str(), 1);
        },
        checkUpload);
    Sweep(
        "ZEMKIVTransferFileW upload",
        [&] {
            result = ZEMKIVTransferFileW(handle.get(), uploadUrl.c_str(), "S1", nullptr,
                                         wideUpload.c_str(), 1);
        },
        checkUpload);
}

// Begin either gives a live handle or null; End takes every session out again, whichever of
// their allocations failed.
TEST_F(AllocationFaults, HandleBeginAndEnd) {
    TransferHandle handle = nullptr;
    TransferHandle second = nullptr;
    Sweep(
        "ZEMTransferBegin/Cancel/End",
        [&] {
            handle = ZEMTransferBegin();
            second = ZEMTransferBeginV2("proxy-user", "proxy-secret");
            CancelTransferFile(handle);
            CancelTransferFile(second);
            ZEMTransferEnd(handle);
            ZEMTransferEnd(second);
        },
        [&](bool faulted) {
            if (!faulted) {
                EXPECT_NE(handle, nullptr);
                EXPECT_NE(second, nullptr);
            }
            EXPECT_EQ(zemuser::FindSession(handle), nullptr);
            EXPECT_EQ(zemuser::FindSession(second), nullptr);
        });
}

}  // namespace
