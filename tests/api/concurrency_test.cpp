// Many host threads fetching at once, with null handles and with handles of their own: every
// result right, every trace line whole, and no descriptor or memory left behind.
#include <atomic>
#include <sstream>

#include "api_support.h"

namespace {

using namespace api_testing;

#if defined(ZEMUSER_TEST_SANITIZED)
constexpr int kThreads = 8, kFetchesPerThread = 25;
constexpr int kWarmUpFetches = 4;  // memory is not measured under the sanitizers
#else
constexpr int kThreads = 16, kFetchesPerThread = 200;
constexpr int kWarmUpFetches = kFetchesPerThread;
#endif

// One file per thread, of a size and content of its own, so that a body reaching the wrong
// thread shows.
std::string ThreadBody(int thread) {
    return PatternText(1000 + static_cast<std::size_t>(thread) * 37, static_cast<unsigned>(thread));
}

// One fetch through one of the three exports, on the thread's handle or on none. True when the
// status and the body are right.
bool FetchRight(const std::string& url, const std::string& body, int round, TransferHandle handle) {
    int32_t status = 0;
    const int32_t size = static_cast<int32_t>(body.size());
    switch (round % 3) {
        case 0: {
            std::string buffer(body.size() + 1, '#');
            return ZEMUrlGet2(url.c_str(), &status, &buffer[0], size, handle) == size &&
                   status == 200 && buffer == body + '\0';
        }
        case 1: {
            std::string buffer(body.size() + 1, '#');
            return ZEMUrlGet(url.c_str(), &status, &buffer[0], size, handle) == size &&
                   status == 200 && buffer == body + '\0';
        }
        default: {
            int32_t length = 0;
            char* raw = nullptr;
            const int32_t result = ZEMUrlGet3(url.c_str(), &status, &raw, &length, handle);
            HandedBuffer handed(raw);
            return result == size && length == size && status == 200 && raw != nullptr &&
                   std::string(raw, static_cast<std::size_t>(length)) == body;
        }
    }
}

// Runs `fetches` fetches on each of `threads` threads, alternating between a null handle and
// the thread's own; the number of wrong results.
int RunFetchers(const NginxServer& nginx, int threads, int fetches) {
    std::atomic<int> wrong{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&nginx, &wrong, t, fetches] {
            const std::string url = nginx.url("/t" + std::to_string(t) + ".bin");
            const std::string body = ThreadBody(t);
            OwnedHandle own = BeginHandle();
            for (int i = 0; i < fetches; ++i) {
                if (!FetchRight(url, body, i / 2, i % 2 == 0 ? nullptr : own.get())) ++wrong;
            }
        });
    }
    for (auto& worker : workers) worker.join();
    return wrong.load();
}

TEST(ConcurrentTransfers, ManyThreadsFetchWithNullAndOwnHandles) {
    NginxServer nginx;
    for (int t = 0; t < kThreads; ++t)
        nginx.AddFile("t" + std::to_string(t) + ".bin", ThreadBody(t));

    // A first round settles what the process keeps for good (thread arenas, the settings
    // store's two files); the second must then leave memory and descriptors as it found them.
    EXPECT_EQ(RunFetchers(nginx, kThreads, kWarmUpFetches), 0);
    const int descriptorsBefore = CountOpenDescriptors();
    const long memoryBeforeKb = ResidentMemoryKb();
    int lines = 0;
    {
        TraceFile trace;
        EXPECT_EQ(RunFetchers(nginx, kThreads, kFetchesPerThread), 0);
        // Lines of concurrent calls interleave only line by line.
        std::istringstream in(trace.Text());
        std::string line;
        while (std::getline(in, line)) {
            ++lines;
            if (line != "ZEMUrlGet Result Code: 200" && line != "ZEMUrlGet2 Result Code: 200") {
                ADD_FAILURE() << "unexpected trace line: " << line;
                break;
            }
        }
    }
    EXPECT_EQ(lines, kThreads * kFetchesPerThread);
    EXPECT_EQ(CountOpenDescriptors(), descriptorsBefore);
#if !defined(ZEMUSER_TEST_SANITIZED)
    // The sanitizers keep freed memory on purpose; elsewhere the run must not grow the process.
    EXPECT_LT(ResidentMemoryKb() - memoryBeforeKb, 1536);
#else
    (void)memoryBeforeKb;
#endif
}

}  // namespace
