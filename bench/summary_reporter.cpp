#include "summary_reporter.h"

#include <curl/curl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace bench {
namespace {

constexpr double kMegabyte = 1024.0 * 1024.0;

std::string Format(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}

// The value at `fraction` of the way through the sorted values, between neighbours.
double Quantile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double at = fraction * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(at);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (values[above] - values[below]) * (at - static_cast<double>(below));
}

double Median(const std::vector<double>& values) {
    return Quantile(values, 0.5);
}

// The median and, in brackets, the middle half of the rounds: how far the rounds spread.
std::string MedianText(const std::vector<double>& values) {
    return Format("%.2f", Median(values)) + Format(" (%.2f", Quantile(values, 0.25)) +
           Format("-%.2f)", Quantile(values, 0.75));
}

const char* Verdict(bool met) {
    return met ? "met" : "**missed**";
}

std::string FirstLineStartingWith(const std::string& path, const std::string& key) {
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        if (line.compare(0, key.size(), key) == 0) {
            const auto colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string LoadAverage() {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// Each row: what was done, the library's figure, the reference's figure, the ratios, the
// target and whether it was met.
void Row(const std::string& work, const std::string& library, const std::string& reference,
         const std::string& ratio, const std::string& cpuRatio, const std::string& target,
         const std::string& verdict) {
    std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", work.c_str(), library.c_str(),
                reference.c_str(), ratio.c_str(), cpuRatio.c_str(), target.c_str(),
                verdict.c_str());
}

}  // namespace

SummaryReporter::SummaryReporter(std::vector<BenchCase> cases, std::map<std::string, long> peaksKb)
    // Colours only on a terminal: the output is usually kept in a file.
    : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular),
      cases_(std::move(cases)),
      peaksKb_(std::move(peaksKb)),
      loadAtStart_(LoadAverage()) {}

void SummaryReporter::ReportRuns(const std::vector<Run>& runs) {
    for (const Run& run : runs) {
        // "round<N>/<case>"
        const std::string& fullName = run.run_name.function_name;
        const std::size_t slash = fullName.find('/');
        if (fullName.rfind("round", 0) != 0 || slash == std::string::npos) continue;
        const int round = std::atoi(fullName.c_str() + 5);
        const std::string name = fullName.substr(slash + 1);
        if (run.error_occurred) {
            failures_[name] = run.error_message;
        } else if (run.run_type == Run::RT_Iteration) {
            const double unit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            rounds_[round][name] =
                Sample{run.GetAdjustedRealTime() / unit, run.GetAdjustedCPUTime() / unit};
        }
    }
    ConsoleReporter::ReportRuns(runs);
}

bool SummaryReporter::Has(const std::string& name) const {
    if (failures_.count(name) != 0) return false;
    for (const auto& [number, round] : rounds_) {
        if (round.count(name) != 0) return true;
    }
    return false;
}

std::vector<double> SummaryReporter::RoundValues(
    const std::vector<std::string>& names,
    const std::function<double(const Round&)>& measure) const {
    std::vector<double> values;
    for (const auto& [number, round] : rounds_) {
        const bool complete = std::all_of(names.begin(), names.end(), [&](const std::string& name) {
            return round.count(name) != 0;
        });
        if (complete) values.push_back(measure(round));
    }
    return values;
}

double SummaryReporter::RoundMedian(const std::vector<std::string>& names,
                                    const std::function<double(const Round&)>& measure) const {
    return Median(RoundValues(names, measure));
}

double SummaryReporter::Seconds(const std::string& name) const {
    return RoundMedian({name}, [&](const Round& round) { return round.at(name).seconds; });
}

std::vector<double> SummaryReporter::Ratios(const std::string& reference,
                                            const std::string& subject, bool cpu) const {
    return RoundValues({reference, subject}, [&](const Round& round) {
        const Sample& ours = round.at(subject);
        const Sample& theirs = round.at(reference);
        return cpu ? theirs.cpuSeconds / ours.cpuSeconds : theirs.seconds / ours.seconds;
    });
}

double SummaryReporter::Ratio(const std::string& reference, const std::string& subject,
                              bool cpu) const {
    return Median(Ratios(reference, subject, cpu));
}

std::string SummaryReporter::CpuRatioText(const std::string& reference,
                                          const std::string& subject) const {
    // Work done in a child process does not show in this process's processor time.
    if (Find(reference)->workInChild || Find(subject)->workInChild) return "";
    return Format("%.2f", Ratio(reference, subject, true));
}

const BenchCase* SummaryReporter::Find(const std::string& name) const {
    for (const BenchCase& benchCase : cases_) {
        if (benchCase.name == name) return &benchCase;
    }
    return nullptr;
}

double SummaryReporter::Rate(const std::string& name) const {
    const BenchCase* benchCase = Find(name);
    const double seconds = Seconds(name);
    if (benchCase->requests > 0) return benchCase->requests / seconds;
    return benchCase->bytes / kMegabyte / seconds;
}

std::string SummaryReporter::RateText(const std::string& name) const {
    if (!Has(name)) return "n/a";
    return Format(Find(name)->requests > 0 ? "%.0f req/s" : "%.0f MB/s", Rate(name));
}

void SummaryReporter::Finalize() {
    ConsoleReporter::Finalize();
    std::printf("\n");
    PrintMachine();
    PrintThroughput();
    PrintMemory();
    PrintFailures();
}

void SummaryReporter::PrintMachine() const {
    utsname system{};
    uname(&system);
    std::printf(
        "%zu rounds, each case once per round in a random order; rates are medians over the "
        "rounds, ratios the medians of the ratios within each round, with the middle half of "
        "the rounds in brackets. Loopback nginx (one "
        "worker per core) on the same machine.\n",
        rounds_.size());
    std::printf("Machine: %s, %u cores, Linux %s; load average %s at the start, %s at the end.\n",
                FirstLineStartingWith("/proc/cpuinfo", "model name").c_str(),
                std::thread::hardware_concurrency(), system.release, loadAtStart_.c_str(),
                LoadAverage().c_str());
    std::printf(
        "MB = 2^20 bytes. Reference: libcurl %s, a fresh easy handle and HTTP/1.0 per "
        "transfer unless a row says otherwise. Ratios above 1 favour the library; "
        "the CPU ratio compares the processor time of the client process (all its threads, "
        "not the server's), which a busy machine disturbs less than the wall time.\n\n",
        curl_version_info(CURLVERSION_NOW)->version);
}

void SummaryReporter::PrintThroughput() const {
    std::printf("| Work | zemuser | reference | ratio | CPU ratio | target | |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    const auto compare = [this](const std::string& work, const std::string& subject,
                                const std::string& subjectLabel, const std::string& reference,
                                const std::string& referenceLabel, double minimum) {
        if (!Has(subject) || !Has(reference)) return;
        const double ratio = Ratio(reference, subject, false);
        Row(work, subjectLabel + ": " + RateText(subject),
            referenceLabel + ": " + RateText(reference),
            MedianText(Ratios(reference, subject, false)), CpuRatioText(reference, subject),
            minimum > 0 ? Format("≥ %.1f", minimum) : "",
            minimum > 0 ? Verdict(ratio >= minimum) : "");
    };
    compare("1 KB GET, 2000 in a row", "fetch_1k/library_get2", "`ZEMUrlGet2`, null handle",
            "fetch_1k/libcurl", "libcurl", 0.9);
    compare("1 KB GET, 2000 in a row, while the host holds a handle",
            "fetch_1k/library_get2_handle_held", "`ZEMUrlGet2`, null handle", "fetch_1k/libcurl",
            "libcurl", 1.1);
    compare("1 KB GET, 2000 in a row, against libcurl keeping its connection too (for reference)",
            "fetch_1k/library_get2", "`ZEMUrlGet2`, null handle", "fetch_1k/libcurl_kept_handle",
            "libcurl, one easy handle for all", 0);
    compare("the same while the host holds a handle (for reference)",
            "fetch_1k/library_get2_handle_held", "`ZEMUrlGet2`, null handle",
            "fetch_1k/libcurl_kept_handle", "libcurl, one easy handle for all", 0);
    compare("1 KB GET, 2000 from 4 threads", "fetch_1k_4threads/library_get2",
            "`ZEMUrlGet2`, null handle", "fetch_1k_4threads/libcurl", "libcurl", 0.9);
    if (Has("fetch_1k/library_get2") && Has("fetch_1k_4threads/library_get2") &&
        Has("fetch_1k/libcurl") && Has("fetch_1k_4threads/libcurl")) {
        // Same number of requests: the speed-up is the time of one thread over four.
        const std::vector<double> library =
            Ratios("fetch_1k/library_get2", "fetch_1k_4threads/library_get2", false);
        const std::vector<double> reference =
            Ratios("fetch_1k/libcurl", "fetch_1k_4threads/libcurl", false);
        Row("1 KB GET: 4 threads / 1 thread", MedianText(library),
            "libcurl: " + MedianText(reference), "", "", "zemuser ≥ 1.3",
            Verdict(Median(library) >= 1.3));
    }
    compare("64 MB GET into memory", "fetch_64m/library_get2",
            "`ZEMUrlGet2` into the host's buffer", "fetch_64m/libcurl_realloc",
            "libcurl into a realloc'd block", 1.0);
    compare("64 MB GET into memory", "fetch_64m/library_get3", "`ZEMUrlGet3`",
            "fetch_64m/libcurl_string", "libcurl into a std::string", 0.8);
    compare("64 MB file upload (multipart)", "upload_64m/library_transfer_file",
            "`ZEMUrlTransferFile` direction 1", "upload_64m/libcurl_heap_block",
            "libcurl, body in one heap block", 0.8);
    compare("64 MB file upload (multipart)", "upload_64m/library_transfer_file",
            "`ZEMUrlTransferFile` direction 1", "upload_64m/libcurl_mime_from_disk",
            "libcurl `curl_mime` from disk (for reference)", 0);
    for (const std::string work : {"download_256m", "download_1g"}) {
        const std::string size = work == "download_256m" ? "256 MB" : "1 GB";
        compare(size + " download to a file", work + "/library_transfer_file",
                "`ZEMUrlTransferFile` direction 0", work + "/curl_o", "`curl -o`", 0);
        PrintDownloadFloor(work, size);
    }
    std::printf("\n");
}

// The download's time against the network time plus the time of the 1024-byte writes.
void SummaryReporter::PrintDownloadFloor(const std::string& work, const std::string& size) const {
    const std::string library = work + "/library_transfer_file";
    const std::string network = work + "/libcurl_network_only";
    const std::string floor = work + "/write_floor_1024";
    if (!Has(library) || !Has(network) || !Has(floor)) return;
    const double bound = Seconds(network) + Seconds(floor);
    const auto againstFloor = [&](bool cpu) {
        return RoundValues({library, network, floor}, [&](const Round& round) {
            const auto time = [&](const std::string& name) {
                return cpu ? round.at(name).cpuSeconds : round.at(name).seconds;
            };
            return time(library) / (time(network) + time(floor));
        });
    };
    const std::vector<double> ratios = againstFloor(false);
    const double ratio = Median(ratios);
    const double cpuRatio = Median(againstFloor(true));
    Row(size + " download: time against its floor", Format("%.2f s", Seconds(library)),
        Format("network %.2f s", Seconds(network)) +
            Format(" + 1024-byte writes %.2f s", Seconds(floor)) + Format(" = %.2f s", bound),
        MedianText(ratios), Format("%.2f", cpuRatio), "≤ 1.2", Verdict(ratio <= 1.2));
}

void SummaryReporter::PrintMemory() const {
    if (peaksKb_.empty()) return;
    const auto idle = peaksKb_.find("fetch_1k/library_get2");
    const long idleKb = idle == peaksKb_.end() ? 0 : idle->second;
    std::printf(
        "Peak resident memory, each case run once in a process of its own (VmHWM; for "
        "`curl -o` that of the curl process). A process that made the 2000 small "
        "fetches peaks at %.1f MB.\n\n",
        idleKb / 1024.0);
    std::printf("| Case | peak resident | body | target | |\n|---|---|---|---|---|\n");
    for (const BenchCase& benchCase : cases_) {
        const auto peak = peaksKb_.find(benchCase.name);
        if (peak == peaksKb_.end() || benchCase.bytes == 0) continue;
        const double peakMb = peak->second / 1024.0;
        const double aboveIdleMb = (peak->second - idleKb) / 1024.0;
        const double bodyMb = benchCase.bytes / kMegabyte;
        std::string target, verdict;
        const bool library = benchCase.name.find("/library_") != std::string::npos;
        if (library && benchCase.name.rfind("fetch_", 0) == 0) {
            target = "body + at most one copy";
            verdict = Verdict(aboveIdleMb <= 2 * bodyMb + 1);
        } else if (library && benchCase.name.rfind("upload_", 0) == 0) {
            target = "about the body, no second copy";
            verdict = Verdict(aboveIdleMb < 1.5 * bodyMb);
        } else if (library && benchCase.name.rfind("download_", 0) == 0) {
            target = "< 16 MB";
            verdict = Verdict(peakMb < 16);
        }
        std::printf("| `%s` | %.1f MB | %.0f MB | %s | %s |\n", benchCase.name.c_str(), peakMb,
                    bodyMb, target.c_str(), verdict.c_str());
    }
    std::printf("\n");
}

void SummaryReporter::PrintFailures() const {
    for (const auto& [name, message] : failures_) {
        std::printf("FAILED: %s: %s\n", name.c_str(), message.c_str());
    }
}

std::map<std::string, long> ReadPeaks(const std::string& path) {
    std::map<std::string, long> peaks;
    std::ifstream file(path);
    std::string name;
    long kb = 0;
    while (file >> name >> kb) peaks[name] = kb;
    return peaks;
}

}  // namespace bench
