// Console output as usual, then a summary in Markdown: medians of every case, the ratios of
// the library to the reference doing the same work, the targets, and peak resident memory.
// Runs are named "round<N>/<case>"; a ratio is taken within each round, where both sides ran
// close together in time, and the median of those is quoted.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_cases.h"

namespace bench {

class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    // `peaksKb`: peak resident memory per case name, measured beforehand in separate processes.
    SummaryReporter(std::vector<BenchCase> cases, std::map<std::string, long> peaksKb);

    void ReportRuns(const std::vector<Run>& runs) override;
    void Finalize() override;

  private:
    struct Sample {
        double seconds = 0;
        double cpuSeconds = 0;  // of the whole process, all threads
    };
    using Round = std::map<std::string, Sample>;  // by case name

    const BenchCase* Find(const std::string& name) const;
    bool Has(const std::string& name) const;
    double Seconds(const std::string& name) const;  // median over the rounds
    double Rate(const std::string& name) const;     // requests/s or MB/s, from the median
    std::string RateText(const std::string& name) const;
    // `measure` of every round that has all the named cases, and the median of those.
    std::vector<double> RoundValues(const std::vector<std::string>& names,
                                    const std::function<double(const Round&)>& measure) const;
    double RoundMedian(const std::vector<std::string>& names,
                       const std::function<double(const Round&)>& measure) const;
    // Reference time over library time for the same work, median of the rounds: above 1
    // favours the library. `cpu` compares processor time instead of wall time.
    double Ratio(const std::string& reference, const std::string& subject, bool cpu) const;
    std::vector<double> Ratios(const std::string& reference, const std::string& subject,
                               bool cpu) const;  // one per round
    std::string CpuRatioText(const std::string& reference, const std::string& subject) const;

    void PrintMachine() const;
    void PrintThroughput() const;
    void PrintDownloadFloor(const std::string& work, const std::string& size) const;
    void PrintMemory() const;
    void PrintFailures() const;

    std::vector<BenchCase> cases_;
    std::map<std::string, long> peaksKb_;
    std::map<int, Round> rounds_;
    std::map<std::string, std::string> failures_;
    std::string loadAtStart_;
};

// Reads "<case name> <KB>" lines; a missing file gives an empty map.
std::map<std::string, long> ReadPeaks(const std::string& path);

}  // namespace bench
