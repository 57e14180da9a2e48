#include "download_progress.h"

#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::milliseconds kPollPeriod(200);
// File times come from a coarse clock, so a file created just after the start may look a
// little older than it.
constexpr std::chrono::seconds kFileClockSlack(1);

}  // namespace

std::string HumanSize(double bytes) {
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    std::size_t unit = 0;
    while (bytes >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
        bytes /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
    return text;
}

DownloadProgress::DownloadProgress(fs::path target, bool intoFolder)
    : target_(std::move(target)),
      intoFolder_(intoFolder),
      startedFile_(fs::file_time_type::clock::now() - kFileClockSlack),
      started_(std::chrono::steady_clock::now()),
      thread_([this] { Watch(); }) {}

DownloadProgress::~DownloadProgress() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (drawn_) std::fputs("\r\033[K", stderr);
}

std::uintmax_t DownloadProgress::CurrentSize() const {
    std::error_code error;
    if (!intoFolder_) {
        std::uintmax_t size = fs::file_size(target_, error);
        return error ? 0 : size;
    }
    // The newest regular file written since the download began.
    std::uintmax_t size = 0;
    fs::file_time_type newest = startedFile_;
    for (fs::directory_iterator entry(target_, error), end; !error && entry != end;
         entry.increment(error)) {
        std::error_code entryError;
        if (!entry->is_regular_file(entryError)) continue;
        fs::file_time_type written = entry->last_write_time(entryError);
        if (entryError || written < newest) continue;
        newest = written;
        std::uintmax_t entrySize = entry->file_size(entryError);
        size = entryError ? 0 : entrySize;
    }
    return size;
}

void DownloadProgress::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, kPollPeriod, [this] { return stopping_; })) {
        double bytes = static_cast<double>(CurrentSize());
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
        std::string line =
            HumanSize(bytes) + " received, " + HumanSize(seconds > 0 ? bytes / seconds : 0) + "/s";
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }
}
