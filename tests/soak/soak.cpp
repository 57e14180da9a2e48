// Worker threads run random transfers against nginx and the reference file service, cancelling
// each other's handles: a call may end short or fail only when a cancel on its handle ran during
// it; the descriptors end at their starting count. ZEMUSER_SOAK_SECONDS (60, 20 under
// ThreadSanitizer), ZEMUSER_SOAK_THREADS (16) and ZEMUSER_SOAK_SEED (printed) shape a run.
#include <zemuser.h>

#include <atomic>
#include <filesystem>
#include <list>
#include <random>
#include <thread>

#include "faults/sound_reply.h"
#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;

#if defined(__SANITIZE_THREAD__)
constexpr long kDefaultSeconds = 20;
#else
constexpr long kDefaultSeconds = 60;
#endif
// Sizes around the library's 1024-byte pieces and its 512 KB receive window.
constexpr std::size_t kBlobSizes[] = {1, 1023, 1024, 1025, 65536, 200000, 1048576};
constexpr std::size_t kLargestUpload = 200000;  // uploaded often without filling the disk
const std::string kSession = "soak";            // the file service's session of the blobs

long EnvNumber(const char* name, long fallback) {
    const long value = std::getenv(name) != nullptr ? std::atol(std::getenv(name)) : 0;
    return value > 0 ? value : fallback;
}

struct Blob {
    std::string name, content;
};

struct World {
    World() {
        fs::create_directory(service.root.File(kSession));
        unsigned seed = 1;
        for (std::size_t size : kBlobSizes) {
            blobs.push_back({"blob-" + std::to_string(size) + ".bin", PatternText(size, seed++)});
            nginx.AddFile(blobs.back().name, blobs.back().content);
            WriteFileBytes(service.root.File(kSession + "/" + blobs.back().name),
                           blobs.back().content);
        }
    }
    NginxServer nginx;
    FileService service{ZEMUSER_FILE_SERVICE_PROGRAM};
    const std::string plainUrl = nginx.url("/"), serviceUrl = service.url();
    const std::string secureUrl =
        "https://127.0.0.1:" + std::to_string(nginx.httpsPort(CertificateKind::Good)) + "/";
    std::vector<Blob> blobs;
};

// A worker's public handle, where the others find it to cancel, and its cancels begun and ended.
struct Slot {
    std::atomic<TransferHandle> handle{nullptr};
    std::atomic<std::uint64_t> cancelsBegun{0}, cancelsEnded{0};
};

struct Shared {
    World world;
    std::vector<Slot> slots;
    std::atomic<std::size_t> operations{0}, interrupted{0}, inconsistent{0};
    void Inconsistent(const std::string& what) {  // describes the first few
        if (++inconsistent <= 20) std::printf("    %s\n", what.c_str());
    }
};

class Worker {
  public:
    Worker(int index, unsigned seed, Shared& shared)
        : index_(index), random_(seed + index * 7919u), shared_(shared) {
        slot().handle = public_;
    }
    ~Worker() {
        slot().handle = nullptr;
        ZEMTransferEnd(public_);
        ZEMTransferEnd(private_);
    }

    // Fetch, post, download, upload, a new public handle, or a cancel of another's.
    void Run(int family) {
        ++shared_.operations;
        family < 4 ? Transfer(family) : family == 4 ? CycleHandle() : CancelAnother();
    }
    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

  private:
    // A call may have been cancelled only when it ran on the public handle and a cancel on that
    // ran as the call began or began during it. Ended is read first: a cancel that begins
    // between the two reads counts as running.
    auto CancelWindow(TransferHandle used) const {
        const std::uint64_t ended = slot().cancelsEnded, begun = slot().cancelsBegun;
        return [this, used, ended, begun] {
            return used != nullptr && used == public_ &&
                   (begun != ended || slot().cancelsBegun != begun);
        };
    }

    // An upload is judged by the file the service stored (it commits the file before it
    // answers). A cancel may end a call short: with -1 or a prefix of the reply, or with 0 and no
    // file left.
    void Transfer(int family) {
        const bool inMemory = family < 2, up = family == 3;
        const Blob* blob = &AnyBlob();
        while (up && blob->content.size() > kLargestUpload) blob = &AnyBlob();
        const World& world = shared_.world;
        const std::string url = family == 0
                                    ? (Chance(80) ? world.plainUrl : world.secureUrl) + blob->name
                                    : world.serviceUrl;
        const PostFields fields =
            up ? PostFields{{"act", "upload"}, {"session_id", uploadSession_}, {"x", "kivStuff"}}
               : PostFields{{"act", "fetch"}, {"session_id", kSession}, {"filename", blob->name}};
        // Nobody cancels private_; a null handle makes a session of its own.
        const TransferHandle handle = Chance(60) ? public_ : inMemory ? nullptr : private_;
        const std::string path = folder_.File(std::to_string(++sequence_));
        if (up) WriteFileBytes(path, blob->content);
        std::int32_t status = -1, length = -7;
        char* handed = nullptr;
        const auto landed = CancelWindow(handle);
        const std::int32_t result =
            family == 0   ? ZEMUrlGet3(url.c_str(), &status, &handed, &length, handle)
            : family == 1 ? ZEMUrlPost3(url.c_str(), &fields, &status, &handed, &length, handle)
                          : ZEMUrlTransferFile(handle, url.c_str(), &fields, path.c_str(), up);
        const std::string stored =
            up ? world.service.root.File(uploadSession_ + "/" + std::to_string(sequence_)) : path;
        const bool cut = inMemory ? SoundReply(result, handed, length, -7, &blob->content)
                                  : result == 0 && (up || !fs::exists(path));
        const bool whole =
            inMemory
                ? cut && result == static_cast<std::int32_t>(blob->content.size()) && status == 200
                : result == 1 && fs::exists(stored) && ReadFileBytes(stored) == blob->content;
        static const char* const kCalls[] = {"ZEMUrlGet3 ", "ZEMUrlPost3 ",
                                             "ZEMUrlTransferFile down ", "ZEMUrlTransferFile up "};
        const bool cancelled = landed();
        if (cancelled && cut && !whole) ++shared_.interrupted;
        if (!whole && !(cancelled && cut)) {
            shared_.Inconsistent("worker " + std::to_string(index_) + ", " + kCalls[family] +
                                 blob->name + ": result " + std::to_string(result) +
                                 (cancelled ? "" : ", no cancel issued"));
        }
        ZEMReleaseBuffer(handed);
        fs::remove(path);
        if (up) fs::remove(stored);
    }

    void CycleHandle() {
        slot().handle = nullptr;  // others may still cancel the old value: it is not found
        ZEMTransferEnd(public_);
        public_ = Chance(50) ? ZEMTransferBegin() : ZEMTransferBeginV2("someone", "secret");
        if (public_ == nullptr) shared_.Inconsistent("ZEMTransferBegin gave no handle");
        slot().handle = public_;
    }

    void CancelAnother() {
        Slot& other = shared_.slots[Below(static_cast<int>(shared_.slots.size()))];
        if (&other == &slot()) return;
        ++other.cancelsBegun;
        CancelTransferFile(other.handle.load());
        ++other.cancelsEnded;
    }

    Slot& slot() const { return shared_.slots[index_]; }
    bool Chance(int percent) { return Below(100) < percent; }
    const Blob& AnyBlob() {
        return shared_.world.blobs[Below(static_cast<int>(shared_.world.blobs.size()))];
    }
    const int index_;
    std::mt19937 random_;
    Shared& shared_;
    const std::string uploadSession_ = "up-" + std::to_string(index_);
    TempDir folder_;
    TransferHandle public_ = ZEMTransferBegin();
    TransferHandle private_ = ZEMTransferBeginV2("soak-user", "soak-password");
    std::uint64_t sequence_ = 0;
};

}  // namespace

int main() {
    const long seconds = EnvNumber("ZEMUSER_SOAK_SECONDS", kDefaultSeconds);
    const int threads = static_cast<int>(EnvNumber("ZEMUSER_SOAK_THREADS", 16));
    const auto seed = static_cast<unsigned>(EnvNumber("ZEMUSER_SOAK_SEED", std::random_device()()));
    std::printf("soak: %d threads for %ld s, seed %u\n", threads, seconds, seed);
    std::fflush(stdout);
    TempDir scratch;
    // The user's settings are not touched; a silent server cannot hold a worker for a minute.
    setenv("ZEMUSER_SETTINGS_DIR", scratch.File("settings").c_str(), 0);
    setenv("ZEMUSER_RECEIVE_TIMEOUT_MS", "20000", 0);
    ZEMUser_SetTraceFile(scratch.File("trace.txt").c_str());
    Shared shared{{}, std::vector<Slot>(static_cast<std::size_t>(threads))};
    std::list<Worker> workers;
    for (int i = 0; i < threads; ++i) workers.emplace_back(i, seed, shared);
    for (int family = 0; family < 6; ++family) workers.front().Run(family);  // set up once
    const int descriptorsAtStart = CountOpenDescriptors();

    std::atomic<bool> stop{false};
    std::vector<std::thread> running;
    for (Worker& worker : workers) {
        running.emplace_back([&] {
            while (!stop) worker.Run(worker.Below(6));
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& thread : running) thread.join();
    workers.clear();                                      // ends every handle
    const int descriptorsAtEnd = CountOpenDescriptors();  // the trace file is open in both
    ZEMUser_SetTraceFile(nullptr);

    const bool passed = shared.inconsistent == 0 && descriptorsAtEnd == descriptorsAtStart;
    std::printf(
        "  %zu operations, %zu ended early by a cancel, %zu inconsistent; descriptors "
        "%d at the start, %d at the end\nsoak %s\n",
        shared.operations.load(), shared.interrupted.load(), shared.inconsistent.load(),
        descriptorsAtStart, descriptorsAtEnd, passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
