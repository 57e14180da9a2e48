// The soak: worker threads run random transfers of every export family against nginx and the
// reference file service for a bounded time, cancelling each other's handles at random. Every
// result must match its request; after a warm-up the resident memory may grow by less than
// 5 MB, and the open descriptors must come back to their count before the run.
//
//   ZEMUSER_SOAK_SECONDS  how long the workers run (default 120, 30 under ThreadSanitizer)
//   ZEMUSER_SOAK_THREADS  how many workers (default 16)
//   ZEMUSER_SOAK_SEED     seed of the random choices (default: from the clock, printed)
//
// Only 127.0.0.1 is ever contacted. The exit status is 0 when every check held.
#include <malloc.h>
#include <zemuser.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "soak_tally.h"
#include "soak_worker.h"
#include "soak_world.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizers hold freed memory back for their checks: resident memory says nothing then.
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif
#if defined(__SANITIZE_THREAD__)
constexpr long kDefaultSeconds = 30;
#else
constexpr long kDefaultSeconds = 120;
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr long kMemoryGrowthLimitKb = 5 * 1024;
// A worker that has not finished its operation this long after the end has hung.
constexpr auto kStopGrace = std::chrono::seconds(120);

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end != nullptr && *end == '\0' && value > 0) ? value : fallback;
}

// Lets the main thread stop all workers between two operations, to take its readings while
// nothing is in flight.
class PauseGate {
  public:
    explicit PauseGate(int workers) : workers_(workers) {}

    // Called by a worker between operations.
    void Checkpoint() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!pausing_) return;
        ++paused_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !pausing_; });
        --paused_;
    }
    // A worker that leaves no longer takes part in pauses.
    void Leave() {
        std::lock_guard<std::mutex> lock(mutex_);
        --workers_;
        changed_.notify_all();
    }
    bool PauseAll(std::chrono::seconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        pausing_ = true;
        return changed_.wait_for(lock, limit, [this] { return paused_ >= workers_; });
    }
    void ResumeAll() {
        std::lock_guard<std::mutex> lock(mutex_);
        pausing_ = false;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int workers_;
    int paused_ = 0;
    bool pausing_ = false;
};

// Resident memory with the allocator's free pages handed back, so that only memory in use is
// compared.
long UsedResidentKb() {
    malloc_trim(0);
    return testing_support::ResidentMemoryKb();
}

}  // namespace

int main() {
    const long seconds = EnvNumber("ZEMUSER_SOAK_SECONDS", kDefaultSeconds);
    const int threads = static_cast<int>(EnvNumber("ZEMUSER_SOAK_THREADS", 16));
    const unsigned seed = static_cast<unsigned>(
        EnvNumber("ZEMUSER_SOAK_SEED",
                  static_cast<long>(Clock::now().time_since_epoch().count() % 1000000007)));
    const auto warmUp = std::chrono::seconds(std::min<long>(30, std::max<long>(5, seconds / 4)));
    std::printf("soak: %d threads for %ld s, seed %u\n", threads, seconds, seed);
    std::fflush(stdout);

    testing_support::TempDir scratch;
    // The user's settings are not touched; a silent server cannot hold a worker for a minute.
    setenv("ZEMUSER_SETTINGS_DIR", scratch.File("settings").c_str(), 0);
    setenv("ZEMUSER_RECEIVE_TIMEOUT_MS", "20000", 0);
    std::unique_ptr<soak::SoakWorld> world;
    try {
        world = std::make_unique<soak::SoakWorld>();
    } catch (const std::exception& error) {
        std::printf("soak could not start its servers: %s\n", error.what());
        return 2;
    }
    const std::string trace = scratch.File("trace.txt");
    ZEMUser_SetTraceLevel(0);
    ZEMUser_SetTraceFile(trace.c_str());

    soak::Tally tally;
    soak::HandleSlots slots(static_cast<std::size_t>(threads));
    std::vector<std::unique_ptr<soak::Worker>> workers;
    for (int i = 0; i < threads; ++i) {
        workers.push_back(std::make_unique<soak::Worker>(i, seed, *world, slots, tally));
    }
    // One of each family first, so that what the library sets up once is in place.
    for (std::size_t f = 0; f < soak::kFamilies; ++f) {
        workers[0]->Run(static_cast<soak::Family>(f));
    }
    const int descriptorsAtStart = testing_support::CountOpenDescriptors();

    PauseGate gate(threads);
    std::atomic<bool> stop{false};
    std::vector<std::thread> running;
    for (int i = 0; i < threads; ++i) {
        running.emplace_back([&, i] {
            while (!stop.load()) {
                workers[static_cast<std::size_t>(i)]->RunOne();
                gate.Checkpoint();
            }
            gate.Leave();
        });
    }

    const auto start = Clock::now();
    std::this_thread::sleep_for(warmUp);
    bool hung = !gate.PauseAll(kStopGrace);
    const long rssAtWarmUp = UsedResidentKb();
    const std::size_t operationsAtWarmUp = tally.TotalOperations();
    gate.ResumeAll();
    if (!hung) std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    // The second reading under the same conditions as the first: workers alive, between calls.
    hung = hung || !gate.PauseAll(kStopGrace);
    const long rssAtEnd = UsedResidentKb();
    stop = true;
    gate.ResumeAll();

    // The workers end their operations within their time-outs; one that does not has hung.
    std::mutex doneMutex;
    std::condition_variable doneChanged;
    bool done = false;
    std::thread watchdog([&] {
        std::unique_lock<std::mutex> lock(doneMutex);
        if (!doneChanged.wait_for(lock, kStopGrace, [&] { return done; })) {
            std::printf("soak FAILED: a worker still runs %lld s after the end\n",
                        static_cast<long long>(kStopGrace.count()));
            std::fflush(stdout);
            std::_Exit(3);
        }
    });
    for (auto& thread : running) thread.join();
    {
        std::lock_guard<std::mutex> lock(doneMutex);
        done = true;
    }
    doneChanged.notify_all();
    watchdog.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    workers.clear();  // ends every handle
    // The trace file was open at the start as well.
    const int descriptorsAtEnd = testing_support::CountOpenDescriptors();
    ZEMUser_SetTraceFile(nullptr);

    std::printf("soak: %zu operations in %.0f s (%zu after the warm-up of %lld s)\n",
                tally.TotalOperations(), elapsed, tally.TotalOperations() - operationsAtWarmUp,
                static_cast<long long>(warmUp.count()));
    for (std::size_t f = 0; f < soak::kFamilies; ++f) {
        const auto family = static_cast<soak::Family>(f);
        std::printf("  %-26s %8zu\n", soak::FamilyName(family), tally.Operations(family));
    }
    std::printf("  transfers ended early by a cancel: %zu\n", tally.Interrupted());
    std::printf("  resident memory: %ld KB after the warm-up, %ld KB at the end (%+ld KB)%s\n",
                rssAtWarmUp, rssAtEnd, rssAtEnd - rssAtWarmUp,
                kMemoryIsMeaningful ? "" : ", not judged under a sanitizer");
    std::printf("  open descriptors: %d at the start, %d at the end\n", descriptorsAtStart,
                descriptorsAtEnd);
    std::printf("  inconsistent results: %zu\n", tally.Inconsistencies());
    for (const std::string& what : tally.FirstInconsistencies()) {
        std::printf("    %s\n", what.c_str());
    }

    const bool memoryHeld = !kMemoryIsMeaningful || rssAtEnd - rssAtWarmUp < kMemoryGrowthLimitKb;
    const bool descriptorsBack = descriptorsAtEnd == descriptorsAtStart;
    const bool passed = !hung && tally.Inconsistencies() == 0 && memoryHeld && descriptorsBack;
    if (passed) {
        std::printf("soak passed\n");
    } else {
        std::printf("soak FAILED:%s%s%s%s\n", hung ? " a worker hung;" : "",
                    tally.Inconsistencies() != 0 ? " inconsistent results;" : "",
                    memoryHeld ? "" : " resident memory grew by 5 MB or more;",
                    descriptorsBack ? "" : " descriptors were left open;");
    }
    return passed ? 0 : 1;
}
