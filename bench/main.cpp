// The benchmark program. Modes:
//   zemuser_bench --list-cases          names of the cases, one a line
//   zemuser_bench --peak-memory NAME    run one case once and print its peak resident memory
//   zemuser_bench --once NAME           run one case once, nothing else (for strace)
//   zemuser_bench [benchmark flags]     run every case in ZEMUSER_BENCH_ROUNDS rounds, then
//                                       print the summary tables
// bench/run.sh sets the environment (server URL, data and scratch folders) and drives the first
// three; bench/syscalls.sh the last.
#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <random>
#include <string>

#include "bench_cases.h"
#include "peak_memory.h"
#include "summary_reporter.h"

namespace {

void RegisterCase(const std::string& name, const bench::BenchCase& benchCase) {
    benchmark::RegisterBenchmark(
        name.c_str(),
        [benchCase](benchmark::State& state) {
            bench::CaseRun run = benchCase.prepare();
            for (auto _ : state) {
                if (!run.run()) {
                    state.SkipWithError("the transfer failed");
                    break;
                }
                if (run.afterRun) {
                    state.PauseTiming();
                    run.afterRun();
                    state.ResumeTiming();
                }
            }
            if (benchCase.bytes > 0) state.SetBytesProcessed(state.iterations() * benchCase.bytes);
            if (benchCase.requests > 0) {
                state.counters["requests"] =
                    benchmark::Counter(static_cast<double>(state.iterations() * benchCase.requests),
                                       benchmark::Counter::kIsRate);
            }
        })
        // One run is already a large piece of work; the rounds give the spread.
        ->Iterations(1)
        ->UseRealTime()
        // All threads' processor time: steadier than wall time on a busy machine.
        ->MeasureProcessCPUTime()
        ->Unit(benchmark::kMillisecond);
}

// Each round runs every case once, in an order of its own, so that the cases compared within
// a round ran close together in time and a busy machine disturbs both sides alike.
void RegisterRounds(std::vector<bench::BenchCase> cases, int rounds) {
    std::mt19937 random(std::random_device{}());
    for (int round = 1; round <= rounds; ++round) {
        std::shuffle(cases.begin(), cases.end(), random);
        for (const bench::BenchCase& benchCase : cases) {
            RegisterCase("round" + std::to_string(round) + "/" + benchCase.name, benchCase);
        }
    }
}

int RoundsFromEnvironment() {
    const char* text = std::getenv("ZEMUSER_BENCH_ROUNDS");
    const int rounds = text != nullptr ? std::atoi(text) : 0;
    return rounds > 0 ? rounds : 1;
}

int Run(int argc, char** argv) {
    const std::vector<bench::BenchCase> cases = bench::AllCases(bench::GetConfig());
    if (argc == 2 && std::strcmp(argv[1], "--list-cases") == 0) {
        for (const bench::BenchCase& benchCase : cases) std::printf("%s\n", benchCase.name.c_str());
        return 0;
    }
    const bool peakMemory = argc == 3 && std::strcmp(argv[1], "--peak-memory") == 0;
    if (peakMemory || (argc == 3 && std::strcmp(argv[1], "--once") == 0)) {
        const auto named = std::find_if(cases.begin(), cases.end(), [&](const bench::BenchCase& c) {
            return c.name == argv[2];
        });
        if (named == cases.end()) {
            std::fprintf(stderr, "no case named %s\n", argv[2]);
            return 2;
        }
        if (peakMemory) return bench::RunForPeakMemory(*named);
        return named->prepare().run() ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 2;
    RegisterRounds(cases, RoundsFromEnvironment());
    const char* peaks = std::getenv("ZEMUSER_BENCH_PEAKS");
    bench::SummaryReporter reporter(cases, bench::ReadPeaks(peaks != nullptr ? peaks : ""));
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int result = 2;
    try {
        result = Run(argc, argv);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "zemuser_bench: %s\n", failure.what());
    }
    curl_global_cleanup();
    return result;
}
