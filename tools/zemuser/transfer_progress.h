// A live progress line on the terminal for a transfer that takes more than about a second.
// The library reports no progress, so a thread of its own watches what can be seen from the
// outside: a downloaded file growing, or else the size being sent and the time passing.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// What a transfer's progress line can know.
struct ProgressSource {
    // The file being written, or, when `intoFolder`, the folder in which the download's file
    // (named by the server, so unknown yet) is the newest one. Empty when nothing is written.
    std::filesystem::path receivingInto;
    bool intoFolder = false;
    std::optional<std::uintmax_t> sending;  // the size of what goes out, when that is the news

    static ProgressSource Receiving(std::filesystem::path target, bool intoFolder = false);
    static ProgressSource Sending(std::uintmax_t bytes);
};

class TransferProgress {
  public:
    explicit TransferProgress(ProgressSource source);
    ~TransferProgress();  // stops watching and erases the line
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

  private:
    void Watch();
    std::uintmax_t ReceivedSize() const;

    ProgressSource source_;
    std::filesystem::file_time_type startedFile_;
    std::chrono::steady_clock::time_point started_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    bool drawn_ = false;
    std::thread thread_;
};

// One state of the line: bytes received so far, or else the size being sent, and the time.
struct ProgressSample {
    std::optional<std::uintmax_t> received;
    std::optional<std::uintmax_t> sending;
    std::chrono::seconds elapsed;
};

// "1.5 MiB received, 512.0 KiB/s, 0:03", "sending 300.0 MiB, 1:02:05", "in progress, 0:02".
std::string ProgressLine(const ProgressSample& sample);

// "1.5 MiB", "830 B": sizes for people.
std::string HumanSize(double bytes);
