// The soak: worker threads run random transfers of every export family against nginx and the
// reference file service, cancelling each other's handles. A call may end short or fail only
// when a cancel on its handle ran during it; an upload is judged by the file the service stored;
// the open descriptors end at their starting count. ZEMUSER_SOAK_SECONDS (default 60, 20 under
// ThreadSanitizer), ZEMUSER_SOAK_THREADS (16) and ZEMUSER_SOAK_SEED (printed) shape a run.
#include <zemuser.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <regex>
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
constexpr auto kStopGrace = std::chrono::seconds(120);  // past the end, a worker has hung
// Sizes around the library's 1024-byte pieces and its 512 KB receive window.
constexpr std::size_t kBlobSizes[] = {1, 1023, 1024, 1025, 65536, 200000, 1048576};
constexpr std::size_t kLargestUpload = 200000;  // uploaded often without filling the disk
constexpr const char* kSession = "soak";        // the file service's session of the blobs

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

// nginx serving the blobs over HTTP and HTTPS; the file service holding them in its session
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

// A worker's public handle, where the others find it to cancel, and its cancels begun and ended.
struct Slot {
    std::atomic<TransferHandle> handle{nullptr};
    std::atomic<std::uint64_t> cancelsBegun{0}, cancelsEnded{0};
};

struct Tally {
    std::atomic<std::size_t> operations{0}, interrupted{0}, inconsistent{0};
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
          tally_(tally) {
        slot().handle = public_;
    }
    ~Worker() {
        slot().handle = nullptr;
        ZEMTransferEnd(public_);
        ZEMTransferEnd(private_);
    }

    // One operation of each family (`all`), or of one chosen by its weight (in hundredths).
    void Run(bool all = false) {
        static constexpr std::pair<int, void (Worker::*)()> kMix[] = {
            {24, &Worker::Fetch},  {12, &Worker::Post},       {24, &Worker::Download},
            {18, &Worker::Upload}, {6, &Worker::CycleHandle}, {16, &Worker::CancelAnother}};
        int pick = Below(100);
        for (const auto& [weight, family] : kMix) {
            if (all || pick < weight) {
                ++tally_.operations;
                (this->*family)();
                if (!all) return;
            }
            pick -= weight;
        }
    }

  private:
    // A call may have been cancelled only when it ran on the public handle and a cancel on that
    // ran as the call began or began during it. Ended is read first: a cancel that begins
    // between the two reads counts as running.
    struct CancelWindow {
        bool onPublic;
        std::uint64_t ended, begun;
    };
    CancelWindow Open(TransferHandle used) const {
        const std::uint64_t ended = slot().cancelsEnded;
        return {used != nullptr && used == public_, ended, slot().cancelsBegun};
    }
    bool Landed(const CancelWindow& w) const {
        return w.onPublic && (w.begun != w.ended || slot().cancelsBegun != w.begun);
    }

    void Fetch() { InMemory(false); }
    void Post() { InMemory(true); }

    // A static file from nginx, or the service's answer to a post asking for it, into the host's
    // buffer or one the library hands out. A cancel ends it with -1 or a prefix of the reply.
    void InMemory(bool post) {
        const Blob& blob = AnyBlob();
        const std::string url = post ? world_.serviceUrl : world_.StaticUrl(blob, Chance(20));
        const PostFields fields{
            {"act", "fetch"}, {"session_id", kSession}, {"filename", blob.name}};
        const TransferHandle handle = Chance(50) ? public_ : nullptr;  // null: a session of its own
        const auto size = static_cast<std::int32_t>(blob.content.size());
        std::string buffer(blob.content.size() + 1, '#');
        std::int32_t status = -1, length = -7;
        char* handed = nullptr;
        const bool hands = Chance(50);
        const CancelWindow window = Open(handle);
        const std::int32_t result =
            post ? (hands ? ZEMUrlPost3(url.c_str(), &fields, &status, &handed, &length, handle)
                          : ZEMUrlPost(url.c_str(), &fields, &status, &buffer[0], size, handle))
                 : (hands ? ZEMUrlGet3(url.c_str(), &status, &handed, &length, handle)
                          : ZEMUrlGet(url.c_str(), &status, &buffer[0], size, handle));
        const char* bytes = hands ? handed : buffer.data();
        const bool sound = (result < 0 || (bytes != nullptr && bytes[result] == '\0')) &&
                           (!hands || (result == -1 ? handed == nullptr && length == -7
                                                    : handed != nullptr && length == result));
        const bool prefix = result == -1 || (result >= 0 && result <= size && bytes != nullptr &&
                                             std::memcmp(bytes, blob.content.data(), result) == 0);
        Judge(std::string(post ? "ZEMUrlPost" : "ZEMUrlGet") + (hands ? "3" : ""), blob.name,
              sound && prefix && result == size && status == 200, sound && prefix, Landed(window),
              "status " + std::to_string(status), result);
        ZEMReleaseBuffer(handed);
    }

    void Download() { FileTransfer(false); }
    void Upload() { FileTransfer(true); }

    // A file from the service (into a file, or into a folder under the name it announces) or to
    // it, where an upload is judged by the file the service stored (it commits the file before it
    // answers). A cancel may end a call with 0 and no file left.
    void FileTransfer(bool up) {
        const Blob* blob = &AnyBlob();
        while (up && blob->content.size() > kLargestUpload) blob = &AnyBlob();
        const std::string path = NextPath(), sent = fs::path(path).filename().string();
        if (up) WriteFileBytes(path, blob->content);
        const PostFields fields =
            up ? PostFields{{"act", "upload"}, {"session_id", uploadSession_}, {"x", "kivStuff"}}
               : PostFields{{"act", "fetch"}, {"session_id", kSession}, {"filename", blob->name}};
        const TransferHandle handle = Chance(60) ? public_ : private_;  // nobody cancels private_
        const int kind = Below(up ? 2 : 3);  // a URL transfer, a conference one, into a folder
        const bool wide = Chance(50);
        if (kind == 2) fs::create_directory(path);
        const char *url = world_.serviceUrl.c_str(),
                   *session = up ? uploadSession_.c_str() : kSession;
        const std::u16string widePath = Wide(path), wideName = Wide(blob->name);
        char name[64] = "#";
        const CancelWindow window = Open(handle);
        const std::int32_t result =
            kind == 2   ? ZEMNormalDownloadFile(handle, url, &fields, path.c_str(), name, 64)
            : kind == 0 ? (wide ? ZEMUrlTransferFileW(handle, url, &fields, widePath.c_str(), up)
                                : ZEMUrlTransferFile(handle, url, &fields, path.c_str(), up))
            : wide      ? ZEMKIVTransferFileW(handle, url, session, up ? nullptr : wideName.c_str(),
                                              widePath.c_str(), up)
                   : ZEMKIVTransferFile(handle, url, session, up ? nullptr : blob->name.c_str(),
                                        path.c_str(), up);
        const std::string stored = up          ? world_.root.File(uploadSession_ + "/" + sent)
                                   : kind == 2 ? path + "/" + blob->name
                                               : path;
        const std::string content = FileExists(stored) ? ReadFileBytes(stored) : "";
        const bool nameRight = kind != 2 || result != 1 || blob->name == name;
        const bool nothingLeft = up || (kind == 2 ? fs::is_empty(path) : !FileExists(path));
        static constexpr const char* kNames[] = {"ZEMUrlTransferFile", "ZEMKIVTransferFile",
                                                 "ZEMNormalDownloadFile"};
        Judge(std::string(kNames[kind]) + (wide && kind != 2 ? "W" : "") + (up ? " up" : " down"),
              blob->name, result == 1 && content == blob->content && nameRight,
              result == 0 && nothingLeft, Landed(window),
              std::to_string(content.size()) + " bytes stored", result);
        fs::remove_all(path);
        if (up) fs::remove(stored);
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

    // A call either did all it was asked, or, when a cancel landed, ended as a cancel may end it.
    void Judge(const std::string& call, const std::string& blob, bool whole, bool cut,
               bool cancelled, const std::string& detail, std::int32_t result) {
        if (whole) return;
        if (cancelled && cut) {
            ++tally_.interrupted;
            return;
        }
        tally_.Inconsistent("worker " + std::to_string(index_) + ", " + call + " of " + blob +
                            ": result " + std::to_string(result) + ", " + detail +
                            (cancelled ? "" : " with no cancel issued"));
    }

    Slot& slot() const { return slots_[index_]; }
    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }
    bool Chance(int percent) { return Below(100) < percent; }
    const Blob& AnyBlob() { return world_.blobs[Below(static_cast<int>(world_.blobs.size()))]; }
    std::string NextPath() {
        return folder_.File("w" + std::to_string(index_) + "-" + std::to_string(++sequence_));
    }

    const int index_;
    std::mt19937 random_;
    const World& world_;
    std::vector<Slot>& slots_;
    Tally& tally_;
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
    const auto seed = static_cast<unsigned>(
        EnvNumber("ZEMUSER_SOAK_SEED", Clock::now().time_since_epoch().count() % 1000000007));
    std::printf("soak: %d threads for %ld s, seed %u\n", threads, seconds, seed);
    std::fflush(stdout);
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
    workers[0]->Run(true);  // what the library sets up once is in place before the count
    const int descriptorsAtStart = CountOpenDescriptors();

    std::atomic<bool> stop{false};
    std::vector<std::thread> running;
    for (auto& worker : workers) {
        running.emplace_back([&, w = worker.get()] {
            while (!stop) w->Run();
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stop = true;
    for (auto& thread : running) thread.join();
    workers.clear();                                      // ends every handle
    const int descriptorsAtEnd = CountOpenDescriptors();  // the trace file is open in both
    ZEMUser_SetTraceFile(nullptr);

    std::printf("  %zu operations, %zu ended early by a cancel, %zu inconsistent\n",
                tally.operations.load(), tally.interrupted.load(), tally.inconsistent.load());
    for (const std::string& what : tally.first) std::printf("    %s\n", what.c_str());
    std::printf("  open descriptors: %d at the start, %d at the end\n", descriptorsAtStart,
                descriptorsAtEnd);
    const bool passed = tally.inconsistent == 0 && descriptorsAtEnd == descriptorsAtStart;
    std::printf("soak %s\n", passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
