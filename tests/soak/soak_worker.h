// One soak thread: random transfers of every family, each result checked against what its
// request must give. Transfers on the worker's public handle may be cancelled by other workers
// at any moment, so they may also end short or fail; transfers on a null or private handle
// cannot be, so they must succeed in full.
#pragma once

#include <zemuser.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "soak_tally.h"
#include "soak_world.h"
#include "support/real_servers.h"

namespace soak {

// The public handles of all workers, where the others find them to cancel.
using HandleSlots = std::vector<std::atomic<TransferHandle>>;

class Worker {
  public:
    Worker(int index, unsigned seed, const SoakWorld& world, HandleSlots& slots, Tally& tally);
    ~Worker();  // ends both handles
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // One operation of a family chosen at random.
    void RunOne();
    // One operation of the given family.
    void Run(Family family);

  private:
    enum class HandleChoice { Public, Private };

    void Fetch();
    void Post();
    void UrlDownload();
    void UrlUpload();
    void ConferenceDownload();
    void ConferenceUpload();
    void CycleHandle();
    void CancelAnother();
    void PollCpu();

    // Checks a reply handed over in memory: the whole blob, or, when `interruptible`, a
    // prefix of it or the failure value.
    void CheckReply(const char* what, const Blob& blob, std::int32_t result, std::int32_t status,
                    const char* bytes, bool interruptible);
    // Checks a download: 1 with the blob in `path`, or, when `interruptible`, 0 with no file.
    void CheckDownload(const char* what, const Blob& blob, std::int32_t result,
                       const std::string& path, bool interruptible);
    // Checks an upload: one that reports 1 can be downloaded again with the same content.
    void CheckUpload(const char* what, const std::string& session, const std::string& name,
                     const std::string& content, std::int32_t result, bool interruptible);

    const Blob& AnyBlob();
    // Blobs small enough to be uploaded often without filling the disk.
    const Blob& SmallBlob();
    bool Chance(int percent);
    HandleChoice ChooseHandle();
    TransferHandle HandleFor(HandleChoice choice) const;
    std::string NextPath(const char* suffix);
    std::string Describe(const char* what, const Blob& blob) const;

    const int index_;
    std::mt19937 random_;
    const SoakWorld& world_;
    HandleSlots& slots_;
    Tally& tally_;
    testing_support::TempDir folder_;
    TransferHandle public_ = nullptr;
    TransferHandle private_ = nullptr;
    std::uint64_t sequence_ = 0;
    std::string uploadSession_;
};

}  // namespace soak
