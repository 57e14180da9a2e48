#include "storage_quota.h"

#include <system_error>

namespace fs = std::filesystem;

StorageQuota::StorageQuota(fs::path root, std::size_t maxSessions, std::uint64_t maxBytes)
    : root_(std::move(root)), maxSessions_(maxSessions), maxBytes_(maxBytes) {}

StorageQuota::Reservation::~Reservation() {
    std::lock_guard<std::mutex> lock(quota_.mutex_);
    quota_.reservedBytes_ -= bytes_;
}

std::unique_ptr<StorageQuota::Reservation> StorageQuota::Reserve(std::uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Counted afresh each time: files may be removed or added by hand while the service runs.
    const std::uint64_t used = StoredBytes() + reservedBytes_;
    if (used > maxBytes_ || bytes > maxBytes_ - used) return nullptr;
    reservedBytes_ += bytes;
    return std::make_unique<Reservation>(*this, bytes);
}

StorageQuota::Opening StorageQuota::OpenSession(const std::string& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    const fs::path folder = root_ / session;
    std::error_code error;
    if (fs::is_directory(folder, error)) return Opening::Open;
    if (SessionCount() >= maxSessions_) return Opening::TooMany;
    fs::create_directory(folder, error);
    return fs::is_directory(folder, error) ? Opening::Open : Opening::Failed;
}

// The files in the session folders; files being received are staged in the root itself and
// are held by reservations instead.
std::uint64_t StorageQuota::StoredBytes() const {
    std::uint64_t total = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator entry(root_, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry.depth() > 0 && entry->is_regular_file(error)) {
            const std::uintmax_t size = entry->file_size(error);
            if (!error) total += size;
        }
        error.clear();
    }
    return total;
}

std::size_t StorageQuota::SessionCount() const {
    std::size_t count = 0;
    std::error_code error;
    for (fs::directory_iterator entry(root_, error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_directory(error)) ++count;
    }
    return count;
}
