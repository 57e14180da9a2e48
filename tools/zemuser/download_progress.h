// A progress line for a download on the terminal. The library reports no progress, so a
// thread of its own watches the target file grow.
#pragma once

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

class DownloadProgress {
  public:
    // `target` is the file being written, or, when `intoFolder`, the folder in which the
    // download's file (named by the server, so unknown yet) is the newest one.
    DownloadProgress(std::filesystem::path target, bool intoFolder);
    ~DownloadProgress();  // stops watching and erases the line
    DownloadProgress(const DownloadProgress&) = delete;
    DownloadProgress& operator=(const DownloadProgress&) = delete;

  private:
    void Watch();
    std::uintmax_t CurrentSize() const;

    std::filesystem::path target_;
    bool intoFolder_;
    std::filesystem::file_time_type startedFile_;
    std::chrono::steady_clock::time_point started_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool drawn_ = false;
    std::thread thread_;
};

// "1.5 MiB", "830 B": sizes for people.
std::string HumanSize(double bytes);
