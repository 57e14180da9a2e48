// One soak thread: random transfers of every family, each result checked against what its
// request must give. Other workers cancel the worker's public handle at random moments; a
// transfer may end short or fail only when such a cancel was issued while it ran. Transfers on
// a null or private handle cannot be cancelled, so they must succeed in full.
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

// A worker's public handle, where the others find it to cancel, and how many cancels on it
// have begun and ended: a call may have been cancelled only when one ran while it did.
struct HandleSlot {
    std::atomic<TransferHandle> handle{nullptr};
    std::atomic<std::uint64_t> cancelsBegun{0};
    std::atomic<std::uint64_t> cancelsEnded{0};
};
using HandleSlots = std::vector<HandleSlot>;

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
    void Fetch();
    void Post();
    void UrlDownload();
    void UrlUpload();
    void ConferenceDownload();
    void ConferenceUpload();
    void CycleHandle();
    void CancelAnother();
    void PollCpu();

    // Checks a reply handed over in memory: the whole blob, or, when `cancelled`, a prefix of
    // it or the failure value.
    void CheckReply(const char* what, const Blob& blob, std::int32_t result, std::int32_t status,
                    const char* bytes, bool cancelled);
    // Checks a download: 1 with the blob in `path`, or, when `cancelled`, 0 with no file.
    void CheckDownload(const char* what, const Blob& blob, std::int32_t result,
                       const std::string& path, bool cancelled);
    // Checks an upload against the file the service stored: 1 with the same bytes there, or,
    // when `cancelled`, 0.
    void CheckUpload(const char* what, const std::string& session, const std::string& name,
                     const std::string& content, std::int32_t result, bool cancelled);

    struct CancelCounts {
        std::uint64_t begun, ended;
    };
    // The cancels on this worker's public handle so far, taken as a call begins.
    CancelCounts CancelsSoFar() const;
    // Whether a call on `used` that began at `before` may have been cancelled: only the public
    // handle is, and only by a cancel that was running as the call began or began during it.
    bool CancelLanded(TransferHandle used, CancelCounts before) const;

    const Blob& AnyBlob();
    // Blobs small enough to be uploaded often without filling the disk.
    const Blob& SmallBlob();
    bool Chance(int percent);
    // The public handle, which others cancel, or the private one, which nobody does.
    TransferHandle ChooseHandle();
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
