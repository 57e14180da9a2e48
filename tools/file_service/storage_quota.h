// Keeps the root within its limits on session folders and on the bytes of stored files, also
// when uploads arrive at the same time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>

class StorageQuota {
  public:
    StorageQuota(std::filesystem::path root, std::size_t maxSessions, std::uint64_t maxBytes);

    // Room held for one upload while it is received and stored; given back on destruction.
    class Reservation {
      public:
        Reservation(StorageQuota& quota, std::uint64_t bytes) : quota_(quota), bytes_(bytes) {}
        ~Reservation();
        Reservation(const Reservation&) = delete;
        Reservation& operator=(const Reservation&) = delete;

      private:
        StorageQuota& quota_;
        std::uint64_t bytes_;
    };

    const std::filesystem::path& root() const { return root_; }
    // Room for `bytes` more, or null when the stored files and the uploads under way would
    // then pass the limit.
    std::unique_ptr<Reservation> Reserve(std::uint64_t bytes);
    enum class Opening { Open, TooMany, Failed };
    // Makes the folder of `session` unless it would be one folder too many.
    Opening OpenSession(const std::string& session);

  private:
    std::uint64_t StoredBytes() const;
    std::size_t SessionCount() const;

    const std::filesystem::path root_;
    const std::size_t maxSessions_;
    const std::uint64_t maxBytes_;
    std::mutex mutex_;
    std::uint64_t reservedBytes_ = 0;
};
