#include "transfer_progress.h"

#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// Quick transfers leave no trace on the terminal.
constexpr std::chrono::seconds kShowAfter(1);
constexpr std::chrono::milliseconds kRedrawPeriod(200);
// File times come from a coarse clock, so a file created just after the start may look a
// little older than it.
constexpr std::chrono::seconds kFileClockSlack(1);

std::string Elapsed(std::chrono::seconds elapsed) {
    const long long total = elapsed.count() > 0 ? elapsed.count() : 0;
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
    }
    return text;
}

}  // namespace

ProgressSource ProgressSource::Receiving(fs::path target, bool intoFolder) {
    ProgressSource source;
    source.receivingInto = std::move(target);
    source.intoFolder = intoFolder;
    return source;
}

ProgressSource ProgressSource::Sending(std::uintmax_t bytes) {
    ProgressSource source;
    source.sending = bytes;
    return source;
}

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

std::string ProgressLine(const ProgressSample& sample) {
    const std::string elapsed = Elapsed(sample.elapsed);
    if (sample.received) {
        const double bytes = static_cast<double>(*sample.received);
        const double seconds = static_cast<double>(sample.elapsed.count());
        return HumanSize(bytes) + " received, " + HumanSize(seconds > 0 ? bytes / seconds : 0) +
               "/s, " + elapsed;
    }
    if (sample.sending) {
        return "sending " + HumanSize(static_cast<double>(*sample.sending)) + ", " + elapsed;
    }
    return "in progress, " + elapsed;
}

TransferProgress::TransferProgress(ProgressSource source)
    : source_(std::move(source)),
      startedFile_(fs::file_time_type::clock::now() - kFileClockSlack),
      started_(std::chrono::steady_clock::now()),
      thread_([this] { Watch(); }) {}

TransferProgress::~TransferProgress() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    if (drawn_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
    }
}

std::uintmax_t TransferProgress::ReceivedSize() const {
    std::error_code error;
    if (!source_.intoFolder) {
        std::uintmax_t size = fs::file_size(source_.receivingInto, error);
        return error ? 0 : size;
    }
    // The newest regular file written since the download began.
    std::uintmax_t size = 0;
    fs::file_time_type newest = startedFile_;
    for (fs::directory_iterator entry(source_.receivingInto, error), end; !error && entry != end;
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

void TransferProgress::Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (wake_.wait_for(lock, kShowAfter, [this] { return stopping_; })) return;
    std::string shown;
    do {
        ProgressSample sample{std::nullopt, source_.sending,
                              std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::steady_clock::now() - started_)};
        if (!source_.receivingInto.empty()) sample.received = ReceivedSize();
        std::string line = ProgressLine(sample);
        if (line == shown) continue;
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        shown = std::move(line);
        drawn_ = true;
    } while (!wake_.wait_for(lock, kRedrawPeriod, [this] { return stopping_; }));
}
