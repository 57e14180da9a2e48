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
#include <list>
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
// Sizes around the library's 1024-byte pieces and its 512 KB receive window.
constexpr std::size_t kBlobSizes[] = {1, 1023, 1024, 1025, 65536, 200000, 1048576};
constexpr std::size_t kLargestUpload = 200000;  // uploaded often without filling the disk
constexpr const char* kSession = "soak";        // the file service's session of the blobs

long EnvNumber(const char* name, long fallback) {
    const long value = std::getenv(name) != nullptr ? std::atol(std::getenv(name)) : 0;
    return value > 0 ? value : fallback;
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
        secureUrl =
            "https://127.0.0.1:" + std::to_string(nginx.httpsPort(CertificateKind::Good)) + "/";
        fs::create_directory(root.File(kSession));
        unsigned seed = 1;
        for (std::size_t size : kBlobSizes) {
            blobs.push_back({"blob-" + std::to_string(size) + ".bin", PatternText(size, seed++)});
            nginx.AddFile(blobs.back().name, blobs.back().content);
            WriteFileBytes(root.File(std::string(kSession) + "/" + blobs.back().name),
                           blobs.back().content);
        }
    }

    NginxServer nginx;
    TempDir root, logs;
    const std::string log = logs.File("file-service.log");
    ChildProcess service;
    const std::string plainUrl = nginx.url("/");
    std::string serviceUrl, secureUrl;
    std::vector<Blob> blobs;
};

// A worker's public handle, where the others find it to cancel, and its cancels begun and ended.
struct Slot {
    std::atomic<TransferHandle> handle{nullptr};
    std::atomic<std::uint64_t> cancelsBegun{0}, cancelsEnded{0};
};

// What the workers share: the servers, the public handles and the tally.
struct Shared {
    World world;
    std::vector<Slot> slots;
    std::atomic<std::size_t> operations{0}, interrupted{0}, inconsistent{0};
    void Inconsistent(const std::string& what) {  // the first few are described
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

    // One operation of each family (`all`), or of one chosen by its weight (in hundredths):
    // fetch, post, download, upload, a new public handle, a cancel of another's.
    void Run(bool all = false) {
        static constexpr int kWeights[] = {24, 12, 24, 18, 6, 16};
        int pick = Below(100);
        for (int family = 0; family < 6; pick -= kWeights[family++]) {
            if (!all && pick >= kWeights[family]) continue;
            ++shared_.operations;
            if (family < 2) InMemory(family == 1);
            if (family == 2 || family == 3) FileTransfer(family == 3);
            if (family == 4) CycleHandle();
            if (family == 5) CancelAnother();
            if (!all) return;
        }
    }

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

    // A static file from nginx (over HTTP or HTTPS), or the service's answer to a post asking
    // for it, into the host's buffer or one the library hands out. A cancel ends it with -1 or a
    // prefix of the reply.
    void InMemory(bool post) {
        const Blob& blob = AnyBlob();
        const std::string url =
            post ? shared_.world.serviceUrl
                 : (Chance(80) ? shared_.world.plainUrl : shared_.world.secureUrl) + blob.name;
        const PostFields fields{
            {"act", "fetch"}, {"session_id", kSession}, {"filename", blob.name}};
        const TransferHandle handle = Chance(50) ? public_ : nullptr;  // null: a session of its own
        const auto size = static_cast<std::int32_t>(blob.content.size());
        std::string buffer(blob.content.size() + 1, '#');
        std::int32_t status = -1, length = -7;
        char* handed = nullptr;
        const bool hands = Chance(50);
        const auto landed = CancelWindow(handle);
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
        Judge(std::string(post ? "ZEMUrlPost" : "ZEMUrlGet") + (hands ? "3 " : " ") + blob.name,
              sound && prefix && result == size && status == 200, sound && prefix, landed(),
              result);
        ZEMReleaseBuffer(handed);
    }

    // A file from the service (into a file, or into a folder under the name it announces) or to
    // it, where an upload is judged by the file the service stored (it commits the file before it
    // answers). A cancel may end a call with 0 and no file left.
    void FileTransfer(bool up) {
        const Blob* blob = &AnyBlob();
        while (up && blob->content.size() > kLargestUpload) blob = &AnyBlob();
        const std::string path = folder_.File(std::to_string(++sequence_));
        if (up) WriteFileBytes(path, blob->content);
        const PostFields fields =
            up ? PostFields{{"act", "upload"}, {"session_id", uploadSession_}, {"x", "kivStuff"}}
               : PostFields{{"act", "fetch"}, {"session_id", kSession}, {"filename", blob->name}};
        const TransferHandle handle = Chance(60) ? public_ : private_;  // nobody cancels private_
        const int kind = Below(up ? 2 : 3);  // a URL transfer, a conference one, into a folder
        if (kind == 2) fs::create_directory(path);
        const char* url = shared_.world.serviceUrl.c_str();
        char name[64] = "#";
        const auto landed = CancelWindow(handle);
        const std::int32_t result =
            kind == 0   ? ZEMUrlTransferFile(handle, url, &fields, path.c_str(), up)
            : kind == 1 ? ZEMKIVTransferFile(handle, url, up ? uploadSession_.c_str() : kSession,
                                             up ? nullptr : blob->name.c_str(), path.c_str(), up)
                        : ZEMNormalDownloadFile(handle, url, &fields, path.c_str(), name, 64);
        const std::string stored =
            up ? shared_.world.root.File(uploadSession_ + "/" + std::to_string(sequence_))
               : path + (kind == 2 ? "/" + blob->name : "");
        const std::string content = FileExists(stored) ? ReadFileBytes(stored) : "";
        const bool nameRight = kind != 2 || result != 1 || blob->name == name;
        const bool nothingLeft = up || (kind == 2 ? fs::is_empty(path) : !FileExists(path));
        static constexpr const char* kNames[] = {"ZEMUrlTransferFile", "ZEMKIVTransferFile",
                                                 "ZEMNormalDownloadFile"};
        Judge(std::string(kNames[kind]) + (up ? " up " : " down ") + blob->name,
              result == 1 && content == blob->content && nameRight, result == 0 && nothingLeft,
              landed(), result);
        fs::remove_all(path);
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

    // A call either did all it was asked, or, when a cancel landed, ended as a cancel may end it.
    void Judge(const std::string& call, bool whole, bool cut, bool cancelled, std::int32_t result) {
        if (whole) return;
        if (cancelled && cut) {
            ++shared_.interrupted;
        } else {
            shared_.Inconsistent("worker " + std::to_string(index_) + ", " + call + ": result " +
                                 std::to_string(result) + (cancelled ? "" : ", no cancel issued"));
        }
    }

    Slot& slot() const { return shared_.slots[index_]; }
    int Below(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }
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
    const auto seed = static_cast<unsigned>(
        EnvNumber("ZEMUSER_SOAK_SEED", Clock::now().time_since_epoch().count() % 1000000007));
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
    workers.front().Run(true);  // what the library sets up once is in place before the count
    const int descriptorsAtStart = CountOpenDescriptors();

    std::atomic<bool> stop{false};
    std::vector<std::thread> running;
    for (Worker& worker : workers) {
        running.emplace_back([&] {
            while (!stop) worker.Run();
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
        "  %zu operations, %zu ended early by a cancel, %zu inconsistent; %d descriptors "
        "open at the start, %d at the end\nsoak %s\n",
        shared.operations.load(), shared.interrupted.load(), shared.inconsistent.load(),
        descriptorsAtStart, descriptorsAtEnd, passed ? "passed" : "FAILED");
    return passed ? 0 : 1;
}
