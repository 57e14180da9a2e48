#include "soak_tally.h"

namespace soak {
namespace {

constexpr std::size_t kKeptDescriptions = 20;

}  // namespace

const char* FamilyName(Family family) {
    switch (family) {
        case Family::Fetch:
            return "fetch (ZEMUrlGet, 2, 3)";
        case Family::Post:
            return "post (ZEMUrlPost, 3)";
        case Family::UrlDownload:
            return "URL download";
        case Family::UrlUpload:
            return "URL upload";
        case Family::ConferenceDownload:
            return "conference download";
        case Family::ConferenceUpload:
            return "conference upload";
        case Family::Handles:
            return "handle end and begin";
        case Family::Cancel:
            return "CancelTransferFile";
        case Family::Diagnostics:
            return "GetCPUUsage";
    }
    return "?";
}

void Tally::Inconsistent(const std::string& what) {
    ++inconsistencies_;
    std::lock_guard<std::mutex> lock(mutex_);
    if (first_.size() < kKeptDescriptions) first_.push_back(what);
}

std::size_t Tally::TotalOperations() const {
    std::size_t total = 0;
    for (const auto& count : operations_) total += count.load();
    return total;
}

std::vector<std::string> Tally::FirstInconsistencies() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return first_;
}

}  // namespace soak
