// Transfers and other threads: a slow download cancelled from a second thread, and fetches on
// several threads at once, through the real WinINet.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "wine_test_support.h"

namespace wine_testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

TEST(WineThreads, CancelStopsASlowDownloadAndLeavesNoFile) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    PostFields fields;
    std::wstring target = folder.File(L"slow.bin");
    // 10 MB at about 50 kB/s: minutes if nothing stops it.
    std::string url = RecorderUrl(NewTag("slow"), "size=10000000&trickle=20");
    TraceCapture trace;

    auto download = std::async(std::launch::async, [&] {
        return ZEMUrlTransferFile(handle.get(), url.c_str(), &fields, Ansi(target).c_str(), 0);
    });
    // Cancel once the body is being stored (into a new file beside the target).
    const auto giveUp = steady_clock::now() + std::chrono::seconds(20);
    while (!FolderHasEntries(folder.path()) && steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(FolderHasEntries(folder.path()));
    std::this_thread::sleep_for(milliseconds(300));
    const auto cancelled = steady_clock::now();
    CancelTransferFile(handle.get());

    ASSERT_EQ(download.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_LT(steady_clock::now() - cancelled, std::chrono::seconds(10));
    EXPECT_EQ(download.get(), 0);
    EXPECT_FALSE(FolderHasEntries(folder.path()));
    EXPECT_TRUE(trace.Contains("ZEMUrlDownloadFile Result: 0"));

    // The handle carries the next transfer as usual.
    std::string quick = RecorderUrl(NewTag("afterslow"), "body=after");
    EXPECT_EQ(ZEMUrlTransferFile(handle.get(), quick.c_str(), &fields, Ansi(target).c_str(), 0), 1);
    EXPECT_EQ(ReadFileBytes(target), "after");
}

// The server sends one piece and then pauses for seconds: the read is blocked in WinINet when
// the cancel closes the request under it. Windows makes the blocked read fail at once. Wine
// limitation: Wine's WinINet leaves it blocked until the next piece arrives, so here the
// cancel takes effect with the next piece; what the library must do then is the same: 0, and
// no file left behind.
TEST(WineThreads, CancelOfADownloadWaitingForDataLeavesNoFile) {
    ScratchFolder folder;
    Handle handle = BeginHandle();
    std::wstring target = folder.File(L"stalled.bin");
    std::string url = RecorderUrl(NewTag("stall"), "size=5000&trickle=4000");

    auto download = std::async(std::launch::async, [&] {
        return ZEMKIVTransferFile(handle.get(), url.c_str(), "s", "f", Ansi(target).c_str(), 0);
    });
    const auto giveUp = steady_clock::now() + std::chrono::seconds(20);
    while (!FolderHasEntries(folder.path()) && steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_TRUE(FolderHasEntries(folder.path()));
    std::this_thread::sleep_for(milliseconds(500));
    CancelTransferFile(handle.get());

    ASSERT_EQ(download.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(download.get(), 0);
    EXPECT_FALSE(FolderHasEntries(folder.path()));
}

TEST(WineThreads, CancelOnAnIdleHandleIsForgottenByTheNextTransfer) {
    Handle handle = BeginHandle();
    CancelTransferFile(handle.get());
    CancelTransferFile(nullptr);
    std::string url = NginxFile("idle-cancel.txt", "still works");
    std::int32_t status = 0;
    char buffer[32] = {};
    EXPECT_EQ(ZEMUrlGet(url.c_str(), &status, buffer, 31, handle.get()), 11);
    EXPECT_STREQ(buffer, "still works");
}

TEST(WineThreads, FetchesOnSeveralThreadsEachGetTheirOwnBody) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 5;
    std::vector<std::string> urls;
    std::vector<std::string> bodies;
    for (int i = 0; i < kThreads; ++i) {
        bodies.push_back(Pattern(20000 + 1000 * i, static_cast<char>('a' + i)));
        urls.push_back(NginxFile("parallel-" + std::to_string(i) + ".bin", bodies.back()));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                std::int32_t status = 0;
                std::int32_t length = 0;
                char* raw = nullptr;
                ZEMUrlGet3(urls[i].c_str(), &status, &raw, &length, nullptr);
                HandedOutBuffer text(raw);
                if (status != 200 || !text || std::string(text.get(), length) != bodies[i]) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace wine_testing
