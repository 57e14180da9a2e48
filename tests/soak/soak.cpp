// The soak: worker threads run random transfers of every export family against nginx and the
// reference file service for a bounded time, cancelling each other's handles. Every result must
// match its request: a call may end short or fail only when a cancel on its handle ran while it
// did, and an upload is judged by the file the service stored. After a warm-up the resident
// memory may grow by less than 5 MB, and the open descriptors come back to their count.
//
//   ZEMUSER_SOAK_SECONDS  how long the workers run (default 60, 20 under ThreadSanitizer)
//   ZEMUSER_SOAK_THREADS  how many workers (default 16)
//   ZEMUSER_SOAK_SEED     seed of the random choices (default: from the clock, printed)
//
// Only 127.0.0.1 is ever contacted. The exit status is 0 when every check held.
#include <malloc.h>
#include <zemuser.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <random>
#include <regex>
#include <shared_mutex>
#include <thread>

#include "support/real_servers.h"
#include "support/scripted_server.h"

namespace {

namespace fs = std::filesystem;
using namespace testing_support;
using Clock = std::chrono::steady_clock;

#if defined(__SANITIZE_THREAD__)
constexpr long kDefaultSeconds = 20;
#else
constexpr long kDefaultSeconds = 60;
#endif
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
// The sanitizers hold freed memory back for their checks: resident memory says nothing then.
constexpr bool kMemoryIsMeaningful = false;
#else
constexpr bool kMemoryIsMeaningful = true;
#endif
constexpr long kMemoryGrowthLimitKb = 5 * 1024;
// A worker that has not finished its operation this long after the end has hung.
constexpr auto kStopGrace = std::chrono::seconds(120);
// Sizes around the library's 1024-byte pieces and its 512 KB receive window.
constexpr std::size_t kBlobSizes[] = {1, 100, 1023, 1024, 1025, 4097, 65536, 200000, 1048576};
constexpr std::size_t kLargestUpload = 200000;  // uploaded often without filling the disk
constexpr const char* kSession = "soak";        // the file service's session of the blobs

enum Family { Fetch, Post, Download, Upload, Handles, Cancel, Cpu, kFamilies };
constexpr const char* kFamilyNames[] = {"fetch",   "post",   "download", "upload",
                                        "handles", "cancel", "cpu usage"};
constexpr int kMix[] = {24, 12, 24, 16, 5, 16, 3};  // how often each family is chosen

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    const long value = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
    return value > 0 ? value : fallback;
}

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

struct Blob {
    std::string name, content;
};

// nginx serving the blobs over HTTP and HTTPS, and the file service holding them in its session
// "soak" and taking the uploads.
struct World {
    World() : service({ZEMUSER_FILE_SERVICE_PROGRAM, "--root", root.path(), "--port", "0"}, log) {
        const std::regex listening("listening on (http://127\\.0\\.0\\.1:[0-9]+)\n");
        const auto deadline = Clock::now() + std::chrono::seconds(15);
        std::smatch match;
        std::string text;
        while (!std::regex_search(text, match, listening)) {
            if (Clock::now() > deadline) throw std::runtime_error("no file service: " + text);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));  // polls its log
            text = FileExists(log) ? ReadFileBytes(log) : "";
        }
        serviceUrl = match[1].str() + "/files";
        fs::create_directory(root.File(kSession));
        unsigned seed = 1;
        for (std::size_t size : kBlobSizes) {
            blobs.push_back({"blob-" + std::to_string(size) + ".bin", PatternText(size, seed++)});
            nginx.AddFile(blobs.back().name, blobs.back().content);
            WriteFileBytes(root.File(std::string(kSession) + "/" + blobs.back().name),
                           blobs.back().content);
        }
    }
    std::string StaticUrl(const Blob& blob, bool secure) const {
        if (!secure) return nginx.url("/" + blob.name);
        return "https://127.0.0.1:" + std::to_string(nginx.httpsPort(CertificateKind::Good)) + "/" +
               blob.name;
    }

    NginxServer nginx;
    TempDir root, logs;
    const std::string log = logs.File("file-service.log");
    ChildProcess service;
    std::string serviceUrl;
    std::vector<Blob> blobs;
};

// A worker's public handle, where the others find it to cancel, and how many cancels on it have
// begun and ended.
struct Slot {
    std::atomic<TransferHandle> handle{nullptr};
    std::atomic<std::uint64_t> cancelsBegun{0}, cancelsEnded{0};
};

struct Tally {
    std::atomic<std::size_t> operations[kFamilies] = {}, interrupted{0}, inconsistent{0};
    std::mutex mutex;
    std::vector<std::string> first;  // the first inconsistencies, described

    void Inconsistent(const std::string& what) {
        std::lock_guard<std::mutex> lock(mutex);
        if (++inconsistent <= 20) first.push_back(what);
    }
};

class Worker {
  public:
    Worker(int index, unsigned seed, const World& world, std::vector<Slot>& slots, Tally& tally)
        : index_(index),
          random_(seed + index * 7919u),
          world_(world),
          slots_(slots),
          tally_(tally),
          uploadSession_("up-" + std::to_string(index)) {
        slot().handle = public_;
    }
    ~Worker() {
        slot().handle = nullptr;
        ZEMTransferEnd(public_);
        ZEMTransferEnd(private_);
    }

    void RunOne() {
        int pick = Below(std::accumulate(std::begin(kMix), std::end(kMix), 0));
        int family = 0;
        while (pick >= kMix[family]) pick -= kMix[family++];
        Run(static_cast<Family>(family));
    }

    void Run(Family family) {
        ++tally_.operations[family];
        switch (family) {
            case Fetch:
                return FetchOrPost(false);
            case Post:
                return FetchOrPost(true);
            case Download:
                return DownloadOne();
            case Upload:
                return UploadOne();
            case Handles:
                return CycleHandle();
            case Cancel:
                return CancelAnother();
            case Cpu:
                return PollCpu();
            case kFamilies:
                break;
        }
    }

  private:
    // Whether a call on `used` may have been cancelled: only the public handle is, and only by a
    // cancel that ran as the call began or began during it.
    class CancelWindow {
      public:
        CancelWindow(const Worker& worker, TransferHandle used)
            : slot_(worker.slot()),
              public_(used != nullptr && used == worker.public_),
              ended_(slot_.cancelsEnded),
              begun_(slot_.cancelsBegun) {}  // ended first
        bool Landed() const {
            return public_ && (begun_ != ended_ || slot_.cancelsBegun != begun_);
        }

      private:
        const Slot& slot_;
        const bool public_;
        const std::uint64_t ended_, begun_;
    };

    // In memory: a fetch of a static file from nginx, or a post asking the service for it.
    void FetchOrPost(bool post) {
        const Blob& blob = AnyBlob();
        const std::string url = post ? world_.serviceUrl : world_.StaticUrl(blob, Chance(20));
        const PostFields fields{
            {"act", "fetch"}, {"session_id", kSession}, {"filename", blob.name}};
        const TransferHandle handle = Chance(50) ? public_ : nullptr;  // null: a session of its own
        const auto size = static_cast<std::int32_t>(blob.content.size());
        std::string buffer(blob.content.size() + 1, '#');
        std::int32_t status = -1, length = -7;
        char* handed = nullptr;
        const int variant = Below(post ? 2 : 3);
        const char* const names[] = {post ? "ZEMUrlPost" : "ZEMUrlGet", "ZEMUrlGet2",
                                     post ? "ZEMUrlPost3" : "ZEMUrlGet3"};
        const int which = post && variant == 1 ? 2 : variant;
        const CancelWindow window(*this, handle);
        std::int32_t result;
        switch (which) {
            case 0:
                result = post ? ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0], size, handle)
                              : ZEMUrlGet(url.c_str(), &status, &buffer[0], size, handle);
                break;
            case 1:
                result = ZEMUrlGet2(url.c_str(), &status, &buffer[0], size, handle);
                break;
            default:
                result = post ? ZEMUrlPost3(url.c_str(), &fields, &status, &handed, &length, handle)
                              : ZEMUrlGet3(url.c_str(), &status, &handed, &length, handle);
        }
        const char* bytes = which == 2 ? handed : buffer.data();
        const bool whole = result == size && status == 200 && bytes != nullptr &&
                           std::memcmp(bytes, blob.content.data(), blob.content.size()) == 0;
        // A cancel ends the call with its failure value or with a prefix of the reply.
        const bool prefix = result == -1 || (result >= 0 && result < size && bytes != nullptr &&
                                             std::memcmp(bytes, blob.content.data(), result) == 0);
        const bool terminated = result < 0 || bytes == nullptr || bytes[result] == '\0';
        const bool handedRight =
            which != 2 || (result == -1 ? handed == nullptr && length == -7
                                        : handed != nullptr && length == result);
        Judge(names[which], blob.name, whole && terminated && handedRight,
              prefix && terminated && handedRight, window.Landed(),
              "result " + std::to_string(result) + ", status " + std::to_string(status));
        ZEMReleaseBuffer(handed);
    }

    // Into a file, or into a folder under the name the service announces: 1 with the blob there,
    // or, after a cancel, 0 with nothing left.
    void DownloadOne() {
        const Blob& blob = AnyBlob();
        const PostFields fields{
            {"act", "fetch"}, {"session_id", kSession}, {"filename", blob.name}};
        const TransferHandle handle = ChooseHandle();
        const std::string path = NextPath(), url = world_.serviceUrl;
        std::string stored = path;
        char name[64] = "#";
        const int variant = Below(5);
        const char* const names[] = {"ZEMUrlTransferFile", "ZEMUrlTransferFileW",
                                     "ZEMNormalDownloadFile", "ZEMKIVTransferFile",
                                     "ZEMKIVTransferFileW"};
        if (variant == 2) {
            fs::create_directory(path);
            stored = path + "/" + blob.name;
        }
        const CancelWindow window(*this, handle);
        std::int32_t result = -1;
        switch (variant) {
            case 0:
                result = ZEMUrlTransferFile(handle, url.c_str(), &fields, path.c_str(), 0);
                break;
            case 1:
                result = ZEMUrlTransferFileW(handle, url.c_str(), &fields, Wide(path).c_str(), 0);
                break;
            case 2:
                result = ZEMNormalDownloadFile(handle, url.c_str(), &fields, path.c_str(), name,
                                               sizeof name);
                break;
            case 3:
                result = ZEMKIVTransferFile(handle, url.c_str(), kSession, blob.name.c_str(),
                                            path.c_str(), 0);
                break;
            default:
                result = ZEMKIVTransferFileW(handle, url.c_str(), kSession, Wide(blob.name).c_str(),
                                             Wide(path).c_str(), 0);
        }
        const bool exists = FileExists(stored);
        const std::string content = exists ? ReadFileBytes(stored) : "";
        const bool nameRight = variant != 2 || result != 1 || blob.name == name;
        const bool nothingLeft = variant == 2 ? fs::is_empty(path) : !exists;
        Judge(names[variant], blob.name, result == 1 && content == blob.content && nameRight,
              result == 0 && nothingLeft, window.Landed(),
              "result " + std::to_string(result) + ", " +
                  (exists ? std::to_string(content.size()) + " bytes stored" : "no file"));
        fs::remove_all(path);
    }

    // Judged by the file the service stored: it commits the file before it answers, so a
    // reported success is on its disk.
    void UploadOne() {
        const Blob* blob = &AnyBlob();
        while (blob->content.size() > kLargestUpload) blob = &AnyBlob();
        const std::string path = NextPath(), file = fs::path(path).filename().string();
        WriteFileBytes(path, blob->content);
        const PostFields fields{
            {"act", "upload"}, {"session_id", uploadSession_}, {"x", "kivStuff"}};
        const TransferHandle handle = ChooseHandle();
        const std::string& url = world_.serviceUrl;
        const int variant = Below(4);
        const char* const names[] = {"ZEMUrlTransferFile up", "ZEMUrlTransferFileW up",
                                     "ZEMKIVTransferFile up", "ZEMKIVTransferFileW up"};
        const char* session = uploadSession_.c_str();
        const CancelWindow window(*this, handle);
        std::int32_t result = -1;
        switch (variant) {
            case 0:
                result = ZEMUrlTransferFile(handle, url.c_str(), &fields, path.c_str(), 1);
                break;
            case 1:
                result = ZEMUrlTransferFileW(handle, url.c_str(), &fields, Wide(path).c_str(), 1);
                break;
            case 2:
                result = ZEMKIVTransferFile(handle, url.c_str(), session, nullptr, path.c_str(), 1);
                break;
            default:
                result = ZEMKIVTransferFileW(handle, url.c_str(), session, nullptr,
                                             Wide(path).c_str(), 1);
        }
        const std::string stored = world_.root.File(uploadSession_ + "/" + file);
        const bool exists = FileExists(stored);
        const std::string content = exists ? ReadFileBytes(stored) : "";
        Judge(names[variant], blob->name, result == 1 && content == blob->content, result == 0,
              window.Landed(),
              "result " + std::to_string(result) + ", " +
                  (exists ? std::to_string(content.size()) + " bytes stored" : "nothing stored"));
        fs::remove(stored);
        fs::remove(path);
    }

    void CycleHandle() {
        slot().handle = nullptr;  // others may still cancel the old value: it is not found
        ZEMTransferEnd(public_);
        public_ = Chance(50) ? ZEMTransferBegin() : ZEMTransferBeginV2("someone", "secret");
        if (public_ == nullptr) tally_.Inconsistent("ZEMTransferBegin gave no handle");
        slot().handle = public_;
    }

    void CancelAnother() {
        Slot& other = slots_[Below(static_cast<int>(slots_.size()))];
        if (&other == &slot()) return;
        ++other.cancelsBegun;
        CancelTransferFile(other.handle.load());
        ++other.cancelsEnded;
    }

    void PollCpu() {
        std::int32_t process = -1;
        const std::int32_t machine = GetCPUUsage(&process);
        // The process's share comes from its own finer times and the machine's from the kernel's
        // ticks, so on a machine the soak keeps busy it can pass 100 a little.
        if (machine < 0 || machine > 100 || process < 0 || process > 115) {
            tally_.Inconsistent("GetCPUUsage gave " + std::to_string(machine) + " and " +
                                std::to_string(process));
        }
    }

    // A call either did all it was asked, or, when a cancel landed, ended as a cancel may end it.
    void Judge(const char* call, const std::string& blob, bool whole, bool cut, bool cancelled,
               const std::string& detail) {
        if (whole) return;
        if (cancelled && cut) {
            ++tally_.interrupted;
            return;
        }
        tally_.Inconsistent("worker " + std::to_string(index_) + ", " + call + " of " + blob +
                            ": " + detail + (cancelled ? "" : " with no cancel issued"));
    }

    Slot& slot() const { return slots_[index_]; }
    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }
    bool Chance(int percent) { return Below(100) < percent; }
    const Blob& AnyBlob() { return world_.blobs[Below(static_cast<int>(world_.blobs.size()))]; }
    // The public handle, which others cancel, or the private one, which nobody does.
    TransferHandle ChooseHandle() { return Chance(60) ? public_ : private_; }
    std::string NextPath() {
        return folder_.File("w" + std::to_string(index_) + "-" + std::to_string(++sequence_));
    }

    const int index_;
    std::mt19937 random_;
    const World& world_;
    std::vector<Slot>& slots_;
    Tally& tally_;
    const std::string uploadSession_;
    TempDir folder_;
    TransferHandle public_ = ZEMTransferBegin();
    TransferHandle private_ = ZEMTransferBeginV2("soak-user", "soak-password");
    std::uint64_t sequence_ = 0;
};

// Resident memory with the allocator's free pages handed back, so that only memory in use counts.
long UsedResidentKb() {
    malloc_trim(0);
    return ResidentMemoryKb();
}

}  // namespace

int main() {
    const long seconds = EnvNumber("ZEMUSER_SOAK_SECONDS", kDefaultSeconds);
    const int threads = static_cast<int>(EnvNumber("ZEMUSER_SOAK_THREADS", 16));
    const auto seed = static_cast<unsigned>(
        EnvNumber("ZEMUSER_SOAK_SEED", Clock::now().time_since_epoch().count() % 1000000007));
    std::printf("soak: %d threads for %ld s, seed %u\n", threads, seconds, seed);
    std::fflush(stdout);

    // Whatever happens, a run that has not ended by then has hung.
    std::thread([seconds] {
        std::this_thread::sleep_for(std::chrono::seconds(seconds) + kStopGrace);
        std::printf("soak FAILED: a worker hung\n");
        std::fflush(stdout);
        std::_Exit(3);
    }).detach();

    TempDir scratch;
    // The user's settings are not touched; a silent server cannot hold a worker for a minute.
    setenv("ZEMUSER_SETTINGS_DIR", scratch.File("settings").c_str(), 0);
    setenv("ZEMUSER_RECEIVE_TIMEOUT_MS", "20000", 0);
    const World world;
    ZEMUser_SetTraceFile(scratch.File("trace.txt").c_str());
    Tally tally;
    std::vector<Slot> slots(static_cast<std::size_t>(threads));
    std::vector<std::unique_ptr<Worker>> workers;
    for (int i = 0; i < threads; ++i) {
        workers.push_back(std::make_unique<Worker>(i, seed, world, slots, tally));
    }
    // One of each family first, so that what the library sets up once is in place.
    for (int family = 0; family < kFamilies; ++family) workers[0]->Run(static_cast<Family>(family));
    const int descriptorsAtStart = CountOpenDescriptors();

    // Workers hold `inFlight` shared for one operation each; the main thread takes it whole to
    // read the memory while nothing is in flight, and holds `pauseLine` meanwhile so that no
    // worker starts another.
    std::shared_mutex inFlight;
    std::mutex pauseLine;
    std::atomic<bool> pausing{false}, stop{false};
    const auto readMemory = [&] {
        std::lock_guard<std::mutex> line(pauseLine);
        pausing = true;
        std::lock_guard<std::shared_mutex> all(inFlight);
        pausing = false;
        return UsedResidentKb();
    };
    std::vector<std::thread> running;
    for (auto& worker : workers) {
        running.emplace_back([&, w = worker.get()] {
            while (!stop) {
                if (pausing) std::lock_guard<std::mutex> wait(pauseLine);
                std::shared_lock<std::shared_mutex> operation(inFlight);
                w->RunOne();
            }
        });
    }
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(std::min(30L, std::max(5L, seconds / 4))));
    const long memoryAtWarmUp = readMemory();
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    const long memoryAtEnd = readMemory();
    stop = true;
    for (auto& thread : running) thread.join();
    workers.clear();                                      // ends every handle
    const int descriptorsAtEnd = CountOpenDescriptors();  // the trace file is open in both
    ZEMUser_SetTraceFile(nullptr);

    std::size_t total = 0;
    for (int family = 0; family < kFamilies; ++family) {
        std::printf("  %-10s %8zu\n", kFamilyNames[family], tally.operations[family].load());
        total += tally.operations[family];
    }
    std::printf("  %zu operations, %zu ended early by a cancel, %zu inconsistent\n", total,
                tally.interrupted.load(), tally.inconsistent.load());
    for (const std::string& what : tally.first) std::printf("    %s\n", what.c_str());
    std::printf("  resident memory: %ld KB after the warm-up, %ld KB at the end%s\n",
                memoryAtWarmUp, memoryAtEnd, kMemoryIsMeaningful ? "" : " (not judged)");
    std::printf("  open descriptors: %d at the start, %d at the end\n", descriptorsAtStart,
                descriptorsAtEnd);
    const bool passed =
        tally.inconsistent == 0 && descriptorsAtEnd == descriptorsAtStart &&
        (!kMemoryIsMeaningful || memoryAtEnd - memoryAtWarmUp < kMemoryGrowthLimitKb);
    std::printf("soak %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
