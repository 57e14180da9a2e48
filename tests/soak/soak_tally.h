// What a soak run counts: operations per family, cancels, and every result that did not match
// its request (the first few described in full).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace soak {

enum class Family {
    Fetch,
    Post,
    UrlDownload,
    UrlUpload,
    ConferenceDownload,
    ConferenceUpload,
    Handles,
    Cancel,
    Diagnostics
};
constexpr std::size_t kFamilies = 9;
const char* FamilyName(Family family);

class Tally {
  public:
    void Count(Family family) { ++operations_[static_cast<std::size_t>(family)]; }
    // A call that ended short or failed although nothing could have interrupted it would be
    // counted as an inconsistency; this counts the ones that were allowed to (a cancel).
    void CountInterrupted() { ++interrupted_; }
    void Inconsistent(const std::string& what);

    std::size_t Operations(Family family) const {
        return operations_[static_cast<std::size_t>(family)].load();
    }
    std::size_t TotalOperations() const;
    std::size_t Interrupted() const { return interrupted_.load(); }
    std::size_t Inconsistencies() const { return inconsistencies_.load(); }
    std::vector<std::string> FirstInconsistencies() const;

  private:
    std::array<std::atomic<std::size_t>, kFamilies> operations_{};
    std::atomic<std::size_t> interrupted_{0};
    std::atomic<std::size_t> inconsistencies_{0};
    mutable std::mutex mutex_;
    std::vector<std::string> first_;
};

}  // namespace soak
